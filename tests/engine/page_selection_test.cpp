#include "bl/live_checks.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_files.h"

namespace bl {
namespace {

std::vector<std::int32_t> pages_from_to(std::int32_t first, std::int32_t last) {
    std::vector<std::int32_t> pages(static_cast<std::size_t>(last - first + 1));
    std::iota(pages.begin(), pages.end(), first);
    return pages;
}

TEST(PageSelection, AcceptsAscendingUniquePages) {
    std::string open_ranges = "1-";
    while (open_ranges.size() + 4 <= 4096) {
        open_ranges += ", 1-";
    }
    const struct {
        std::string text;
        std::int32_t page_count;
        std::vector<std::int32_t> pages;
    } cases[] = {
        {" aLl\t", 3, {1, 2, 3}},
        {"1-3, 5, 8-", 10, {1, 2, 3, 5, 8, 9, 10}},
        {"1\t-\t3", 5, {1, 2, 3}},
        {"007-0008", 9, {7, 8}},
        {"1-", 1, {1}},
        {"1", 1, {1}},
        {"5-8, 1-6, 7, 10-, 4,4", 12, {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12}},
        {"999999998-", 999'999'999, {999'999'998, 999'999'999}},
        {"2" + std::string(4095, ' '), 2, {2}},  // 4,096 bytes is still allowed
        // Every item covers the whole document; the pages still come out once each,
        // without expanding every item.
        {open_ranges, 1'000'000, pages_from_to(1, 1'000'000)},
    };
    for (const auto& c : cases) {
        const auto result = parse_page_selection(c.text, c.page_count);
        ASSERT_TRUE(result.has_value()) << c.text.substr(0, 40) << ": " << result.error().message;
        EXPECT_EQ(*result, c.pages) << c.text.substr(0, 40);
        EXPECT_EQ(check_page_selection_syntax(c.text), std::nullopt) << c.text.substr(0, 40);
    }
}

TEST(PageSelection, RefusesWithTheFirstProblem) {
    const std::string none = "The document has no pages.";
    const std::string long_text = "Page selection is too long.";
    const std::string empty_item = "Page selection contains an empty item.";
    const std::string start = "Page numbers start at 1.";
    // Text, page count, the message, and whether the text alone (without a
    // document) fails the same way.
    const std::tuple<std::string, std::int32_t, std::string, bool> cases[] = {
        {"all", 0, none, false},
        {"1", -3, none, false},
        {std::string(4097, ' '), 5, long_text, true},
        {"1" + std::string(4096, ' '), 5, long_text, true},
        {" \t \t", 5, "Page selection is empty.", true},
        {"1, \t,2", 5, empty_item, true},
        {",1", 5, empty_item, true},
        {"1, 2,", 5, empty_item, true},
        {"all, 3", 5, "\"all\" is not a page number.", true},
        {"1 3", 5, "\"1 3\" is not a page number.", true},
        {"0000000001", 5, "\"0000000001\" is not a page number.", true},
        {"+5", 5, "\"+5\" is not a page number.", true},
        {"1;2", 5, "\"1;2\" is not a page number.", true},
        {"1,\xFF", 5, "\"\xFF\" is not a page number.", true},
        {"-5", 5, "\"-5\" is not a valid page range.", true},
        {"1--3", 5, "\"1--3\" is not a valid page range.", true},
        {"1-2-3", 5, "\"1-2-3\" is not a valid page range.", true},
        {"1-1234567890", 5, "\"1-1234567890\" is not a valid page range.", true},
        {"0", 5, start, true},
        {"3-0", 5, start, true},
        {"0012 - 0010", 20, "Range \"0012 - 0010\" is reversed; use 10-12.", true},
        {"12-", 10, "Range \"12-\" is reversed; use 10-12.", false},
        {"8-12", 10, "Page 12 does not exist; the document has 10 pages.", false},
        {"2", 1, "Page 2 does not exist; the document has 1 page.", false},
        {"12, x", 10, "Page 12 does not exist; the document has 10 pages.", false},
        {"x, 12", 10, "\"x\" is not a page number.", true},
    };
    for (const auto& [text, page_count, message, syntax] : cases) {
        SCOPED_TRACE(text.substr(0, 40));
        const auto error = make_error(
            message == none ? ErrorKind::NoPages : ErrorKind::InvalidPageSelection, message);
        EXPECT_EQ(test::error_of(parse_page_selection(text, page_count)), error);
        if (syntax) {
            EXPECT_EQ(check_page_selection_syntax(text), error);
        }
    }
    // Without a document, no page is too high, but ranges still run forwards.
    EXPECT_EQ(check_page_selection_syntax("2-999999999, 1-"), std::nullopt);
    EXPECT_EQ(check_page_selection_syntax("1-, 3-2"),
              make_error(ErrorKind::InvalidPageSelection, "Range \"3-2\" is reversed; use 2-3."));
}

}  // namespace
}  // namespace bl
