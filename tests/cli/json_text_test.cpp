// What the end-to-end runs of brightleaf_convert_test cannot reach: every kind
// of text a JSON string must escape or repair, numbers that JSON cannot hold,
// and colours the command line must refuse.

#include "cli/json_text.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "cli/command_line.h"

namespace bl::cli {
namespace {

TEST(JsonText, EscapesRepairsAndRefuses) {
    const std::pair<std::string, std::string> strings[] = {
        {"say \"hi\" C:\\dir\nb\tc\rd\be\ff", R"("say \"hi\" C:\\dir\nb\tc\rd\be\ff")"},
        {std::string("nul\0\x01\x1f\x7f", 7), "\"nul\\u0000\\u0001\\u001f\x7f\""},
        // Well-formed UTF-8 passes unchanged: 2, 3 and 4 bytes, up to U+10FFFF.
        {"caf\xc3\xa9 \xe2\x82\xac \xf4\x8f\xbf\xbf",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf4\x8f\xbf\xbf\""},
        // Each byte that is not part of a well-formed sequence becomes U+FFFD:
        // stray, cut short, overlong, a surrogate, beyond U+10FFFF.
        {"\xff\x80 \xe2\x82 \xc3(", R"("\ufffd\ufffd \ufffd\ufffd \ufffd(")"},
        {"\xc0\xaf \xed\xa0\x80", R"("\ufffd\ufffd \ufffd\ufffd\ufffd")"},
        {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},
    };
    for (const auto& [text, json] : strings) {
        EXPECT_EQ(json_string(text), json) << json;
    }
    EXPECT_EQ(json_number(595.2756), "595.2756");
    for (const double odd : {NAN, INFINITY, -INFINITY}) {
        EXPECT_EQ(json_number(odd), "null");
    }
    for (const char* bad : {"", "#", "FFFFFFF", "12345G", "##FFFFFF", " FFFFFF", "0x1234"}) {
        EXPECT_FALSE(parse_colour(bad).has_value()) << bad;
    }
}

}  // namespace
}  // namespace bl::cli
