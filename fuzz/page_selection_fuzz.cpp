// Page selections: the engine's parse against a plain model of the grammar, the
// syntax-only check against the parse, and a selection generated from the same
// bytes whose pages are known while it is written.
//
// Input: the first line is the page count (lenient decimal), the rest is the
// selection text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bl/live_checks.h"
#include "fuzz/fuzz_support.h"

namespace {

using bl::fuzz::check;

// Larger documents only make every run slower; the grammar is the same.
constexpr std::int64_t kMaxPageCount = 20'000;

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// 1 to 9 ASCII digits, or -1.
std::int64_t number(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return -1;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// The grammar written out plainly: the selected pages marked, or false when the
// text is refused for any reason.
bool model(std::string_view text, std::int64_t count, std::vector<bool>& marked) {
    if (count < 1 || text.size() > 4096) {
        return false;
    }
    marked.assign(static_cast<std::size_t>(count) + 1, false);
    text = trim(text);
    if (text.empty()) {
        return false;
    }
    std::string lower(text);
    for (char& c : lower) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (lower == "all") {
        marked.assign(marked.size(), true);
        return true;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item =
            trim(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        std::int64_t first = 0;
        std::int64_t last = 0;
        const std::size_t hyphen = item.find('-');
        if (hyphen == std::string_view::npos) {
            first = last = number(item);
        } else {
            const std::string_view after = trim(item.substr(hyphen + 1));
            if (after.find('-') != std::string_view::npos) {
                return false;
            }
            first = number(trim(item.substr(0, hyphen)));
            last = after.empty() ? count : number(after);
        }
        if (first < 1 || last < 1 || first > last || last > count) {
            return false;
        }
        for (std::int64_t page = first; page <= last; ++page) {
            marked[static_cast<std::size_t>(page)] = true;
        }
        if (comma == std::string_view::npos) {
            return true;
        }
        start = comma + 1;
    }
}

void check_text(std::string_view text, std::int64_t count) {
    const auto page_count = static_cast<std::int32_t>(count);
    const auto parsed = bl::parse_page_selection(text, page_count);
    check(bl::parse_page_selection(text, page_count) == parsed, "the parse is deterministic");

    std::vector<bool> marked;
    const bool accepted = model(text, count, marked);
    check(parsed.has_value() == accepted, "the parse accepts what the grammar accepts");
    const bl::MaybeError syntax = bl::check_page_selection_syntax(text);
    if (parsed) {
        const auto& pages = *parsed;
        check(!pages.empty(), "a selection has pages");
        std::size_t next = 0;
        for (std::size_t page = 1; page < marked.size(); ++page) {
            if (marked[page]) {
                check(next < pages.size() && pages[next] == static_cast<std::int32_t>(page),
                      "the pages are those the grammar gives, ascending, each once");
                ++next;
            }
        }
        check(next == pages.size(), "no page beyond those the grammar gives");
        check(!syntax, "an accepted text passes the syntax check");
        return;
    }

    const bl::ConvertError& error = parsed.error();
    check(error.page == 0, "a selection error belongs to no page");
    check(!error.message.empty() && error.message.back() == '.', "messages are sentences");
    if (count < 1) {
        check(error.kind == bl::ErrorKind::NoPages, "no pages, whatever the text");
        return;
    }
    check(error.kind == bl::ErrorKind::InvalidPageSelection, "a bad text is a selection error");
    check(text.size() <= 4096 || error.message == "Page selection is too long.",
          "the length is checked first");
    // Without a document the same problem shows, unless it was the document's
    // length: a page beyond the end, or an open range starting there.
    const bool about_length = error.message.find(" does not exist; ") != std::string::npos ||
                              error.message.find("-\" is reversed") != std::string::npos;
    if (!about_length) {
        check(syntax == error, "the syntax check reports what the parse reports");
    }
    if (syntax) {
        check(syntax->kind == bl::ErrorKind::InvalidPageSelection && syntax->page == 0,
              "a syntax error is a selection error");
    }
}

// Writes a selection from the bytes, with the pages it must give.
void check_generated(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    const std::int32_t count = byte(0) % 60 + 1;
    static const char* const kBlanks[] = {"", "", " ", "\t", "  "};
    std::string text;
    std::vector<bool> expected(static_cast<std::size_t>(count) + 1, false);
    for (std::size_t at = 1; at + 3 < bytes.size() && text.size() < 3000; at += 4) {
        std::int32_t first = byte(at + 1) % count + 1;
        std::int32_t last = byte(at + 2) % count + 1;
        if (first > last) {
            std::swap(first, last);
        }
        const std::string blank = kBlanks[byte(at + 3) % 5];
        const std::string zeros(byte(at + 3) / 5 % 3, '0');
        if (!text.empty()) {
            text += ",";
        }
        switch (byte(at) % 3) {
            case 0:
                text += blank + zeros + std::to_string(first) + blank;
                last = first;
                break;
            case 1:
                text += blank + zeros + std::to_string(first) + blank + "-" + blank +
                        std::to_string(last);
                break;
            default:
                text += zeros + std::to_string(first) + blank + "-" + blank;
                last = count;
                break;
        }
        for (std::int32_t page = first; page <= last; ++page) {
            expected[static_cast<std::size_t>(page)] = true;
        }
    }
    if (text.empty()) {
        return;
    }
    const auto parsed = bl::parse_page_selection(text, count);
    check(parsed.has_value(), "a well-formed selection is accepted");
    std::vector<std::int32_t> pages;
    for (std::int32_t page = 1; page <= count; ++page) {
        if (expected[static_cast<std::size_t>(page)]) {
            pages.push_back(page);
        }
    }
    check(*parsed == pages, "a well-formed selection gives its pages");
    check(!bl::check_page_selection_syntax(text), "a well-formed selection passes the syntax");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = bl::fuzz::as_text(data, size);
    const std::string_view first_line = bl::fuzz::take_line(text);
    const std::int64_t count = std::min(bl::fuzz::leading_number(first_line, 10), kMaxPageCount);
    // An exactly sized copy lets the address sanitizer see a read past the end.
    const std::vector<char> exact(text.begin(), text.end());
    check_text(std::string_view(exact.data(), exact.size()), count);
    check_generated(bl::fuzz::as_text(data, size));
    return 0;
}
