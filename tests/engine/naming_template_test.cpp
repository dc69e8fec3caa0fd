#include "engine/naming_template.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/test_files.h"

namespace bl {
namespace {

NamingValues values(std::string original, std::int32_t page_number, std::int32_t page_count = 12,
                    std::int32_t dpi = 150) {
    return NamingValues{std::move(original), page_number, page_count, dpi};
}

std::string repeat(const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

TEST(NamingTemplate, RendersAndCleans) {
    const std::string wide = repeat("\xC3\xA9", 249);
    const NamingValues r7 = values("r", 7);
    // Only the number of format digits counts. Characters a file name cannot hold
    // are replaced only in the cleaned result, which has at most 200 bytes. The
    // last two templates have 512 bytes, in characters of one and of two bytes.
    // clang-format off
    const std::tuple<std::string, NamingValues, std::string> cases[] = {
        {kDefaultNamingTemplate, values("report", 7), "report_page_0007"},
        {kDefaultNamingTemplate, values("report", 12345), "report_page_12345"},
        {"{page_number}", r7, "7"},            {"{{{page_number}}}", r7, "{7}"},
        {"page_{page_number}_of_{page_count}_{dpi}dpi", values("r", 3, 12, 150),
         "page_3_of_12_150dpi"},
        {"{page_number:9999}", r7, "0007"},    {"{page_number:0}", r7, "7"},
        {"{page_number:000000000}", r7, "000000007"},
        {"{page_count:000}_{dpi:00000}_{page_number}", values("r", 3, 12, 150), "012_00150_3"},
        {"{page_number}{page_number:00}", values("r", 5), "505"},
        {"x:{page_number}*", r7, "x_7_"},
        {"\xC3\xA9t\xC3\xA9_{page_number}", r7, "\xC3\xA9t\xC3\xA9_7"},
        {"{original}.{page_number}", values("con", 7), "_con.7"},
        {"{page_number}{original}", values("\xFF", 7), "7_"},
        // Too long: {original} gives way, cut alike for every page of the
        // document (room for page 12) and at a character boundary, so that the
        // page number stays; when a device name gains its "_", one more goes.
        {"{original}{page_number}", values(std::string(250, 'a'), 7), std::string(198, 'a') + "7"},
        {kDefaultNamingTemplate, values("a" + repeat("\xC3\xA9", 100), 7),
         "a" + repeat("\xC3\xA9", 94) + "_page_0007"},
        {"{original}-{original}_{page_number}", values(std::string(150, 'b'), 7),
         std::string(98, 'b') + "-" + std::string(98, 'b') + "_7"},
        {"{original}{page_number}", values("con." + std::string(300, 'x'), 7, 9),
         "_con." + std::string(194, 'x') + "7"},
        {"{page_number}" + std::string(499, 'a'), r7, "7" + std::string(199, 'a')},
        {"{page_number}a" + wide, r7, "7a" + wide.substr(0, 198)},
    };
    // clang-format on
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
        // More than 512 bytes, whatever they hold; characters count by their bytes.
        {"The naming template is too long.",
         {std::string(513, 'a'), "{page_number}" + std::string(500, '\xFF'),
          "{page_number}" + repeat("\xC3\xA9", 250)}},
        // A continuation byte first, cut short at the end, a bad continuation,
        // overlong, a surrogate, beyond U+10FFFF, five bytes; all checked before
        // anything is parsed, inside a token too.
        {"The naming template is not valid UTF-8.",
         {"\x80{page_number}", "{page_number}\xC3", "{page_number}\xE2\x82", "\xC3(x{page_number}",
          "\xC0\xAF{page_number}", "\xE0\x80\xAF{page_number}", "\xF0\x80\x80\xAF{page_number}",
          "\xED\xA0\x80{page_number}", "\xF4\x90\x80\x80{page_number}",
          "\xF8\x88\x80\x80\x80{page_number}", "{page_number:\xFF}", "/\xFF{page_number}"}},
        {"The naming template cannot contain folder separators.",
         {"a/{page_number}", "a\\{page_number}", "{page_number}/"}},
        {"The naming template must include {page_number}.",
         {"{{page_number}}", "report", "{original}_{page_count}_{dpi}"}},
        // A token ends at the first closing brace.
        {"Unmatched '}' in naming template; use '}}' for a literal brace.",
         {"{page_number}}", "}{page_number}", "}{pages}"}},
        {"Unclosed '{' in naming template.",
         {"{page_number", "{page_number}{", "{page_number}{{{"}},
        // Names match exactly, with case; spaces are part of them.
        // clang-format off
        {"Unknown token {pages}.", {"{pages}"}},             {"Unknown token {}.", {"{}"}},
        {"Unknown token {Page_Number}.", {"{Page_Number}"}}, {"Unknown token {a/b}.", {"{a/b}"}},
        {"Unknown token { page_number}.", {"{ page_number}"}},
        {"Unknown token {pages:0001}.", {"{pages:0001}"}},
        {"Unknown token {a{b}.", {"{a{b}{page_number}"}},
        // clang-format on
        {"{original} does not take a format.",
         {"{original:}", "{original:0001}", "{original:}{page_number:}"}},
        {"Padding in {page_number:} must be 1–9 digits, e.g. 0001.", {"{page_number:}"}},
        {"Padding in {page_number:0000000000} must be 1–9 digits, e.g. 0001.",
         {"{page_number:0000000000}"}},
        {"Padding in {dpi:0000000000a} must be 1–9 digits, e.g. 0001.", {"{dpi:0000000000a}"}},
        {"Padding in {page_number:00a1} must be digits, e.g. 0001.", {"{page_number:00a1}"}},
        {"Padding in {page_count:-1} must be digits, e.g. 0001.", {"{page_count:-1}{page_number}"}},
        {"Padding in {page_number:1:2} must be digits, e.g. 0001.", {"{page_number:1:2}"}},
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

TEST(NamingTemplate, ExpandAppendsOnlyOnSuccess) {
    const NamingValues page = values("report", 7);
    std::string out = "kept:";
    // The raw expansion is not cleaned; that is render_file_name's job.
    EXPECT_EQ(expand_naming_template(kDefaultNamingTemplate, &page, &out), std::nullopt);
    EXPECT_EQ(expand_naming_template("x:{page_number}*", &page, &out), std::nullopt);
    EXPECT_EQ(out, "kept:report_page_0007x:7*");
    // A failed walk leaves the text as it was; without values or without an
    // output the walk only checks.
    EXPECT_EQ(expand_naming_template("{original}_{pages}_{page_number}", &page, &out),
              make_error(ErrorKind::InvalidNamingTemplate, "Unknown token {pages}."));
    EXPECT_EQ(expand_naming_template("{page_number}", nullptr, &out), std::nullopt);
    EXPECT_EQ(expand_naming_template("{page_number}", &page, nullptr), std::nullopt);
    EXPECT_EQ(expand_naming_template("{dpi}", nullptr, nullptr),
              make_error(ErrorKind::InvalidNamingTemplate,
                         "The naming template must include {page_number}."));
    EXPECT_EQ(out, "kept:report_page_0007x:7*");
}

TEST(SanitizeFileName, GivesAUsableName) {
    const std::string a199(199, 'a');
    // Text, limit and the clean name. Spaces and dots go from both ends; characters
    // a file name cannot hold, control characters and each byte that is not UTF-8
    // become "_"; device names get "_" in front, names that only look like them do
    // not. A cut falls on a character boundary within the limit, which is never
    // below 8 bytes, and must not bare a device name hidden behind spaces or dots.
    // clang-format off
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"report", 200, "report"},                 {"  ..name.. ", 200, "name"},
        {"...", 200, "page"},                      {"", 200, "page"},
        {"a. b .c", 200, "a. b .c"},
        {"a*b:c?d\"e<f>g|h/i\\j", 200, "a_b_c_d_e_f_g_h_i_j"},
        {"\x7F\x01x\ty\x1F", 200, "__x_y_"},       {std::string("a\0b", 3), 200, "a_b"},
        {"\xFF", 200, "_"},                        {"caf\xC3\xA9", 200, "caf\xC3\xA9"},
        {"\xE2\x82\xAC\xF0\x9F\x93\x84", 200, "\xE2\x82\xAC\xF0\x9F\x93\x84"},
        {"\xC0\xAFx", 200, "__x"},                 {"\xED\xA0\x80x", 200, "___x"},
        {"\xF4\x90\x80\x80x", 200, "____x"},       {"ab\xE2\x82", 200, "ab__"},
        {"con", 200, "_con"},                      {"Con.page_0001", 200, "_Con.page_0001"},
        {"COM1", 200, "_COM1"},                    {"lpt3 ", 200, "_lpt3"},
        {"AUX.x", 200, "_AUX.x"},                  {" ..nul", 200, "_nul"},
        {"COM\xC2\xB9", 200, "_COM\xC2\xB9"},      {"COM10", 200, "COM10"},
        {"console", 200, "console"},               {"con", 3, "_con"},
        {a199 + "\xC3\xA9", 200, a199},
        {a199.substr(1) + "\xC3\xA9", 200, a199.substr(1) + "\xC3\xA9"},
        {a199.substr(2) + "\xF0\x9F\x93\x84", 200, a199.substr(2)},
        {std::string(201, 'a'), 200, std::string(200, 'a')},
        {std::string(300, 'a'), 255, std::string(255, 'a')},
        {std::string(250, '\xFF'), 200, std::string(200, '_')},
        {"a" + std::string(300, ' ') + "b", 200, "a"},
        {"...." + std::string(300, 'b'), 200, std::string(200, 'b')},
        {"abcdefghij", 3, "abcdefgh"},             {"abcdefg  .  xyz", 8, "abcdefg"},
        {std::string(150, 'a') + "con", 150, std::string(150, 'a')},
        {"COM1" + std::string(10, ' ') + "x", 8, "_COM1"},
        {"aux......x", 8, "_aux"},
    };
    // clang-format on
    for (const auto& [text, limit, name] : cases) {
        EXPECT_EQ(sanitize_file_name(text, limit), name) << text.substr(0, 40) << " " << limit;
    }
}

TEST(SanitizeFileName, RecognisesReservedDeviceNames) {
    for (const std::string name :
         {"CON", "con", "pRn", "AUX.x", "Nul.tar.gz", "CON  .txt", "lpt3 ", "COM0", "LPT9",
          "COM\xC2\xB9", "lpt\xC2\xB2", "COM\xC2\xB3.x", "COM\xC2\xB9 "}) {
        EXPECT_TRUE(is_reserved_device_name(name)) << name;
    }
    for (const std::string name :
         {" CON", "CONSOLE", "COM10", "NUL0", "COM", "LPT", "COMa", "COM\xE2\x81\xB4",
          "COM\xC2\xB4", "CO", "", ".", "_con", "CON\xC2\xB9"}) {
        EXPECT_FALSE(is_reserved_device_name(name)) << name;
    }
}

TEST(FormatPadded, PadsOnTheLeft) {
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    const std::tuple<std::int64_t, std::int32_t, std::string> cases[] = {
        {7, 4, "0007"},
        {12345, 4, "12345"},
        {1234, 4, "1234"},
        {0, 1, "0"},
        {0, 3, "000"},
        {7, 0, "7"},
        {7, -3, "7"},
        {150, 9, "000000150"},
        {-5, 4, "-005"},
        {-5, 1, "-5"},  // the zeros go after the sign
        {kMin, 0, "-9223372036854775808"},
        {kMax, 25, "0000009223372036854775807"},
    };
    for (const auto& [number, width, text] : cases) {
        EXPECT_EQ(format_padded(number, width), text) << number << " width " << width;
    }
}

}  // namespace
}  // namespace bl
