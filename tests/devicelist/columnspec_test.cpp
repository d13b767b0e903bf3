#include "devicelist/columnspec.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace devicelist {
namespace {

struct SpecCase {
    const char* name;
    std::string spec;
    std::vector<ColumnSpec> expected;
};

class ColumnSpecTest : public ::testing::TestWithParam<SpecCase> { };

TEST_P(ColumnSpecTest, SplitsIntoHeadingsAndWidths)
{
    EXPECT_EQ(ParseColumnSpec(GetParam().spec), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Specs, ColumnSpecTest,
    ::testing::Values(
        SpecCase{"MainWindow", std::string(kDeviceListColumnSpec),
            {{"IP", 90}, {"SN", 90}, {"GW", 90}, {"DHCP", 50}, {"Version", 50}, {"Type", 114}, {"MAC", 115}}},
        SpecCase{"OnePair", "IP,90", {{"IP", 90}}}, SpecCase{"TrailingSemicolon", "IP,90;", {{"IP", 90}}},
        SpecCase{"LastPairWithoutSemicolon", "IP,90;SN,45", {{"IP", 90}, {"SN", 45}}},
        SpecCase{"NoComma", "IP;SN;GW", {}}, SpecCase{"Empty", "", {}},
        SpecCase{"StopsAtHeadingWithoutComma", "IP,90;SN", {{"IP", 90}}},
        SpecCase{"WidthWithoutDigits", "IP,wide;SN,", {{"IP", 0}, {"SN", 0}}},
        SpecCase{"WidthWithTrailingText", "IP,90px", {{"IP", 90}}}, SpecCase{"NegativeWidth", "IP,-5", {{"IP", -5}}},
        SpecCase{"OverlongWidth", "IP,99999999999999999999", {{"IP", INT_MAX}}},
        SpecCase{"EmptyHeading", ",10", {{"", 10}}}, SpecCase{"CommaInWidthPart", "A,1,2;B,3", {{"A", 1}, {"B", 3}}},
        SpecCase{"OnlySeparators", ",;,;", {{"", 0}, {"", 0}}},
        SpecCase{"HeadingKeepsSpacesAndAmpersand", " R&D ,7", {{" R&D ", 7}}}),
    [](const ::testing::TestParamInfo<SpecCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace devicelist
