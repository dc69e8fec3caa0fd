#include "cli/json_text.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "cli/conversion_run.h"

namespace bl::cli {
namespace {

TEST(JsonString, EscapesAndRepairsEveryKindOfText) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"report.pdf", R"("report.pdf")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"C:\\dir", R"("C:\\dir")"},
        {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
        {std::string("nul\0end", 7), R"("nul\u0000end")"},
        {"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
        // Well-formed UTF-8 passes unchanged: 2, 3 and 4 bytes.
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x84",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x84\""},
        // Each byte that is not part of a well-formed sequence becomes U+FFFD.
        {"bad\xff", R"("bad\ufffd")"},
        {"\x80", R"("\ufffd")"},
        {"cut \xe2\x82", R"("cut \ufffd\ufffd")"},
        {"\xc3(", R"("\ufffd(")"},
        {"overlong \xc0\xaf \xe0\x80\xaf", R"("overlong \ufffd\ufffd \ufffd\ufffd\ufffd")"},
        {"surrogate \xed\xa0\x80", R"("surrogate \ufffd\ufffd\ufffd")"},
        {"too high \xf4\x90\x80\x80", R"("too high \ufffd\ufffd\ufffd\ufffd")"},
        {"max \xf4\x8f\xbf\xbf", "\"max \xf4\x8f\xbf\xbf\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(json_string(c.input), c.expected) << c.expected;
    }
}

TEST(JsonNumber, WritesShortestExactFormAndNullForNonFinite) {
    EXPECT_EQ(json_number(612.0), "612");
    EXPECT_EQ(json_number(0.1), "0.1");
    EXPECT_EQ(json_number(-2.5), "-2.5");
    EXPECT_EQ(json_number(595.2756), "595.2756");
    EXPECT_EQ(json_number(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(json_number(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(json_number(-std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonWriter, SeparatesMembersAndElements) {
    JsonWriter json;
    json.begin_object()
        .key("file")
        .string("a.pdf")
        .key("pages")
        .begin_array()
        .integer(1)
        .unsigned_integer(2)
        .begin_object()
        .end_object()
        .begin_array()
        .end_array()
        .end_array()
        .key("ok")
        .boolean(true)
        .key("error")
        .null()
        .key("ms")
        .number(1.5)
        .end_object();
    EXPECT_EQ(json.text(),
              R"({"file":"a.pdf","pages":[1,2,{},[]],"ok":true,"error":null,"ms":1.5})");
}

TEST(Colour, AcceptsSixHexDigitsWithOptionalHash) {
    EXPECT_EQ(parse_colour("FFFFFF"), (Rgb{255, 255, 255}));
    EXPECT_EQ(parse_colour("#1a2B3c"), (Rgb{0x1a, 0x2b, 0x3c}));
    for (const char* bad : {"", "#", "FFF", "FFFFFFF", "12345G", "##FFFFFF", " FFFFFF", "0x1234"}) {
        EXPECT_FALSE(parse_colour(bad).has_value()) << bad;
    }
}

TEST(DocumentText, VersionAndPageSize) {
    EXPECT_EQ(pdf_version_text(17), "1.7");
    EXPECT_EQ(pdf_version_text(20), "2.0");
    EXPECT_EQ(pdf_version_text(0), "unknown");
    EXPECT_EQ(page_size_text({612.0, 792.0}), "612 x 792 pt (215.9 x 279.4 mm)");
    EXPECT_EQ(page_size_text({595.276, 841.89}), "595.28 x 841.89 pt (210 x 297 mm)");
}

}  // namespace
}  // namespace bl::cli
