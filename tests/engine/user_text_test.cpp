// The texts a user types: the naming template and the page selection.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bl/live_checks.h"
#include "engine/naming_template.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

NamingValues values(std::string original, std::int32_t page_number, std::int32_t page_count = 12) {
    return NamingValues{std::move(original), page_number, page_count, 150};
}

std::string repeat(const std::string& piece, int count) {
    std::string text;
    while (count-- > 0) {
        text += piece;
    }
    return text;
}

TEST(NamingTemplate, RendersAndCleans) {
    const NamingValues r7 = values("r", 7);
    // Characters a file name cannot hold are replaced only in the cleaned result,
    // which has at most 200 bytes.
    const std::tuple<std::string, NamingValues, std::string> cases[] = {
        {kDefaultNamingTemplate, values("report", 7), "report_page_0007"},
        {kDefaultNamingTemplate, values("report", 12345), "report_page_12345"},
        {"{{{page_number}}}", r7, "{7}"},
        {"{page_count:000}_{dpi:00000}_{page_number}", values("r", 3), "012_00150_3"},
        {"x:{page_number}*", r7, "x_7_"},
        {"{original}.{page_number}", values("con", 7), "_con.7"},
        // Too long: {original} gives way, cut alike for every page of the document
        // (room for page 12) and at a character boundary, so that the page number
        // stays; when a device name gains its "_", one more goes.
        {kDefaultNamingTemplate, values("a" + repeat("\xC3\xA9", 100), 7),
         "a" + repeat("\xC3\xA9", 94) + "_page_0007"},
        {"{original}-{original}_{page_number}", values(std::string(150, 'b'), 7),
         std::string(98, 'b') + "-" + std::string(98, 'b') + "_7"},
        {"{original}{page_number}", values("con." + std::string(300, 'x'), 7, 9),
         "_con." + std::string(194, 'x') + "7"},
        // A template too long on its own is cut at its end.
        {"{page_number}a" + repeat("\xC3\xA9", 249), r7, "7a" + repeat("\xC3\xA9", 99)},
    };
    for (const auto& [naming_template, page, name] : cases) {
        EXPECT_EQ(render_file_name(naming_template, page).value_or("(refused)"), name)
            << naming_template;
        EXPECT_EQ(validate_naming_template(naming_template), std::nullopt) << naming_template;
    }
}

TEST(NamingTemplate, EveryEntryReportsTheFirstProblem) {
    // Each message, and templates that fail with it.
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"The naming template is empty.", {""}},
        // More than 512 bytes; characters count by their bytes.
        {"The naming template is too long.", {"{page_number}" + repeat("\xC3\xA9", 250)}},
        // Checked before anything is parsed, inside a token too.
        {"The naming template is not valid UTF-8.",
         {"{page_number}\xC3", "\xC3(x{page_number}", "\xC0\xAF{page_number}",
          "\xED\xA0\x80{page_number}", "\xED\xBF\xBF{page_number}", "\xF4\x90\x80\x80{page_number}",
          "\xF8\x90\x80\x80{page_number}", "{page_number:\xFF}"}},
        {"The naming template cannot contain folder separators.",
         {"a/{page_number}", "a\\{page_number}"}},
        {"The naming template must include {page_number}.", {"{{page_number}}", "{original}"}},
        {"Unmatched '}' in naming template; use '}}' for a literal brace.", {"{page_number}}"}},
        {"Unclosed '{' in naming template.", {"{page_number}{"}},
        {"{original} does not take a format.", {"{original:}{page_number:}"}},
        {"Padding in {page_number:0000000000} must be 1–9 digits, e.g. 0001.",
         {"{page_number:0000000000}"}},
        {"Padding in {page_count:-1} must be digits, e.g. 0001.", {"{page_count:-1}{page_number}"}},
    };
    for (const auto& [message, templates] : cases) {
        for (const std::string& naming_template : templates) {
            const auto error = make_error(ErrorKind::InvalidNamingTemplate, message);
            EXPECT_EQ(validate_naming_template(naming_template), error) << naming_template.size();
            EXPECT_EQ(test::error_of(render_file_name(naming_template, values("r", 7))), error);
        }
    }
}

TEST(SanitizeFileName, GivesAUsableName) {
    const std::string a199(199, 'a');
    // Text, limit and the clean name. Spaces and dots go from both ends; characters
    // a file name cannot hold, control characters and each byte that is not UTF-8
    // become "_"; device names get "_" in front. A cut falls on a character
    // boundary within the limit, which is never below 8 bytes, and must not bare a
    // device name hidden behind spaces or dots.
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"  ..na. me.. ", 200, "na. me"},
        {"a*b:c?d\"e<f>g|h/i\\j", 200, "a_b_c_d_e_f_g_h_i_j"},
        {std::string("\x7F\x01x\0y", 5), 200, "__x_y"},
        {"\xE2\x82\xAC\xC0\xAF", 200, "\xE2\x82\xAC__"},
        {" ..lpt3 ", 200, "_lpt3"},
        {"nul .txt", 200, "_nul .txt"},
        {a199 + "\xC3\xA9", 200, a199},
        {a199.substr(1) + "\xC3\xA9", 200, a199.substr(1) + "\xC3\xA9"},
        {"abcdefg  .  xyz", 3, "abcdefg"},
        {"COM1" + std::string(10, ' ') + "x", 8, "_COM1"},
    };
    for (const auto& [text, limit, name] : cases) {
        EXPECT_EQ(sanitize_file_name(text, limit), name) << text.substr(0, 40) << " " << limit;
    }
}

TEST(PageSelection, AcceptsAscendingUniquePages) {
    // Text, page count, the pages, and the shortest text for them, which reads
    // back as the same pages.
    const std::tuple<std::string, std::int32_t, std::vector<std::int32_t>, std::string> cases[] = {
        {" aLl\t", 3, {1, 2, 3}, "all"},
        {"1\t-\t3, 5, 8-", 10, {1, 2, 3, 5, 8, 9, 10}, "1-3, 5, 8-"},
        {"007-0008", 9, {7, 8}, "7-8"},
        {"1", 1, {1}, "all"},
        {"5-8, 1-6, 7, 10-, 4,4", 12, {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12}, "1-8, 10-"},
        {"999999998-", 999'999'999, {999'999'998, 999'999'999}, "999999998-"},
        {"2" + std::string(4095, ' '), 2, {2}, "2"},  // 4,096 bytes is still allowed
        {"1,3,4,6", 6, {1, 3, 4, 6}, "1, 3-4, 6"},
    };
    for (const auto& [text, page_count, pages, shortest] : cases) {
        EXPECT_EQ(parse_page_selection(text, page_count).value_or(std::vector<std::int32_t>{}),
                  pages)
            << text.substr(0, 40);
        EXPECT_EQ(check_page_selection_syntax(text), std::nullopt) << text.substr(0, 40);
        EXPECT_EQ(format_page_selection(pages, page_count), shortest);
        EXPECT_EQ(parse_page_selection(shortest, page_count).value_or(std::vector<std::int32_t>{}),
                  pages);
    }
    EXPECT_EQ(format_page_selection({}, 5), "");
}

TEST(PageSelection, RefusesWithTheFirstProblem) {
    const std::string none = "The document has no pages.";
    const std::string empty_item = "Page selection contains an empty item.";
    // Text, page count, the message, and whether the text alone (without a
    // document) fails the same way.
    const std::tuple<std::string, std::int32_t, std::string, bool> cases[] = {
        {"all", 0, none, false},
        {"1" + std::string(4096, ' '), 5, "Page selection is too long.", true},
        {" \t \t", 5, "Page selection is empty.", true},
        {"1, \t,2", 5, empty_item, true},
        {"all, 3", 5, "\"all\" is not a page number.", true},
        {"0000000001", 5, "\"0000000001\" is not a page number.", true},
        {"1,\xFF", 5, "\"\xFF\" is not a page number.", true},
        {"-5", 5, "\"-5\" is not a valid page range.", true},
        {"1-2-3", 5, "\"1-2-3\" is not a valid page range.", true},
        {"0", 5, "Page numbers start at 1.", true},
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
        EXPECT_EQ(syntax ? check_page_selection_syntax(text) : error, error);
    }
    // Without a document, no page is too high, but ranges still run forwards.
    EXPECT_EQ(check_page_selection_syntax("2-999999999, 1-"), std::nullopt);
    EXPECT_EQ(check_page_selection_syntax("1-, 3-2"),
              make_error(ErrorKind::InvalidPageSelection, "Range \"3-2\" is reversed; use 2-3."));
}

}  // namespace
}  // namespace bl
