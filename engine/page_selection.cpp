#include "bl/page_selection.h"

#include <algorithm>
#include <optional>
#include <string>

namespace bl {
namespace {

constexpr std::size_t kMaxSelectionBytes = 4096;
// Nine digits always fit a signed 32-bit integer.
constexpr std::size_t kMaxPageDigits = 9;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool is_keyword_all(std::string_view text) {
    if (text.size() != 3) {
        return false;
    }
    const char* keyword = "all";
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = text[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != keyword[i]) {
            return false;
        }
    }
    return true;
}

// 1 to 9 ASCII digits and nothing else; leading zeros are fine.
std::optional<std::int32_t> parse_page_number(std::string_view text) {
    if (text.empty() || text.size() > kMaxPageDigits) {
        return std::nullopt;
    }
    std::int32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string quoted(std::string_view item) {
    std::string text;
    text.reserve(item.size() + 2);
    text += '"';
    text += item;
    text += '"';
    return text;
}

ConvertError invalid(std::string message) {
    return make_error(ErrorKind::InvalidPageSelection, std::move(message));
}

struct PageRange {
    std::int32_t first;
    std::int32_t last;
};

// Ascending pages without duplicates from ranges that may overlap or repeat.
std::vector<std::int32_t> merge_ranges(std::vector<PageRange>& ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const PageRange& a, const PageRange& b) { return a.first < b.first; });
    std::vector<std::int32_t> pages;
    std::int64_t next = 1;  // the lowest page not yet listed
    for (const PageRange& range : ranges) {
        for (std::int64_t page = std::max<std::int64_t>(next, range.first); page <= range.last;
             ++page) {
            pages.push_back(static_cast<std::int32_t>(page));
        }
        next = std::max<std::int64_t>(next, std::int64_t{range.last} + 1);
    }
    return pages;
}

// The walk over the items. Without a page count only the text itself is judged:
// an open range ends at its first page and no page is too high.
MaybeError walk_items(std::string_view text, std::optional<std::int32_t> page_count,
                      std::vector<PageRange>& ranges) {
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = trim_blanks(rest.substr(0, comma));
        if (item.empty()) {
            return invalid("Page selection contains an empty item.");
        }

        std::int32_t first = 0;
        std::int32_t last = 0;
        const std::size_t hyphen = item.find('-');
        if (hyphen == std::string_view::npos) {
            const auto page = parse_page_number(item);
            if (!page) {
                return invalid(quoted(item) + " is not a page number.");
            }
            first = *page;
            last = *page;
        } else {
            const std::string_view after = item.substr(hyphen + 1);
            const auto start = parse_page_number(trim_blanks(item.substr(0, hyphen)));
            if (after.find('-') != std::string_view::npos || !start) {
                return invalid(quoted(item) + " is not a valid page range.");
            }
            first = *start;
            if (trim_blanks(after).empty()) {
                last = page_count.value_or(first);
            } else {
                const auto end = parse_page_number(trim_blanks(after));
                if (!end) {
                    return invalid(quoted(item) + " is not a valid page range.");
                }
                last = *end;
            }
        }

        if (first < 1 || last < 1) {
            return invalid("Page numbers start at 1.");
        }
        if (first > last) {
            return invalid("Range " + quoted(item) + " is reversed; use " + std::to_string(last) +
                           "-" + std::to_string(first) + ".");
        }
        if (page_count && last > *page_count) {
            return invalid("Page " + std::to_string(last) + " does not exist; the document has " +
                           std::to_string(*page_count) + (*page_count == 1 ? " page." : " pages."));
        }

        ranges.push_back(PageRange{first, last});

        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(comma + 1);
    }
}

// The checks before the items; the trimmed text, or the problem.
Result<std::string_view> trimmed_text(std::string_view text) {
    if (text.size() > kMaxSelectionBytes) {
        return tl::unexpected(invalid("Page selection is too long."));
    }
    const std::string_view trimmed = trim_blanks(text);
    if (trimmed.empty()) {
        return tl::unexpected(invalid("Page selection is empty."));
    }
    return trimmed;
}

}  // namespace

Result<std::vector<std::int32_t>> parse_page_selection(std::string_view text,
                                                       std::int32_t page_count) {
    if (page_count < 1) {
        return fail(ErrorKind::NoPages, "The document has no pages.");
    }
    const auto trimmed = trimmed_text(text);
    if (!trimmed) {
        return tl::unexpected(trimmed.error());
    }
    if (is_keyword_all(*trimmed)) {
        std::vector<std::int32_t> all(static_cast<std::size_t>(page_count));
        for (std::int32_t page = 1; page <= page_count; ++page) {
            all[static_cast<std::size_t>(page - 1)] = page;
        }
        return all;
    }

    // Ranges are kept as ranges and expanded once at the end. Expanding every item
    // costs up to a page count per item, and '1-, 1-, 1-, ...' checked against the
    // window's 1,000,000 pages would then take most of a minute.
    std::vector<PageRange> ranges;
    if (auto problem = walk_items(*trimmed, page_count, ranges)) {
        return tl::unexpected(std::move(*problem));
    }
    return merge_ranges(ranges);
}

MaybeError check_page_selection_syntax(std::string_view text) {
    const auto trimmed = trimmed_text(text);
    if (!trimmed) {
        return trimmed.error();
    }
    if (is_keyword_all(*trimmed)) {
        return std::nullopt;
    }
    std::vector<PageRange> ranges;
    return walk_items(*trimmed, std::nullopt, ranges);
}

std::string format_page_selection(const std::vector<std::int32_t>& pages, std::int32_t page_count) {
    if (page_count > 0 && pages.size() == static_cast<std::size_t>(page_count)) {
        return "all";
    }
    std::string text;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t end = i;  // the last page of the run that starts at i
        while (end + 1 < pages.size() && pages[end + 1] == pages[end] + 1) {
            ++end;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(pages[i]);
        if (end > i) {
            text += '-';
            if (pages[end] != page_count) {
                text += std::to_string(pages[end]);
            }
        }
        i = end + 1;
    }
    return text;
}

}  // namespace bl
