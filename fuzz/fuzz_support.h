// What the harnesses share, with the standard headers they all use: a check
// that stops the fuzzer with a message (an assert would vanish in a release
// build), reading the seeds' line format, and a UTF-8 test written apart from
// the engine's own.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace bl::fuzz {

// Stops the run with `what` when `condition` does not hold; libFuzzer keeps the
// input that did it.
inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The first line of `text` (without its LF), removed from `text`.
inline std::string_view take_line(std::string_view& text) {
    const std::string_view line = text.substr(0, text.find('\n'));
    text.remove_prefix(std::min(line.size() + 1, text.size()));
    return line;
}

// ASCII letters in lower case, the rest as it is.
inline std::string ascii_lower(std::string text) {
    std::ranges::transform(text, text.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

// Well-formed UTF-8: each sequence decodes to a scalar value in its shortest form.
inline bool is_well_formed_utf8(std::string_view text) {
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int ones = std::countl_one(lead);  // 0 in ASCII, else the sequence's length
        const std::size_t length = ones == 0 ? 1 : static_cast<std::size_t>(ones);
        if (ones == 1 || ones > 4 || text.size() - i < length) {
            return false;
        }
        std::uint32_t value = lead & (0x7Fu >> ones);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            value = value << 6 | (next & 0x3Fu);
        }
        if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace bl::fuzz
