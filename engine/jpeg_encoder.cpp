#include "engine/jpeg_encoder.h"

#include <climits>
#include <cmath>
#include <string>

namespace bl {

namespace {

std::string library_error(tjhandle handle) {
    const char* text = tj3GetErrorStr(handle);
    return text != nullptr ? text : "";
}

int subsampling_for(const ImageOptions& image) {
    int mode = image.chroma;
    if (mode == 0) {
        mode = image.jpeg_quality < 90 ? 2 : 1;
    }
    switch (mode) {
        case 2:
            return TJSAMP_420;
        case 3:
            return TJSAMP_GRAY;
        default:
            return TJSAMP_444;
    }
}

// The DPI rounded halves away from zero. A DPI beyond the int range (a request
// that skipped validation) saturates, which the library then refuses as a
// density, rather than overflowing the conversion.
int density_for(double dpi) {
    if (std::isnan(dpi)) {
        return 0;
    }
    const double rounded = std::round(dpi);
    if (rounded >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (rounded <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(rounded);
}

}  // namespace

Result<std::unique_ptr<JpegEncoder>> create_jpeg_encoder(const ImageOptions& image) {
    ScopedTjHandle handle(tj3Init(TJINIT_COMPRESS));
    if (!handle) {
        return fail(ErrorKind::EncodeFailed, "Could not initialize the JPEG encoder.");
    }
    auto encoder = std::make_unique<JpegEncoder>(std::move(handle));

    const int density = density_for(image.dpi);
    const struct {
        int parameter;
        int value;
    } settings[] = {
        {TJPARAM_QUALITY, image.jpeg_quality},
        {TJPARAM_SUBSAMP, subsampling_for(image)},
        {TJPARAM_DENSITYUNITS, 1},  // dots per inch
        {TJPARAM_XDENSITY, density},
        {TJPARAM_YDENSITY, density},
        {TJPARAM_OPTIMIZE, image.optimize_huffman ? 1 : 0},
        {TJPARAM_FASTDCT, 0},
    };
    for (const auto& setting : settings) {
        if (tj3Set(encoder->handle(), setting.parameter, setting.value) != 0) {
            // Read the text before the handle goes with the encoder.
            return fail(ErrorKind::EncodeFailed,
                        "Invalid JPEG encoder settings: " + library_error(encoder->handle()));
        }
    }
    return encoder;
}

Result<std::vector<std::uint8_t>> encode_jpeg(JpegEncoder& encoder, const std::uint8_t* pixels,
                                              std::int32_t width, std::int32_t height,
                                              std::int32_t stride, bool three_bytes) {
    unsigned char* output = nullptr;
    std::size_t output_size = 0;
    const int status = tj3Compress8(encoder.handle(), pixels, width, stride, height,
                                    three_bytes ? TJPF_BGR : TJPF_BGRX, &output, &output_size);
    // The library may hand back a buffer even when it fails.
    const ScopedTjBuffer owned(output);
    if (status != 0) {
        return fail(ErrorKind::EncodeFailed,
                    "JPEG encoding failed: " + library_error(encoder.handle()));
    }
    return std::vector<std::uint8_t>(owned.get(), owned.get() + output_size);
}

}  // namespace bl
