#include "engine/convert_types.h"

#include <cmath>
#include <cstdio>

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

}  // namespace bl
