// What the harnesses share: a check that stops the fuzzer with a message (an
// assert would vanish in a release build), reading the seeds' line format, and
// a UTF-8 test written apart from the engine's own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
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

// The input as text: the seeds are small text files.
inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The first line of `text` (without its LF), removed from `text`.
inline std::string_view take_line(std::string_view& text) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

// A decimal number at the start of `text` (an optional minus, then at most nine
// digits), or `fallback` when there is none.
inline std::int64_t leading_number(std::string_view text, std::int64_t fallback) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0) {
        return fallback;
    }
    return negative ? -value : value;
}

// Well-formed UTF-8 after the Unicode standard's table of byte sequences.
inline bool is_well_formed_utf8(std::string_view text) {
    // Lead bytes, the sequence's length, and the range of its second byte.
    struct Row {
        unsigned lead_lo, lead_hi, length, second_lo, second_hi;
    };
    static constexpr Row kRows[] = {
        {0x00, 0x7F, 1, 0, 0},       {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
        {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF},
        {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F}};
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    for (std::size_t i = 0; i < text.size();) {
        const Row* row = std::find_if(std::begin(kRows), std::end(kRows), [&](const Row& r) {
            return byte(i) >= r.lead_lo && byte(i) <= r.lead_hi;
        });
        if (row == std::end(kRows) || text.size() - i < row->length) {
            return false;
        }
        for (std::size_t k = 1; k < row->length; ++k) {
            const unsigned lo = k == 1 ? row->second_lo : 0x80;
            const unsigned hi = k == 1 ? row->second_hi : 0xBF;
            if (byte(i + k) < lo || byte(i + k) > hi) {
                return false;
            }
        }
        i += row->length;
    }
    return true;
}

}  // namespace bl::fuzz
