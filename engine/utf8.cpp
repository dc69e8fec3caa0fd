#include "bl/utf8.h"

#include <algorithm>
#include <cstdint>

namespace bl::utf8 {

std::size_t sequence_length(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t lowest = 0;
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2;
        code = lead & 0x1Fu;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        code = lead & 0x0Fu;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        code = lead & 0x07u;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!is_continuation(byte)) {
            return 0;
        }
        code = (code << 6) | (byte & 0x3Fu);
    }
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

bool is_valid(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = sequence_length(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

std::string_view cut(std::string_view text, std::size_t max_bytes) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = std::max<std::size_t>(sequence_length(text, at), 1);
        if (at + length > max_bytes) {
            break;
        }
        at += length;
    }
    return text.substr(0, at);
}

}  // namespace bl::utf8
