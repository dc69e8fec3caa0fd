#include "engine/naming_template.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <string>

namespace bl {
namespace {

NamingValues values(std::string original, std::int32_t page_number, std::int32_t page_count = 12,
                    std::int32_t dpi = 150) {
    return NamingValues{std::move(original), page_number, page_count, dpi};
}

// Well-formed UTF-8 after the Unicode standard's table of byte ranges, written
// independently of the engine's decoder.
bool is_well_formed_utf8(std::string_view text) {
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const auto in = [](unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    while (i < text.size()) {
        const unsigned char b = at(i);
        std::size_t n = 0;
        unsigned lo = 0x80;
        unsigned hi = 0xBF;
        if (b <= 0x7F) {
            n = 1;
        } else if (in(b, 0xC2, 0xDF)) {
            n = 2;
        } else if (b == 0xE0) {
            n = 3;
            lo = 0xA0;
        } else if (in(b, 0xE1, 0xEC) || in(b, 0xEE, 0xEF)) {
            n = 3;
        } else if (b == 0xED) {
            n = 3;
            hi = 0x9F;
        } else if (b == 0xF0) {
            n = 4;
            lo = 0x90;
        } else if (in(b, 0xF1, 0xF3)) {
            n = 4;
        } else if (b == 0xF4) {
            n = 4;
            hi = 0x8F;
        } else {
            return false;
        }
        if (text.size() - i < n || (n > 1 && !in(at(i + 1), lo, hi))) {
            return false;
        }
        for (std::size_t k = 2; k < n; ++k) {
            if (!in(at(i + k), 0x80, 0xBF)) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

// ---- Rendering ----

struct RenderCase {
    std::string naming_template;
    NamingValues values;
    std::string name;
};

void PrintTo(const RenderCase& c, std::ostream* os) {
    *os << '\'' << c.naming_template << '\'';
}

class RenderFileName : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderFileName, ExpandsAndCleans) {
    const auto name = render_file_name(GetParam().naming_template, GetParam().values);
    ASSERT_TRUE(name.has_value()) << name.error().message;
    EXPECT_EQ(*name, GetParam().name);
    EXPECT_FALSE(validate_naming_template(GetParam().naming_template).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderFileName,
    ::testing::Values(
        RenderCase{kDefaultNamingTemplate, values("report", 7), "report_page_0007"},
        RenderCase{kDefaultNamingTemplate, values("report", 12345), "report_page_12345"},
        RenderCase{"{page_number}", values("report", 7), "7"},
        RenderCase{"{{{page_number}}}", values("report", 7), "{7}"},
        RenderCase{"{{}}{page_number}", values("report", 7), "{}7"},
        RenderCase{"page_{page_number}_of_{page_count}_{dpi}dpi", values("r", 3, 12, 150),
                   "page_3_of_12_150dpi"},
        // Only the number of format digits counts.
        RenderCase{"{page_number:1111}", values("r", 7), "0007"},
        RenderCase{"{page_number:9999}", values("r", 7), "0007"},
        RenderCase{"{page_number:0}", values("r", 7), "7"},
        RenderCase{"{page_number:000000000}", values("r", 7), "000000007"},
        RenderCase{"{page_count:000}_{dpi:00000}_{page_number}", values("r", 3, 12, 150),
                   "012_00150_3"},
        RenderCase{"{page_number}{page_number:00}", values("r", 5), "505"},
        // Characters a file name cannot hold are replaced only in the cleaned result.
        RenderCase{"x:{page_number}*", values("r", 7), "x_7_"},
        RenderCase{"{page_number}\x01<>|\"?", values("r", 7), "7______"},
        RenderCase{"\xC3\xA9t\xC3\xA9_{page_number}", values("r", 7), "\xC3\xA9t\xC3\xA9_7"},
        RenderCase{"  ..{page_number}.. ", values("r", 7), "7"},
        RenderCase{"{original}.{page_number}", values("con", 7), "_con.7"},
        RenderCase{"{original}_{page_number}", values("CON", 1), "CON_1"},
        RenderCase{"{page_number}{original}", values("\xFF", 7), "7_"},
        RenderCase{"{original}{page_number}", values(std::string(250, 'a'), 7),
                   std::string(200, 'a')}));

// ---- Template errors ----

struct TemplateErrorCase {
    std::string naming_template;
    std::string message;
};

void PrintTo(const TemplateErrorCase& c, std::ostream* os) {
    *os << '\'' << c.naming_template.substr(0, 40) << '\'';
}

class TemplateError : public ::testing::TestWithParam<TemplateErrorCase> {};

void expect_template_error(const ConvertError& error, const std::string& message) {
    EXPECT_EQ(error.message, message);
    EXPECT_EQ(error.kind, ErrorKind::InvalidNamingTemplate);
    EXPECT_EQ(error.page, 0u);
}

TEST_P(TemplateError, IsReportedByEveryEntry) {
    const MaybeError error = validate_naming_template(GetParam().naming_template);
    ASSERT_TRUE(error.has_value());
    expect_template_error(*error, GetParam().message);
    const auto rendered = render_file_name(GetParam().naming_template, values("r", 7));
    ASSERT_FALSE(rendered.has_value());
    expect_template_error(rendered.error(), GetParam().message);
}

const std::string kInvalidUtf8 = "The naming template is not valid UTF-8.";
const std::string kSeparators = "The naming template cannot contain folder separators.";
const std::string kNoPageNumber = "The naming template must include {page_number}.";
const std::string kUnmatched = "Unmatched '}' in naming template; use '}}' for a literal brace.";
const std::string kUnclosed = "Unclosed '{' in naming template.";
const std::string kOriginalFormat = "{original} does not take a format.";

INSTANTIATE_TEST_SUITE_P(
    Text, TemplateError,
    ::testing::Values(TemplateErrorCase{"", "The naming template is empty."},
                      TemplateErrorCase{std::string(513, 'a'), "The naming template is too long."},
                      TemplateErrorCase{"{page_number}" + std::string(500, '\xFF'),
                                        "The naming template is too long."},
                      TemplateErrorCase{"\x80{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"{page_number}\xC3", kInvalidUtf8},
                      TemplateErrorCase{"{page_number}\xE2\x82", kInvalidUtf8},
                      TemplateErrorCase{"\xC3(x{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"\xC0\xAF{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"\xE0\x80\xAF{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"\xF0\x80\x80\xAF{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"\xED\xA0\x80{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"\xF4\x90\x80\x80{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"\xF8\x88\x80\x80\x80{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"{page_number}\xFF", kInvalidUtf8},
                      // Inside a token the bytes are checked before anything is parsed.
                      TemplateErrorCase{"{page_number:\xFF}", kInvalidUtf8},
                      TemplateErrorCase{"/\xFF{page_number}", kInvalidUtf8},
                      TemplateErrorCase{"a/{page_number}", kSeparators},
                      TemplateErrorCase{"a\\{page_number}", kSeparators},
                      TemplateErrorCase{"{page_number}/", kSeparators}));

INSTANTIATE_TEST_SUITE_P(Braces, TemplateError,
                         ::testing::Values(TemplateErrorCase{"{{page_number}}", kNoPageNumber},
                                           TemplateErrorCase{"report", kNoPageNumber},
                                           TemplateErrorCase{"{original}_{page_count}_{dpi}",
                                                             kNoPageNumber},
                                           TemplateErrorCase{"{page_number}}", kUnmatched},
                                           TemplateErrorCase{"}{page_number}", kUnmatched},
                                           TemplateErrorCase{"}{pages}", kUnmatched},
                                           TemplateErrorCase{"{page_number", kUnclosed},
                                           TemplateErrorCase{"{page_number}{", kUnclosed},
                                           TemplateErrorCase{"{page_number}{{{", kUnclosed}));

INSTANTIATE_TEST_SUITE_P(
    Tokens, TemplateError,
    ::testing::Values(
        TemplateErrorCase{"{pages}", "Unknown token {pages}."},
        TemplateErrorCase{"{}", "Unknown token {}."},
        TemplateErrorCase{"{Page_Number}", "Unknown token {Page_Number}."},
        TemplateErrorCase{"{ page_number}", "Unknown token { page_number}."},
        TemplateErrorCase{"{pages:0001}", "Unknown token {pages:0001}."},
        TemplateErrorCase{"{a/b}", "Unknown token {a/b}."},
        TemplateErrorCase{"{a\\b}", "Unknown token {a\\b}."},
        TemplateErrorCase{"{a{b}{page_number}", "Unknown token {a{b}."},
        TemplateErrorCase{"{original:}", kOriginalFormat},
        TemplateErrorCase{"{original:0001}", kOriginalFormat},
        TemplateErrorCase{"{original:}{page_number:}", kOriginalFormat},
        TemplateErrorCase{"{page_number:}",
                          "Padding in {page_number:} must be 1–9 digits, e.g. 0001."},
        TemplateErrorCase{"{page_number:0000000000}",
                          "Padding in {page_number:0000000000} must be 1–9 digits, e.g. 0001."},
        TemplateErrorCase{"{dpi:0000000000a}",
                          "Padding in {dpi:0000000000a} must be 1–9 digits, e.g. 0001."},
        TemplateErrorCase{"{page_number:00a1}",
                          "Padding in {page_number:00a1} must be digits, e.g. 0001."},
        TemplateErrorCase{"{page_count:-1}{page_number}",
                          "Padding in {page_count:-1} must be digits, e.g. 0001."},
        TemplateErrorCase{"{page_number: 1}",
                          "Padding in {page_number: 1} must be digits, e.g. 0001."},
        TemplateErrorCase{"{page_number:1:2}",
                          "Padding in {page_number:1:2} must be digits, e.g. 0001."}));

TEST(NamingTemplate, LengthLimitIs512Bytes) {
    const std::string at_limit = "{page_number}" + std::string(499, 'a');
    ASSERT_EQ(at_limit.size(), 512u);
    EXPECT_FALSE(validate_naming_template(at_limit).has_value());
    // Multi-byte characters count by their bytes.
    std::string wide = "{page_number}";
    while (wide.size() + 2 <= 512) {
        wide += "\xC3\xA9";
    }
    EXPECT_FALSE(validate_naming_template(wide).has_value());
    EXPECT_TRUE(validate_naming_template(wide + "\xC3\xA9").has_value());
}

TEST(NamingTemplate, ExpandAppendsOnlyOnSuccess) {
    const NamingValues page = values("report", 7);
    std::string out = "kept:";
    EXPECT_FALSE(expand_naming_template(kDefaultNamingTemplate, &page, &out).has_value());
    EXPECT_EQ(out, "kept:report_page_0007");
    // The raw expansion is not cleaned; that is render_file_name's job.
    EXPECT_FALSE(expand_naming_template("x:{page_number}*", &page, &out).has_value());
    EXPECT_EQ(out, "kept:report_page_0007x:7*");

    std::string untouched = "kept";
    const auto error =
        expand_naming_template("{original}_{pages}_{page_number}", &page, &untouched);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->message, "Unknown token {pages}.");
    EXPECT_EQ(untouched, "kept");

    // Without values or without an output it only checks.
    EXPECT_FALSE(expand_naming_template("{page_number}", nullptr, &untouched).has_value());
    EXPECT_FALSE(expand_naming_template("{page_number}", &page, nullptr).has_value());
    EXPECT_EQ(untouched, "kept");
    EXPECT_EQ(expand_naming_template("{dpi}", nullptr, nullptr)->message, kNoPageNumber);
}

// ---- File name cleaning ----

struct CleanCase {
    std::string text;
    std::size_t limit;
    std::string name;
};

void PrintTo(const CleanCase& c, std::ostream* os) {
    *os << '\'' << c.text.substr(0, 40) << "' limit " << c.limit;
}

class SanitizeFileName : public ::testing::TestWithParam<CleanCase> {};

TEST_P(SanitizeFileName, GivesAUsableName) {
    EXPECT_EQ(sanitize_file_name(GetParam().text, GetParam().limit), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, SanitizeFileName,
    ::testing::Values(CleanCase{"report", 200, "report"}, CleanCase{"  ..name.. ", 200, "name"},
                      CleanCase{"...", 200, "page"}, CleanCase{"", 200, "page"},
                      CleanCase{" . ", 200, "page"}, CleanCase{"a. b .c", 200, "a. b .c"},
                      CleanCase{"a*b:c?d\"e<f>g|h/i\\j", 200, "a_b_c_d_e_f_g_h_i_j"},
                      CleanCase{"\x7F\x01x\ty\x1F", 200, "__x_y_"},
                      CleanCase{"a\xFF"
                                "b",
                                200, "a_b"},
                      CleanCase{"\xFF", 200, "_"}, CleanCase{"caf\xC3\xA9", 200, "caf\xC3\xA9"},
                      CleanCase{"\xE2\x82\xAC\xF0\x9F\x93\x84", 200,
                                "\xE2\x82\xAC\xF0\x9F\x93\x84"},
                      CleanCase{"\xC0\xAFx", 200, "__x"}, CleanCase{"\xED\xA0\x80x", 200, "___x"},
                      CleanCase{"\xF4\x90\x80\x80x", 200, "____x"},
                      CleanCase{"ab\xE2\x82", 200, "ab__"}, CleanCase{"\xE2\x82 x", 200, "__ x"},
                      CleanCase{"\x80\xBF", 200, "__"},
                      CleanCase{std::string("a\0b", 3), 200, "a_b"}));

INSTANTIATE_TEST_SUITE_P(
    DeviceNames, SanitizeFileName,
    ::testing::Values(CleanCase{"con", 200, "_con"},
                      CleanCase{"Con.page_0001", 200, "_Con.page_0001"},
                      CleanCase{"COM1", 200, "_COM1"}, CleanCase{"lpt3 ", 200, "_lpt3"},
                      CleanCase{"AUX.x", 200, "_AUX.x"}, CleanCase{" ..nul", 200, "_nul"},
                      CleanCase{"COM\xC2\xB9", 200, "_COM\xC2\xB9"},
                      CleanCase{"COM10", 200, "COM10"}, CleanCase{"console", 200, "console"},
                      CleanCase{"NUL0", 200, "NUL0"}, CleanCase{"con", 3, "_con"},
                      // Cutting must not bare a device name hidden behind the spaces.
                      CleanCase{"COM1" + std::string(10, ' ') + "x", 8, "_COM1"},
                      CleanCase{"aux......x", 8, "_aux"}));

INSTANTIATE_TEST_SUITE_P(
    Limits, SanitizeFileName,
    ::testing::Values(
        CleanCase{std::string(199, 'a') + "\xC3\xA9", 200, std::string(199, 'a')},
        CleanCase{std::string(198, 'a') + "\xE2\x82\xAC", 200, std::string(198, 'a')},
        CleanCase{std::string(197, 'a') + "\xF0\x9F\x93\x84", 200, std::string(197, 'a')},
        CleanCase{std::string(198, 'a') + "\xC3\xA9", 200, std::string(198, 'a') + "\xC3\xA9"},
        CleanCase{std::string(201, 'a'), 200, std::string(200, 'a')},
        CleanCase{std::string(300, 'a'), 255, std::string(255, 'a')},
        CleanCase{std::string(250, '\xFF'), 200, std::string(200, '_')},
        CleanCase{"a" + std::string(300, ' ') + "b", 200, "a"},
        CleanCase{"...." + std::string(300, 'b'), 200, std::string(200, 'b')},
        CleanCase{"abcdefghij", 3, "abcdefgh"}, CleanCase{"abcdefghij", 0, "abcdefgh"},
        CleanCase{"abcdefg  .  xyz", 8, "abcdefg"},
        CleanCase{std::string(150, 'a') + "con", 150, std::string(150, 'a')}));

struct ReservedCase {
    std::string text;
    bool reserved;
};

void PrintTo(const ReservedCase& c, std::ostream* os) {
    *os << '\'' << c.text << '\'';
}

class ReservedDeviceName : public ::testing::TestWithParam<ReservedCase> {};

TEST_P(ReservedDeviceName, Recognises) {
    EXPECT_EQ(is_reserved_device_name(GetParam().text), GetParam().reserved);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReservedDeviceName,
    ::testing::Values(ReservedCase{"CON", true}, ReservedCase{"con", true},
                      ReservedCase{"pRn", true}, ReservedCase{"AUX.x", true},
                      ReservedCase{"Nul.tar.gz", true}, ReservedCase{"CON  .txt", true},
                      ReservedCase{"lpt3 ", true}, ReservedCase{"COM0", true},
                      ReservedCase{"LPT9", true}, ReservedCase{"COM\xC2\xB9", true},
                      ReservedCase{"lpt\xC2\xB2", true}, ReservedCase{"COM\xC2\xB3.x", true},
                      ReservedCase{"COM\xC2\xB9 ", true}, ReservedCase{" CON", false},
                      ReservedCase{"CONSOLE", false}, ReservedCase{"COM10", false},
                      ReservedCase{"NUL0", false}, ReservedCase{"COM", false},
                      ReservedCase{"LPT", false}, ReservedCase{"COMa", false},
                      ReservedCase{"COM\xE2\x81\xB4", false}, ReservedCase{"COM\xC2\xB4", false},
                      ReservedCase{"CO", false}, ReservedCase{"", false}, ReservedCase{".", false},
                      ReservedCase{"_con", false}, ReservedCase{"CON\xC2\xB9", false}));

struct PaddedCase {
    std::int64_t number;
    std::int32_t width;
    std::string text;
};

void PrintTo(const PaddedCase& c, std::ostream* os) {
    *os << c.number << " width " << c.width;
}

class FormatPadded : public ::testing::TestWithParam<PaddedCase> {};

TEST_P(FormatPadded, PadsOnTheLeft) {
    EXPECT_EQ(format_padded(GetParam().number, GetParam().width), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatPadded,
                         ::testing::Values(PaddedCase{7, 4, "0007"}, PaddedCase{12345, 4, "12345"},
                                           PaddedCase{1234, 4, "1234"}, PaddedCase{0, 1, "0"},
                                           PaddedCase{0, 3, "000"}, PaddedCase{7, 0, "7"},
                                           PaddedCase{7, -3, "7"}, PaddedCase{150, 9, "000000150"},
                                           // The zeros go after the sign.
                                           PaddedCase{-5, 4, "-005"}, PaddedCase{-5, 1, "-5"},
                                           PaddedCase{std::numeric_limits<std::int64_t>::min(), 0,
                                                      "-9223372036854775808"},
                                           PaddedCase{std::numeric_limits<std::int64_t>::max(), 25,
                                                      "0000009223372036854775807"}));

// ---- Robustness ----

// Random byte strings, built mostly from pieces that reach deep into the
// template walk and the cleaning, must never break the invariants.
TEST(NamingTemplate, RandomBytesKeepTheInvariants) {
    // Tokens and plain text mostly make valid templates; the other pieces break them.
    static const char* const tokens[] = {"{page_number}", "{page_number:0001}", "{page_count:00}",
                                         "{dpi}", "{original}"};
    // clang-format off
    static const char* const text_pieces[] = {
        "{{", "}}", " ", ".", ":", "*", "a", "CON", "com1", "LPT", "\xC2\xB9", "\xC3\xA9",
        "\xE2\x80\x93", "\xF0\x9F\x93\x84", "\x01"};
    // clang-format on
    static const char* const bad[] = {"{",           "}",        "/",    "\\",
                                      "page_number", "0",        "\xC0", "\x80",
                                      "\xED\xA0",    "\xF4\x90", "\xFF", "\xE2\x82"};
    std::mt19937 random(7031);
    const NamingValues page = values("st\xC3\xA9m", 7, 31, 300);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        if (round % 4 == 0) {
            text.resize(random() % 700);
            for (char& c : text) {
                c = static_cast<char>(random() % 256);
            }
        } else {
            const std::size_t piece_count = random() % 60;
            for (std::size_t i = 0; i < piece_count; ++i) {
                const auto kind = random() % 8;
                text += kind < 2   ? tokens[random() % std::size(tokens)]
                        : kind < 7 ? text_pieces[random() % std::size(text_pieces)]
                                   : bad[random() % std::size(bad)];
            }
        }
        // An exactly sized copy lets the address sanitizer see any read past the end.
        const auto buffer = std::make_unique<char[]>(text.size());
        std::copy(text.begin(), text.end(), buffer.get());
        const std::string_view view(buffer.get(), text.size());
        SCOPED_TRACE(::testing::PrintToString(text.substr(0, 80)));

        const std::size_t limits[] = {0, 7, 8, 9, 13, 200, 255, random() % 600};
        for (const std::size_t limit : limits) {
            const std::string name = sanitize_file_name(view, limit);
            ASSERT_FALSE(name.empty());
            ASSERT_LE(name.size(), std::max<std::size_t>(limit, 8));
            ASSERT_TRUE(is_well_formed_utf8(name));
            ASSERT_NE(name.front(), ' ');
            ASSERT_NE(name.front(), '.');
            ASSERT_NE(name.back(), ' ');
            ASSERT_NE(name.back(), '.');
            ASSERT_FALSE(is_reserved_device_name(name));
            ASSERT_EQ(name.find_first_of(std::string("\"*/:<>?\\|\x7F\0", 11)), std::string::npos);
            ASSERT_TRUE(
                std::none_of(name.begin(), name.end(), [](char c) { return c >= 0 && c < 0x20; }));
            // A clean name stays as it is.
            ASSERT_EQ(sanitize_file_name(name, limit), name);
        }

        const MaybeError error = validate_naming_template(view);
        std::string expanded = "x";
        ASSERT_EQ(expand_naming_template(view, &page, &expanded), error);
        const auto rendered = render_file_name(view, page);
        if (error) {
            EXPECT_EQ(error->kind, ErrorKind::InvalidNamingTemplate);
            EXPECT_EQ(error->page, 0u);
            EXPECT_EQ(expanded, "x");
            ASSERT_FALSE(rendered.has_value());
            EXPECT_EQ(rendered.error(), *error);
        } else {
            ASSERT_TRUE(rendered.has_value());
            EXPECT_EQ(*rendered, sanitize_file_name(expanded.substr(1), 200));
            EXPECT_NE(expanded.find('7'), std::string::npos);
        }
        is_reserved_device_name(view);
    }
}

}  // namespace
}  // namespace bl
