// A page's size in pixels at a resolution, within the limits.
#pragma once

#include <cstdint>

#include "bl/convert_types.h"

namespace bl {

struct PixelSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The pixel size of a page at `dpi`, or why it cannot be rendered.
Result<PixelSize> page_pixel_size(PageSize size, double dpi, const ConvertLimits& limits);

}  // namespace bl
