// JPEG encoding of rendered pages through TurboJPEG 3.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bl/convert_types.h"
#include "engine/turbojpeg_api.h"

namespace bl {

struct TjHandleDeleter {
    void operator()(void* handle) const { tj3Destroy(handle); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tj3Free(buffer); }
};
using ScopedTjHandle = std::unique_ptr<void, TjHandleDeleter>;
using ScopedTjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

// One configured compressor, used by one encode at a time.
class JpegEncoder {
  public:
    explicit JpegEncoder(ScopedTjHandle handle) : handle_(std::move(handle)) {}

    tjhandle handle() const { return handle_.get(); }

  private:
    ScopedTjHandle handle_;
};

// A compressor set up for the job's quality, subsampling, density and Huffman
// choice.
Result<std::unique_ptr<JpegEncoder>> create_jpeg_encoder(const ImageOptions& image);

// One complete JFIF file from BGRx pixels, or BGR ones with `three_bytes`; the
// pixels are only read.
Result<std::vector<std::uint8_t>> encode_jpeg(JpegEncoder& encoder, const std::uint8_t* pixels,
                                              std::int32_t width, std::int32_t height,
                                              std::int32_t stride, bool three_bytes = false);

}  // namespace bl
