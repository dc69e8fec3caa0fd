#include "bl/convert_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace bl {
namespace {

struct NumberCase {
    double value;
    const char* text;
};

class FormatNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(FormatNumberTest, PrintsWholeNumbersPlainAndOthersFixed) {
    EXPECT_EQ(format_number(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatNumberTest,
    ::testing::Values(NumberCase{10.0, "10"}, NumberCase{600.0, "600"}, NumberCase{0.0, "0"},
                      NumberCase{-3.0, "-3"}, NumberCase{72.5, "72.500000"},
                      NumberCase{10.5, "10.500000"}, NumberCase{-0.25, "-0.250000"},
                      NumberCase{150.0000000001, "150"}, NumberCase{2147483647.0, "2147483647"},
                      NumberCase{-2147483648.0, "-2147483648"},
                      // Beyond 32 bits the value is never converted to an integer.
                      NumberCase{2147483648.0, "2147483648.000000"},
                      NumberCase{1e12, "1000000000000.000000"},
                      NumberCase{-1e12, "-1000000000000.000000"}));

TEST(FormatNumber, NonFiniteValuesDoNotCrash) {
    EXPECT_EQ(format_number(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(format_number(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_FALSE(format_number(std::nan("")).empty());
    EXPECT_EQ(format_number(1e308).size(), 316u);
}

TEST(CancellationToken, CopiesShareOneFlag) {
    CancellationToken token;
    const CancellationToken copy = token;
    EXPECT_FALSE(copy.is_cancelled());
    token.cancel();
    EXPECT_TRUE(copy.is_cancelled());
    EXPECT_TRUE(copy.flag().load());
    EXPECT_FALSE(CancellationToken().is_cancelled());
}

TEST(Deadline, NonPositiveLimitsMeanNone) {
    const auto now = Clock::now();
    EXPECT_EQ(deadline_after(0, now), kNoDeadline);
    EXPECT_EQ(deadline_after(-5, now), kNoDeadline);
    EXPECT_EQ(deadline_after(std::numeric_limits<std::int64_t>::max(), now), kNoDeadline);
    EXPECT_EQ(deadline_after(1500, now), now + std::chrono::milliseconds(1500));
}

TEST(ConvertResult, StartsEmptyWithRevisionMinusOne) {
    const ConvertResult result;
    EXPECT_EQ(result.document.security_revision, -1);
    EXPECT_EQ(result.document.page_count, 0);
    EXPECT_TRUE(result.page_results.empty());
    EXPECT_EQ(result.pages_selected + result.pages_written + result.pages_failed, 0u);
    EXPECT_FALSE(result.cancelled);
    EXPECT_FALSE(result.error.has_value());
}

TEST(ErrorKind, ValuesAreFixed) {
    EXPECT_EQ(static_cast<int>(ErrorKind::PasswordRequired), 8);
    EXPECT_EQ(static_cast<int>(ErrorKind::WrongPassword), 9);
    EXPECT_EQ(static_cast<int>(ErrorKind::OutputExists), 15);
    EXPECT_EQ(static_cast<int>(ErrorKind::Cancelled), 19);
    EXPECT_EQ(static_cast<int>(ErrorKind::InternalError), 22);
}

}  // namespace
}  // namespace bl
