// UTF-8 as the engine and its front ends read it: the one place that decides
// what a well-formed character is.
#pragma once

#include <cstddef>
#include <string_view>

namespace bl::utf8 {

// Bytes of the well-formed character that starts at `at`, or 0 when none does
// there (a stray continuation byte, a cut-off, overlong or surrogate sequence,
// or one beyond U+10FFFF).
std::size_t sequence_length(std::string_view text, std::size_t at);

bool is_valid(std::string_view text);

// The longest start of `text` of at most `max_bytes` that does not end inside a
// character; a byte that starts no well-formed character counts as one.
std::string_view cut(std::string_view text, std::size_t max_bytes);

inline bool is_continuation(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}

}  // namespace bl::utf8
