#include "engine/naming_template.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/test_files.h"

namespace bl {
namespace {

NamingValues values(std::string original, std::int32_t page_number, std::int32_t page_count = 12) {
    return NamingValues{std::move(original), page_number, page_count, 150};
}

std::string repeat(const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
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
        {"{page_number:9999}{page_number:0}", r7, "00077"},
        {"x:{page_number}*", r7, "x_7_"},
        {"{original}.{page_number}", values("con", 7), "_con.7"},
        {"{page_number}{original}", values("\xFF", 7), "7_"},
        // Too long: {original} gives way, cut alike for every page of the document
        // (room for page 12) and at a character boundary, so that the page number
        // stays; when a device name gains its "_", one more goes.
        {"{original}{page_number}", values(std::string(250, 'a'), 7), std::string(198, 'a') + "7"},
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
        {"The naming template is too long.",
         {std::string(513, 'a'), "{page_number}" + repeat("\xC3\xA9", 250)}},
        // Checked before anything is parsed, inside a token too.
        {"The naming template is not valid UTF-8.",
         {"{page_number}\xC3", "\xC0\xAF{page_number}", "\xED\xA0\x80{page_number}",
          "\xF4\x90\x80\x80{page_number}", "{page_number:\xFF}"}},
        {"The naming template cannot contain folder separators.",
         {"a/{page_number}", "a\\{page_number}"}},
        {"The naming template must include {page_number}.", {"{{page_number}}", "{original}"}},
        {"Unmatched '}' in naming template; use '}}' for a literal brace.", {"{page_number}}"}},
        {"Unclosed '{' in naming template.", {"{page_number}{"}},
        {"Unknown token {Page_Number}.", {"{Page_Number}"}},
        {"Unknown token {a{b}.", {"{a{b}{page_number}"}},
        {"{original} does not take a format.", {"{original:}{page_number:}"}},
        {"Padding in {page_number:0000000000} must be 1–9 digits, e.g. 0001.",
         {"{page_number:0000000000}"}},
        {"Padding in {page_count:-1} must be digits, e.g. 0001.", {"{page_count:-1}{page_number}"}},
    };
    for (const auto& [message, templates] : cases) {
        const auto error = make_error(ErrorKind::InvalidNamingTemplate, message);
        for (const std::string& naming_template : templates) {
            const std::string shown = naming_template.substr(0, 40);
            EXPECT_EQ(validate_naming_template(naming_template), error) << shown;
            EXPECT_EQ(test::error_of(render_file_name(naming_template, values("r", 7))), error)
                << shown;
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
        {"...", 200, "page"},
        {"a*b:c?d\"e<f>g|h/i\\j", 200, "a_b_c_d_e_f_g_h_i_j"},
        {std::string("\x7F\x01x\0y", 5), 200, "__x_y"},
        {"\xE2\x82\xAC\xC0\xAF", 200, "\xE2\x82\xAC__"},
        {"Con.page_0001", 200, "_Con.page_0001"},
        {"AUX.x", 200, "_AUX.x"},
        {" ..lpt3 ", 200, "_lpt3"},
        {"COM\xC2\xB9", 200, "_COM\xC2\xB9"},
        {"COM10", 200, "COM10"},
        {"console", 200, "console"},
        {a199 + "\xC3\xA9", 200, a199},
        {a199.substr(1) + "\xC3\xA9", 200, a199.substr(1) + "\xC3\xA9"},
        {std::string(250, '\xFF'), 200, std::string(200, '_')},
        {"abcdefg  .  xyz", 3, "abcdefg"},
        {"COM1" + std::string(10, ' ') + "x", 8, "_COM1"},
    };
    for (const auto& [text, limit, name] : cases) {
        EXPECT_EQ(sanitize_file_name(text, limit), name) << text.substr(0, 40) << " " << limit;
    }
}

}  // namespace
}  // namespace bl
