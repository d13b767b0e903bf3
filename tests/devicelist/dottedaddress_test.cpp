#include "devicelist/dottedaddress.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace devicelist {
namespace {

struct IsDottedCase {
    const char* name;
    std::string text;
    bool expected;
};

class IsDottedAddressTest : public ::testing::TestWithParam<IsDottedCase> { };

TEST_P(IsDottedAddressTest, AcceptsDigitsAndExactlyThreeDots)
{
    EXPECT_EQ(IsDottedAddress(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, IsDottedAddressTest,
    ::testing::Values(IsDottedCase{"Address", "192.168.0.1", true}, IsDottedCase{"Zeros", "0.0.0.0", true},
        IsDottedCase{"GroupsAbove255", "300.1.1.1", true}, IsDottedCase{"OnlyDots", "...", true},
        IsDottedCase{"EmptyGroups", "1..2.", true}, IsDottedCase{"HugeGroup", std::string(4000, '9') + ".1.1.1", true},
        IsDottedCase{"Empty", "", false}, IsDottedCase{"NotAvailable", "N/A", false},
        IsDottedCase{"FourDots", "1.2.3.4.5", false}, IsDottedCase{"TwoDotsVersion", "1.02.3", false},
        IsDottedCase{"EmptyGroupInMiddle", "1..2.3", true}, IsDottedCase{"LeadingSpace", " 1.2.3.4", false},
        IsDottedCase{"TrailingSpace", "1.2.3.4 ", false}, IsDottedCase{"Sign", "+1.2.3.4", false},
        IsDottedCase{"Minus", "-1.2.3.4", false}, IsDottedCase{"HexLetter", "1.2.3.a", false},
        IsDottedCase{"Mac", "00-30-11-0A-BC-0F", false}, IsDottedCase{"HighByte", std::string("1.2.3.\xB9", 7), false},
        IsDottedCase{"EmbeddedNul", std::string("1.2\0.3.4", 8), false}),
    [](const ::testing::TestParamInfo<IsDottedCase>& info) { return std::string(info.param.name); });

struct CompareCase {
    const char* name;
    std::string a;
    std::string b;
    int expected;
};

class CompareDottedAddressesTest : public ::testing::TestWithParam<CompareCase> {
protected:
    // Copies text into a heap block of exactly its length, without a
    // terminator, so that AddressSanitizer reports any read past its end.
    static std::unique_ptr<char[]> Unterminated(const std::string& text)
    {
        auto block = std::make_unique<char[]>(text.size());
        std::copy(text.begin(), text.end(), block.get());
        return block;
    }
};

TEST_P(CompareDottedAddressesTest, ComparesNumericallyWithoutReadingPastEitherText)
{
    const auto a = Unterminated(GetParam().a);
    const auto b = Unterminated(GetParam().b);
    EXPECT_EQ(CompareDottedAddresses(
                  std::string_view(a.get(), GetParam().a.size()), std::string_view(b.get(), GetParam().b.size())),
        GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Pairs, CompareDottedAddressesTest,
    ::testing::Values(CompareCase{"Equal", "10.0.0.2", "10.0.0.2", 0},
        CompareCase{"NumericNotTextual", "10.0.0.2", "10.0.0.10", -1},
        CompareCase{"NumericNotTextualReversed", "10.0.0.10", "10.0.0.2", 1},
        CompareCase{"FirstGroupDecides", "9.255.255.255", "10.0.0.0", -1},
        CompareCase{"LeadingZeros", "010.000.000.002", "10.0.0.2", 0},
        CompareCase{"HighestAddress", "255.255.255.255", "0.0.0.0", 1},
        CompareCase{"AboveRangeInFirstCountsSmaller", "300.1.1.1", "1.2.3.4", -1},
        CompareCase{"AboveRangeInSecondCountsSmaller", "1.2.3.4", "300.1.1.1", 1},
        CompareCase{"FirstAboveRangeInReadingOrderDecides", "1.300.1.1", "400.1.1.1", 1},
        CompareCase{"BothAboveRangeFirstTextWins", "300.1.1.1", "400.1.1.1", -1},
        CompareCase{"BothAboveRangeFirstTextWinsReversed", "400.1.1.1", "300.1.1.1", -1},
        CompareCase{"FourthGroupAboveRange", "1.1.1.256", "1.1.1.1", -1},
        CompareCase{"HugeGroup", "1.1.1." + std::string(4000, '9'), "1.1.1.1", -1},
        CompareCase{"EmptyGroupsReadAsZero", "...", "0.0.0.0", 0},
        CompareCase{"EmptyAgainstAddress", "", "0.0.0.1", -1}, CompareCase{"BothEmpty", "", "", 0},
        CompareCase{"NotAvailableHasNoDot", "10.0.0.1", "N/A", 1},
        CompareCase{"NotAvailableFirst", "N/A", "10.0.0.1", -1}, CompareCase{"TooFewDots", "1.2", "1.2.0.0", 0},
        CompareCase{"TrailingDotAtEnd", "1.2.3.", "1.2.3.0", 0},
        CompareCase{"MoreThanThreeDotsIgnoresRest", "1.2.3.4.5", "1.2.3.4", 0},
        CompareCase{"NegativeTakesLowBits", "-1.0.0.0", "255.0.0.0", 0}),
    [](const ::testing::TestParamInfo<CompareCase>& info) { return std::string(info.param.name); });

TEST(CompareDottedAddressesPropertyTest, AntisymmetricForGroupsWithinRange)
{
    const std::vector<std::string> addresses = {
        "0.0.0.0", "0.0.0.1", "9.255.255.255", "10.0.0.2", "10.0.0.10", "127.0.0.1", "192.168.0.1", "255.255.255.255"};
    for (const std::string& a : addresses) {
        for (const std::string& b : addresses) {
            EXPECT_EQ(CompareDottedAddresses(a, b), -CompareDottedAddresses(b, a)) << a << " vs " << b;
        }
    }
}

} // namespace
} // namespace devicelist
