#include "bl/secret.h"

#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include "bl/utf8.h"

namespace bl {

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

void Secret::truncate(std::size_t size) {
    if (size >= text_.size()) {
        return;
    }
    // resize() only moves the end; the bytes behind it would stay in memory.
    ::explicit_bzero(text_.data() + size, text_.size() - size);
    text_.resize(size);
}

void cap_password(Secret& password) {
    if (password.size() > kMaxPasswordBytes) {
        password.truncate(utf8::cut(password.view(), kMaxPasswordBytes).size());
    }
}

bool disable_core_dumps() {
    const bool not_dumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    const rlimit none{0, 0};
    const bool no_core = ::setrlimit(RLIMIT_CORE, &none) == 0;
    return not_dumpable && no_core;
}

}  // namespace bl
