#include "bl/convert_types.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace bl {

Deadline deadline_after(std::int64_t ms, Clock::time_point now) {
    if (ms <= 0) {
        return kNoDeadline;
    }
    // A limit too far out to represent is as good as none; never overflow.
    const auto headroom = std::chrono::duration_cast<std::chrono::milliseconds>(kNoDeadline - now);
    if (ms >= headroom.count()) {
        return kNoDeadline;
    }
    return now + std::chrono::milliseconds(ms);
}

double elapsed_ms(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

std::string format_number(double x) {
    // Only a value inside the 32-bit range may be rounded to an integer: converting
    // anything larger (a limit of 1e12, say) would be undefined behaviour.
    if (std::isfinite(x) && x > -2147483648.5 && x < 2147483647.5) {
        const long rounded = std::lround(x);  // halves away from zero
        if (std::fabs(x - static_cast<double>(rounded)) < 1e-9) {
            return std::to_string(rounded);
        }
    }
    char text[400];  // "%f" of the largest double is 316 characters
    std::snprintf(text, sizeof text, "%f", x);
    return text;
}

std::int32_t default_render_helpers() {
    constexpr std::int32_t kMostHelpers = 8;
    const auto cores = static_cast<std::int32_t>(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, kMostHelpers);
}

std::int32_t render_helpers_for(const ConvertLimits& limits, std::uint64_t page_bytes) {
    // Two buffers a helper, and the helper protocol names at most 64.
    constexpr std::int32_t kMostHelpers = 32;
    const std::int32_t wanted = limits.render_helpers > 0
                                    ? std::min(limits.render_helpers, kMostHelpers)
                                    : default_render_helpers();
    // A buffer a helper and one more.
    const std::uint64_t buffers =
        limits.render_memory_budget_bytes / std::max<std::uint64_t>(page_bytes, 1);
    const std::uint64_t affordable = buffers > 1 ? buffers - 1 : 1;
    return static_cast<std::int32_t>(
        std::clamp<std::uint64_t>(affordable, 1, static_cast<std::uint64_t>(wanted)));
}

MaybeError check_password(std::string_view password) {
    if (password.find('\0') != std::string_view::npos) {
        return make_error(ErrorKind::InvalidSettings,
                          "The password cannot contain a NUL character.");
    }
    return std::nullopt;
}

}  // namespace bl
