#include "engine/secret.h"

#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace bl {

namespace {

// Bytes of the character that starts at `at`: its sequence length when the
// lead byte announces one and the continuation bytes are there, else 1. Only
// where characters start matters here, not whether each one is well formed.
std::size_t character_length(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (text.size() - at < length) {
        return 1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[at + k]) & 0xC0u) != 0x80u) {
            return 1;
        }
    }
    return length;
}

}  // namespace

Secret::Secret(std::string&& text) : text_(std::move(text)) {
    // A short string is copied, not moved: its bytes are still where they were.
    text.resize(text.capacity());
    ::explicit_bzero(text.data(), text.size());
    text.clear();
}

Secret::Secret(Secret&& other) noexcept : text_(std::move(other.text_)) {
    other.clear();
}

Secret& Secret::operator=(const Secret& other) {
    if (this != &other) {
        clear();
        text_ = other.text_;
    }
    return *this;
}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        clear();
        text_ = std::move(other.text_);
        other.clear();
    }
    return *this;
}

void Secret::clear() {
    // The whole buffer, not only the current length: earlier, longer contents
    // may still sit beyond it.
    text_.resize(text_.capacity());
    ::explicit_bzero(text_.data(), text_.size());
    text_.clear();
    text_.shrink_to_fit();
}

void cap_password(std::string& password) {
    if (password.size() <= kMaxPasswordBytes) {
        return;
    }
    std::size_t cut = 0;
    while (cut < password.size()) {
        const std::size_t next = cut + character_length(password, cut);
        if (next > kMaxPasswordBytes) {
            break;
        }
        cut = next;
    }
    // resize() only moves the end; the bytes behind it would stay in memory.
    ::explicit_bzero(password.data() + cut, password.size() - cut);
    password.resize(cut);
}

MaybeError check_password(std::string_view password) {
    if (password.find('\0') != std::string_view::npos) {
        return make_error(ErrorKind::InvalidSettings,
                          "The password cannot contain a NUL character.");
    }
    return std::nullopt;
}

bool disable_core_dumps() {
    const bool not_dumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    const rlimit none{0, 0};
    const bool no_core = ::setrlimit(RLIMIT_CORE, &none) == 0;
    return not_dumpable && no_core;
}

}  // namespace bl
