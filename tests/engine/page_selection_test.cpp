#include "bl/live_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

namespace bl {
namespace {

std::vector<std::int32_t> pages_from_to(std::int32_t first, std::int32_t last) {
    std::vector<std::int32_t> pages(static_cast<std::size_t>(last - first + 1));
    std::iota(pages.begin(), pages.end(), first);
    return pages;
}

struct AcceptedCase {
    std::string text;
    std::int32_t page_count;
    std::vector<std::int32_t> pages;
};

void PrintTo(const AcceptedCase& c, std::ostream* os) {
    *os << '\'' << c.text.substr(0, 40) << "' of " << c.page_count;
}

class AcceptedSelection : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedSelection, YieldsAscendingUniquePages) {
    const auto result = parse_page_selection(GetParam().text, GetParam().page_count);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(*result, GetParam().pages);
    EXPECT_EQ(check_page_selection_syntax(GetParam().text), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcceptedSelection,
    ::testing::Values(AcceptedCase{"all", 5, {1, 2, 3, 4, 5}}, AcceptedCase{" aLl ", 3, {1, 2, 3}},
                      AcceptedCase{"\tALL\t", 2, {1, 2}},
                      AcceptedCase{"1-3, 5, 8-", 10, {1, 2, 3, 5, 8, 9, 10}},
                      AcceptedCase{"1 - 3", 5, {1, 2, 3}}, AcceptedCase{"1\t-\t3", 5, {1, 2, 3}},
                      AcceptedCase{"0010", 12, {10}}, AcceptedCase{"007-0008", 9, {7, 8}},
                      AcceptedCase{"8-", 10, {8, 9, 10}}, AcceptedCase{"8 -", 10, {8, 9, 10}},
                      AcceptedCase{"1-", 1, {1}}, AcceptedCase{"3-3", 3, {3}},
                      AcceptedCase{"3, 1-3, 2-", 4, {1, 2, 3, 4}},
                      AcceptedCase{"5, 1-3, 2", 5, {1, 2, 3, 5}},
                      AcceptedCase{"5-8, 1-6, 7, 10-", 12, {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12}},
                      AcceptedCase{"4,4,4", 4, {4}}, AcceptedCase{" \t2 ,\t4-\t5 ", 5, {2, 4, 5}},
                      AcceptedCase{"999999999", 999'999'999, {999'999'999}},
                      AcceptedCase{"999999998-", 999'999'999, {999'999'998, 999'999'999}},
                      // Exactly 4,096 bytes is still allowed.
                      AcceptedCase{"2" + std::string(4095, ' '), 2, {2}}));

struct RejectedCase {
    std::string text;
    std::int32_t page_count;
    ErrorKind kind;
    std::string message;
};

void PrintTo(const RejectedCase& c, std::ostream* os) {
    *os << '\'' << c.text.substr(0, 40) << "' of " << c.page_count;
}

class RejectedSelection : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedSelection, GivesTheFirstProblem) {
    const auto result = parse_page_selection(GetParam().text, GetParam().page_count);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message, GetParam().message);
    EXPECT_EQ(result.error().kind, GetParam().kind);
    EXPECT_EQ(result.error().page, 0u);
    // Without a document the text fails the same way, unless the problem lies in
    // the document's length: a page beyond its end, or an open range starting there.
    const std::string& message = GetParam().message;
    if (GetParam().kind == ErrorKind::InvalidPageSelection &&
        message.find(" does not exist; ") == std::string::npos &&
        message.find("-\" is reversed") == std::string::npos) {
        EXPECT_EQ(check_page_selection_syntax(GetParam().text), result.error());
    }
}

constexpr ErrorKind kNoPages = ErrorKind::NoPages;
constexpr ErrorKind kInvalid = ErrorKind::InvalidPageSelection;

INSTANTIATE_TEST_SUITE_P(
    NoPages, RejectedSelection,
    ::testing::Values(RejectedCase{"all", 0, kNoPages, "The document has no pages."},
                      RejectedCase{"", 0, kNoPages, "The document has no pages."},
                      RejectedCase{std::string(5000, 'x'), 0, kNoPages,
                                   "The document has no pages."},
                      RejectedCase{"1", -3, kNoPages, "The document has no pages."}));

INSTANTIATE_TEST_SUITE_P(
    Text, RejectedSelection,
    ::testing::Values(
        RejectedCase{std::string(4097, ' '), 5, kInvalid, "Page selection is too long."},
        RejectedCase{"1" + std::string(4096, ' '), 5, kInvalid, "Page selection is too long."},
        RejectedCase{"", 5, kInvalid, "Page selection is empty."},
        RejectedCase{" \t \t", 5, kInvalid, "Page selection is empty."},
        RejectedCase{"1,,2", 5, kInvalid, "Page selection contains an empty item."},
        RejectedCase{",1", 5, kInvalid, "Page selection contains an empty item."},
        RejectedCase{"1,", 5, kInvalid, "Page selection contains an empty item."},
        RejectedCase{"1, \t,2", 5, kInvalid, "Page selection contains an empty item."},
        RejectedCase{"all, 3", 5, kInvalid, "\"all\" is not a page number."},
        RejectedCase{"alll", 5, kInvalid, "\"alll\" is not a page number."},
        RejectedCase{"1 3", 5, kInvalid, "\"1 3\" is not a page number."},
        RejectedCase{"1234567890", 5, kInvalid, "\"1234567890\" is not a page number."},
        RejectedCase{"0000000001", 5, kInvalid, "\"0000000001\" is not a page number."},
        RejectedCase{"+5", 5, kInvalid, "\"+5\" is not a page number."},
        RejectedCase{"1-1234567890", 5, kInvalid, "\"1-1234567890\" is not a valid page range."},
        RejectedCase{"1234567890-", 5, kInvalid, "\"1234567890-\" is not a valid page range."},
        RejectedCase{"-5", 5, kInvalid, "\"-5\" is not a valid page range."},
        RejectedCase{"-", 5, kInvalid, "\"-\" is not a valid page range."},
        RejectedCase{"1--3", 5, kInvalid, "\"1--3\" is not a valid page range."},
        RejectedCase{"1-2-3", 5, kInvalid, "\"1-2-3\" is not a valid page range."},
        RejectedCase{"1-x", 5, kInvalid, "\"1-x\" is not a valid page range."},
        RejectedCase{"1 2-3", 5, kInvalid, "\"1 2-3\" is not a valid page range."},
        // Only space and tab separate; every other character spoils its item.
        RejectedCase{"1;2", 5, kInvalid, "\"1;2\" is not a page number."},
        RejectedCase{"1\xE2\x80\x93"
                     "3",
                     5, kInvalid,
                     "\"1\xE2\x80\x93"
                     "3\" is not a page number."},
        RejectedCase{"1-\xE2\x80\x93"
                     "3",
                     5, kInvalid,
                     "\"1-\xE2\x80\x93"
                     "3\" is not a valid page range."},
        RejectedCase{"1\n2", 5, kInvalid, "\"1\n2\" is not a page number."},
        RejectedCase{"2, 1-3\n", 5, kInvalid, "\"1-3\n\" is not a valid page range."},
        RejectedCase{"1,\xFF", 5, kInvalid, "\"\xFF\" is not a page number."}));

INSTANTIATE_TEST_SUITE_P(
    Pages, RejectedSelection,
    ::testing::Values(
        RejectedCase{"0", 5, kInvalid, "Page numbers start at 1."},
        RejectedCase{"000", 5, kInvalid, "Page numbers start at 1."},
        RejectedCase{"0-3", 5, kInvalid, "Page numbers start at 1."},
        RejectedCase{"3-0", 5, kInvalid, "Page numbers start at 1."},
        RejectedCase{"5-3", 10, kInvalid, "Range \"5-3\" is reversed; use 3-5."},
        RejectedCase{"0012 - 0010", 20, kInvalid, "Range \"0012 - 0010\" is reversed; use 10-12."},
        RejectedCase{"12-", 10, kInvalid, "Range \"12-\" is reversed; use 10-12."},
        RejectedCase{"12", 10, kInvalid, "Page 12 does not exist; the document has 10 pages."},
        RejectedCase{"8-12", 10, kInvalid, "Page 12 does not exist; the document has 10 pages."},
        RejectedCase{"2", 1, kInvalid, "Page 2 does not exist; the document has 1 page."},
        RejectedCase{"999999999", 999'999'998, kInvalid,
                     "Page 999999999 does not exist; the document has 999999998 pages."},
        // The first item with a problem decides.
        RejectedCase{"12, x", 10, kInvalid, "Page 12 does not exist; the document has 10 pages."},
        RejectedCase{"x, 12", 10, kInvalid, "\"x\" is not a page number."},
        RejectedCase{"5-3, 0", 10, kInvalid, "Range \"5-3\" is reversed; use 3-5."},
        RejectedCase{"1, 2,", 10, kInvalid, "Page selection contains an empty item."}));

TEST(PageSelection, SyntaxAloneKnowsNoPageCount) {
    const std::pair<std::string, MaybeError> cases[] = {
        {"2-999999999", std::nullopt},
        {"999999999, 1-", std::nullopt},
        {"12, x", make_error(kInvalid, "\"x\" is not a page number.")},
        {"1-, 3-2", make_error(kInvalid, "Range \"3-2\" is reversed; use 2-3.")},
    };
    for (const auto& [text, problem] : cases) {
        EXPECT_EQ(check_page_selection_syntax(text), problem) << text;
    }
}

std::string repeated_open_ranges() {
    std::string text = "1-";
    while (text.size() + 4 <= 4096) {
        text += ", 1-";
    }
    return text;
}

TEST(PageSelection, RepeatedOpenRangesOnALargeDocument) {
    // Every item covers the whole document; the pages must still come out once each.
    const std::string text = repeated_open_ranges();
    ASSERT_GT(text.size(), 4090u);
    const auto result = parse_page_selection(text, 1'000'000);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(*result, pages_from_to(1, 1'000'000));
}

TEST(PageSelection, AllOnALargeDocument) {
    const auto result = parse_page_selection("ALL", 1'000'000);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, pages_from_to(1, 1'000'000));
}

}  // namespace
}  // namespace bl
