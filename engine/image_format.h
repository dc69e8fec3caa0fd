// The formats pages are saved in, each with its file extension and its
// encoder. The pipeline knows pages only as pixels in and bytes out, so a new
// format is a row here and an encoder of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bl/convert_types.h"

namespace bl {

// Makes one image file from a page's pixels; one page at a time.
class ImageEncoder {
  public:
    virtual ~ImageEncoder() = default;
    // A complete file from BGR pixels (`three_bytes`) or BGRx ones, rows of
    // `stride` bytes; the pixels are only read.
    virtual Result<std::vector<std::uint8_t>> encode(const std::uint8_t* pixels, std::int32_t width,
                                                     std::int32_t height, std::int32_t stride,
                                                     bool three_bytes) = 0;
};

struct ImageFormat {
    const char* extension;  // with its dot
    // An encoder set up for the request's options, or why there is none.
    Result<std::unique_ptr<ImageEncoder>> (*create_encoder)(const ImageOptions& image);
};

// The format a request's pages are saved in.
const ImageFormat& image_format(const ImageOptions& image);

}  // namespace bl
