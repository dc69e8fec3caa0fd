#include "bl/pixel_size.h"

#include <climits>
#include <cmath>

namespace bl {

namespace {

// Rounds halves away from zero, clamped to the 64-bit range. Hostile documents
// may declare pages of 1e30 points or more, whose pixel counts no integer holds;
// the message then shows the largest value instead of invoking undefined
// behaviour.
std::int64_t round_saturated(double value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= kTwoTo63) {
        return INT64_MAX;
    }
    if (value < -kTwoTo63) {
        return INT64_MIN;
    }
    return std::llround(value);
}

// floor(value) for a value known to lie below 2^31, at least one pixel. The
// lower clamp is done in floating point, so that nonsense limits (a negative
// DPI range) cannot make the conversion overflow either.
std::int32_t pixels_from(double value) {
    const double floored = std::floor(value);
    return floored < 1.0 ? 1 : static_cast<std::int32_t>(floored);
}

}  // namespace

Result<PixelSize> page_pixel_size(PageSize size, double dpi, const ConvertLimits& limits) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || size.width <= 0.0 ||
        size.height <= 0.0) {
        return fail(ErrorKind::DamagedPdf, "The page has an invalid size.");
    }
    if (!std::isfinite(dpi) || dpi < limits.min_dpi || dpi > limits.max_dpi) {
        return fail(ErrorKind::InvalidSettings, "DPI must be between " +
                                                    format_number(limits.min_dpi) + " and " +
                                                    format_number(limits.max_dpi) + ".");
    }

    const double exact_width = dpi * size.width / 72.0;
    const double exact_height = size.height * dpi / 72.0;
    const double fw = exact_width + 0.5;
    const double fh = exact_height + 0.5;
    const double side = static_cast<double>(limits.max_side_px) + 1.0;
    if (fw < side && fh < side) {
        const PixelSize pixels{pixels_from(fw), pixels_from(fh)};
        const std::uint64_t count =
            static_cast<std::uint64_t>(pixels.width) * static_cast<std::uint64_t>(pixels.height);
        if (count <= limits.max_page_pixels) {
            return pixels;
        }
        return fail(ErrorKind::LimitExceeded,
                    "At " + format_number(dpi) + " DPI the page would be " +
                        std::to_string(pixels.width) + " \u00D7 " + std::to_string(pixels.height) +
                        " px (" + std::to_string(count / 1'000'000) + " MP); the maximum is " +
                        std::to_string(limits.max_page_pixels / 1'000'000) +
                        " MP per page. Lower the DPI.");
    }
    return fail(ErrorKind::LimitExceeded,
                "At " + format_number(dpi) + " DPI the page would be " +
                    std::to_string(round_saturated(exact_width)) + " \u00D7 " +
                    std::to_string(round_saturated(exact_height)) + " px; the maximum side is " +
                    std::to_string(limits.max_side_px) + " px. Lower the DPI.");
}

}  // namespace bl
