#include "devicelist/leadingnumber.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

namespace devicelist {
namespace {

struct LeadingNumberCase {
    const char* name;
    std::string text;
    int expected;
};

class LeadingNumberTest : public ::testing::TestWithParam<LeadingNumberCase> { };

TEST_P(LeadingNumberTest, ReadsLikeAtoiButSaturates)
{
    EXPECT_EQ(LeadingNumber(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingNumberTest,
    ::testing::Values(LeadingNumberCase{"Plain", "90", 90}, LeadingNumberCase{"Empty", "", 0},
        LeadingNumberCase{"NoDigits", "N/A", 0}, LeadingNumberCase{"StopsAtDot", "192.168", 192},
        LeadingNumberCase{"LeadingSpace", " \t\n42", 42}, LeadingNumberCase{"Plus", "+7x", 7},
        LeadingNumberCase{"Minus", "-12", -12}, LeadingNumberCase{"SignOnly", "-", 0},
        LeadingNumberCase{"SpaceAfterSign", "- 5", 0}, LeadingNumberCase{"IntMax", "2147483647", INT_MAX},
        LeadingNumberCase{"JustAboveIntMax", "2147483648", INT_MAX},
        LeadingNumberCase{"IntMin", "-2147483648", INT_MIN}, LeadingNumberCase{"BelowIntMin", "-2147483649", INT_MIN},
        LeadingNumberCase{"FourThousandDigits", std::string(4000, '9'), INT_MAX},
        LeadingNumberCase{"ManyLeadingZeros", std::string(4000, '0') + "17", 17}),
    [](const ::testing::TestParamInfo<LeadingNumberCase>& info) { return std::string(info.param.name); });

TEST(LeadingNumberBoundsTest, DigitsRunningToTheEndOfAnUnterminatedBuffer)
{
    // Exactly four bytes, no terminator: ASan reports any read beyond them.
    const auto buffer = std::make_unique<char[]>(4);
    std::copy_n("1234", 4, buffer.get());
    EXPECT_EQ(LeadingNumber(std::string_view(buffer.get(), 4)), 1234);
}

} // namespace
} // namespace devicelist
