// Page selections: the engine's parse against a plain model of the grammar, and
// the syntax-only check against the parse.
//
// Input: the first line is the page count (lenient decimal), the rest is the
// selection text.

#include <numeric>

#include "bl/live_checks.h"
#include "fuzz/fuzz_support.h"

namespace {

using bl::fuzz::check;

std::string_view trim(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    return text.substr(0, text.find_last_not_of(" \t") + 1);
}

// 1 to 9 ASCII digits, or -1.
std::int64_t number(std::string_view text) {
    const bool digits = !text.empty() && text.size() <= 9 &&
                        text.find_first_not_of("0123456789") == std::string_view::npos;
    return digits ? std::stol(std::string(text)) : -1;
}

// The grammar written out plainly: the selected pages in ascending order, or
// none when the text is refused for any reason.
std::vector<std::int32_t> model(std::string_view text, std::int64_t count) {
    if (count < 1 || text.size() > 4096 || (text = trim(text)).empty()) {
        return {};
    }
    const bool all = bl::fuzz::ascii_lower(std::string(text)) == "all";
    std::vector<bool> marked(static_cast<std::size_t>(count) + 1, all);
    for (std::size_t start = 0; !all && start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view item = trim(text.substr(start, comma - start));
        const std::size_t hyphen = item.find('-');
        const std::int64_t first = number(trim(item.substr(0, hyphen)));
        const std::string_view after =
            hyphen == std::string_view::npos ? std::string_view() : trim(item.substr(hyphen + 1));
        const std::int64_t last = hyphen == std::string_view::npos ? first
                                  : after.empty()                  ? count
                                                                   : number(after);
        if (first < 1 || first > last || last > count) {
            return {};
        }
        std::fill(marked.begin() + first, marked.begin() + last + 1, true);
        start = comma + 1;
    }
    std::vector<std::int32_t> pages(static_cast<std::size_t>(count));
    std::iota(pages.begin(), pages.end(), 1);
    std::erase_if(pages,
                  [&](std::int32_t page) { return !marked[static_cast<std::size_t>(page)]; });
    return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input = std::string_view(reinterpret_cast<const char*>(data), size);
    long count = 10;
    std::sscanf(std::string(bl::fuzz::take_line(input)).c_str(), "%9ld", &count);
    // Larger documents only make every run slower; the grammar is the same.
    count = std::min<long>(count, 20'000);
    // An exactly sized copy lets the address sanitizer see a read past the end.
    const std::vector<char> exact(input.begin(), input.end());
    const std::string_view text(exact.data(), exact.size());

    const auto parsed = bl::parse_page_selection(text, static_cast<std::int32_t>(count));
    const std::vector<std::int32_t> pages = model(text, count);
    const bl::MaybeError syntax = bl::check_page_selection_syntax(text);
    if (parsed) {
        check(!pages.empty() && *parsed == pages && !syntax,
              "an accepted text gives the grammar's pages and passes the syntax check");
        return 0;
    }
    const bl::ConvertError& error = parsed.error();
    check(pages.empty() && error.page == 0 && error.message.ends_with('.') &&
              error.kind ==
                  (count < 1 ? bl::ErrorKind::NoPages : bl::ErrorKind::InvalidPageSelection),
          "the parse refuses what the grammar refuses, each time with a sentence of no page: "
          "no pages whatever the text, otherwise a selection error");
    // Without a document the same problem shows, unless it was the document's:
    // it has none, a page beyond its end, or an open range starting there.
    check(count < 1 || error.message.find(" does not exist; ") != std::string::npos ||
              error.message.find("-\" is reversed") != std::string::npos || syntax == error,
          "the syntax check reports what the parse reports");
    check(!syntax || (syntax->kind == bl::ErrorKind::InvalidPageSelection && syntax->page == 0),
          "a syntax error is a selection error");
    return 0;
}
