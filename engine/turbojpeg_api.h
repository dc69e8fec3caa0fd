// Our declarations of the TurboJPEG 3 functions and constants the engine uses.
// Debian 12 ships no TurboJPEG 3 header, so they are written out here from the
// interface's documentation; the enumeration values must match the library's.
#pragma once

#include <cstddef>

extern "C" {

typedef void* tjhandle;

// tj3Init
enum : int {
    TJINIT_COMPRESS = 0,
    TJINIT_DECOMPRESS = 1,
    TJINIT_TRANSFORM = 2,
};

// Chrominance subsampling.
enum : int {
    TJSAMP_444 = 0,
    TJSAMP_422 = 1,
    TJSAMP_420 = 2,
    TJSAMP_GRAY = 3,
    TJSAMP_440 = 4,
    TJSAMP_411 = 5,
};

// Pixel formats.
enum : int {
    TJPF_RGB = 0,
    TJPF_BGR = 1,
    TJPF_RGBX = 2,
    TJPF_BGRX = 3,
    TJPF_XBGR = 4,
    TJPF_XRGB = 5,
    TJPF_GRAY = 6,
};

// Parameters for tj3Set and tj3Get.
enum : int {
    TJPARAM_STOPONWARNING = 0,
    TJPARAM_BOTTOMUP = 1,
    TJPARAM_NOREALLOC = 2,
    TJPARAM_QUALITY = 3,
    TJPARAM_SUBSAMP = 4,
    TJPARAM_JPEGWIDTH = 5,
    TJPARAM_JPEGHEIGHT = 6,
    TJPARAM_PRECISION = 7,
    TJPARAM_COLORSPACE = 8,
    TJPARAM_FASTUPSAMPLE = 9,
    TJPARAM_FASTDCT = 10,
    TJPARAM_OPTIMIZE = 11,
    TJPARAM_PROGRESSIVE = 12,
    TJPARAM_SCANLIMIT = 13,
    TJPARAM_ARITHMETIC = 14,
    TJPARAM_LOSSLESS = 15,
    TJPARAM_LOSSLESSPSV = 16,
    TJPARAM_LOSSLESSPT = 17,
    TJPARAM_RESTARTBLOCKS = 18,
    TJPARAM_RESTARTROWS = 19,
    TJPARAM_XDENSITY = 20,
    TJPARAM_YDENSITY = 21,
    TJPARAM_DENSITYUNITS = 22,
    TJPARAM_MAXMEMORY = 23,
    TJPARAM_MAXPIXELS = 24,
};

tjhandle tj3Init(int initType);
void tj3Destroy(tjhandle handle);
int tj3Set(tjhandle handle, int param, int value);
int tj3Get(tjhandle handle, int param);
int tj3Compress8(tjhandle handle, const unsigned char* srcBuf, int width, int pitch, int height,
                 int pixelFormat, unsigned char** jpegBuf, size_t* jpegSize);
void tj3Free(void* buffer);
char* tj3GetErrorStr(tjhandle handle);

}  // extern "C"
