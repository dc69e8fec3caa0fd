// What the harnesses share, with the standard headers they all use: a check
// that stops the fuzzer with a message (an assert would vanish in a release
// build), reading the seeds' line format, and a UTF-8 test written apart from
// the engine's own.
#pragma once

#include <algorithm>
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

// Well-formed UTF-8, by the table of well-formed byte sequences: the lead byte
// gives the length and the range of the second byte (narrower after E0, ED, F0
// and F4, which shuts out overlong forms, surrogates and what lies beyond
// U+10FFFF); the other bytes are 80 to BF.
inline bool is_well_formed_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
        const unsigned lead = at(0);
        // C2 to DF lead two bytes, E0 to EF three, F0 to F4 four.
        const std::size_t length = lead < 0x80 ? 1
                                   : lead < 0xC2 || lead > 0xF4
                                       ? 0
                                       : 2u + (lead >= 0xE0) + (lead >= 0xF0);
        const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        bool well_formed = length > 0 && text.size() - i >= length;
        for (std::size_t k = 1; well_formed && k < length; ++k) {
            well_formed = at(k) >= (k == 1 ? low : 0x80) && at(k) <= (k == 1 ? high : 0xBF);
        }
        if (!well_formed) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace bl::fuzz
