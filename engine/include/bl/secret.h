// Keeping document passwords bounded and out of reach: the longest password a
// PDF can use, the one byte no password may hold, and no core dumps that could
// carry a copy.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bl {

// Text that must not linger in memory, such as a password: every byte it held
// is zeroed when it is cleared, replaced or destroyed. Copies are explicit
// values of their own and wipe themselves the same way.
class Secret {
  public:
    Secret() = default;
    Secret(const char* text) : text_(text) {}  // NOLINT: a literal is no secret to lose
    // Takes the text's storage; what a short string keeps in place is wiped.
    Secret(std::string&& text);  // NOLINT
    Secret(const Secret& other) : text_(other.text_) {}
    Secret(Secret&& other) noexcept;
    Secret& operator=(const Secret& other);
    Secret& operator=(Secret&& other) noexcept;
    ~Secret() { clear(); }

    bool empty() const { return text_.empty(); }
    std::size_t size() const { return text_.size(); }
    std::string_view view() const { return text_; }
    const char* c_str() const { return text_.c_str(); }
    // Zeroes every byte and releases the storage.
    void clear();
    // Keeps the first `size` bytes (never more than there are) and zeroes the rest.
    void truncate(std::size_t size);

    friend bool operator==(const Secret& a, const Secret& b) { return a.text_ == b.text_; }

  private:
    std::string text_;
};

// AES-256 (PDF 2.0) uses the first 127 bytes of a password, the older handlers
// only the first 32, so nothing longer ever opens more.
inline constexpr std::size_t kMaxPasswordBytes = 127;

// Cuts `password` to at most kMaxPasswordBytes, never inside a UTF-8 character,
// and zeroes the bytes it cuts off.
void cap_password(Secret& password);

// Turns core dumps off for the whole process (not dumpable, core size limit 0),
// so that no dump carries a password. Returns false if either step failed.
bool disable_core_dumps();

}  // namespace bl
