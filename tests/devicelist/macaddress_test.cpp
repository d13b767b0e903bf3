#include "devicelist/macaddress.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace devicelist {
namespace {

TEST(MacAddressTest, FormatsUpperCaseWithLeadingZeros)
{
    EXPECT_EQ(FormatMac({0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}), "00-30-11-0A-BC-0F");
    EXPECT_EQ(FormatMac({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "FF-FF-FF-FF-FF-FF");
}

TEST(MacAddressTest, EveryFormattedByteReadsBack)
{
    for (int value = 0; value < 256; ++value) {
        const auto b = static_cast<std::uint8_t>(value);
        const MacAddress mac{b, static_cast<std::uint8_t>(255 - value), 0x30, b, 0x00, b};
        EXPECT_EQ(ParseRowMac(FormatMac(mac)), mac) << FormatMac(mac);
    }
}

struct ParseCase {
    const char* name;
    std::string text;
    std::optional<MacAddress> expected;
};

class ParseRowMacTest : public ::testing::TestWithParam<ParseCase> { };

TEST_P(ParseRowMacTest, ReadsLikeScanfHexWithLow8Bits)
{
    EXPECT_EQ(ParseRowMac(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseRowMacTest,
    ::testing::Values(ParseCase{"LowerCase", "00-30-11-0a-bc-0f", MacAddress{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}},
        ParseCase{"SingleDigits", "0-3-1-a-b-f", MacAddress{0x0, 0x3, 0x1, 0xA, 0xB, 0xF}},
        ParseCase{"ThreeDigitNumberKeepsLowByte", "123-1-2-3-4-5", MacAddress{0x23, 1, 2, 3, 4, 5}},
        ParseCase{"SpacesBeforeNumbers", " 1- 2-3-4-5-6", MacAddress{1, 2, 3, 4, 5, 6}},
        ParseCase{"HexPrefix", "0x1-2-3-4-5-6", MacAddress{1, 2, 3, 4, 5, 6}},
        ParseCase{"NegativeNumber", "-1-2-3-4-5-6", MacAddress{0xFF, 2, 3, 4, 5, 6}},
        ParseCase{
            "OnlySeventeenCharactersAreRead", "00-30-11-0A-BC-0F12", MacAddress{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}},
        ParseCase{"LastNumberCutAtSeventeen", "000-30-11-0A-BC-0F", MacAddress{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x00}},
        ParseCase{"NotAvailable", "N/A", std::nullopt}, ParseCase{"Empty", "", std::nullopt},
        ParseCase{"FiveNumbers", "00-30-11-0A-BC", std::nullopt},
        ParseCase{"WrongSeparator", "00:30:11:0A:BC:0F", std::nullopt},
        ParseCase{"SixthNumberBeyondLimit", "00000000-1-2-3-4-5", std::nullopt},
        ParseCase{"HugeNumber", std::string(4000, 'F'), std::nullopt}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(MacAddressBoundsTest, UnterminatedShortTextIsReadOnlyWithinItsLength)
{
    const std::string_view text = "0A-0B-0C-0D-0E-0";
    const auto buffer = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), buffer.get());
    EXPECT_EQ(
        ParseRowMac(std::string_view(buffer.get(), text.size())), (MacAddress{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x00}));
    EXPECT_EQ(ParseRowMac(std::string_view(buffer.get(), text.size() - 1)), std::nullopt);
}

} // namespace
} // namespace devicelist
