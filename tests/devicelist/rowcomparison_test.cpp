#include "devicelist/rowcomparison.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devicelist/columntexts.h"

namespace devicelist {
namespace {

DeviceRowData RowWith(int column, const std::string& text)
{
    DeviceRowData row;
    row.ColumnTexts.assign(kDeviceColumnCount, std::string());
    row.ColumnTexts[static_cast<std::size_t>(column)] = text;
    return row;
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

struct RowCase {
    const char* name;
    int column;
    std::string first;
    std::string second;
    int ascending; // expected sign when ascending
};

class CompareRowsTest : public ::testing::TestWithParam<RowCase> { };

TEST_P(CompareRowsTest, AscendingAndDescending)
{
    const RowCase& c = GetParam();
    const DeviceRowData first = RowWith(c.column, c.first);
    const DeviceRowData second = RowWith(c.column, c.second);
    EXPECT_EQ(Sign(CompareRows(first, second, SortOrder{c.column, true})), c.ascending);
    // Descending is the ascending comparison with the texts swapped.
    EXPECT_EQ(Sign(CompareRows(second, first, SortOrder{c.column, false})), c.ascending);
}

INSTANTIATE_TEST_SUITE_P(Pairs, CompareRowsTest,
    ::testing::Values(RowCase{"IpNumeric", kColumnIp, "10.0.0.2", "10.0.0.10", -1},
        RowCase{"IpNumericAcrossFirstGroup", kColumnIp, "9.255.255.255", "10.0.0.2", -1},
        RowCase{"IpEqual", kColumnIp, "10.0.0.2", "10.0.0.2", 0},
        RowCase{"TypeDottedAboveRangeFirst", kColumnType, "300.1.1.1", "1.2.3.4", -1},
        RowCase{"TypeDottedAboveRangeSecond", kColumnType, "1.2.3.4", "300.1.1.1", 1},
        RowCase{"VersionAsText", kColumnVersion, "1.09.0", "1.10.0", -1},
        RowCase{"VersionTextNotNumeric", kColumnVersion, "10.00.0", "9.00.0", -1},
        RowCase{"MacAsText", kColumnMac, "00-30-11-0A-BC-0F", "00-30-11-0A-BC-10", -1},
        RowCase{"DhcpOffBeforeOn", kColumnDhcp, "Off", "On", -1},
        RowCase{"AddressBeforeNotAvailable", kColumnIp, "10.0.0.1", "N/A", -1},
        RowCase{"NotAvailableAfterAddress", kColumnIp, "N/A", "255.255.255.255", 1},
        RowCase{"AddressBeforeEmpty", kColumnGateway, "0.0.0.0", "", -1},
        RowCase{"AddressBeforeLetters", kColumnType, "1.2.3.4", "ABC", -1},
        RowCase{"NotAvailableEqual", kColumnSubnetMask, "N/A", "N/A", 0},
        RowCase{"CaseSensitiveLowerFirst", kColumnType, "modbus", "Modbus", -1},
        RowCase{"LettersAlphabeticBeforeCase", kColumnType, "ethernet", "Modbus", -1},
        RowCase{"UpperBeforeLaterLower", kColumnType, "EtherCAT", "modbus", -1},
        RowCase{"PrefixFirst", kColumnType, "PROFI", "PROFINET", -1}),
    [](const ::testing::TestParamInfo<RowCase>& info) { return std::string(info.param.name); });

TEST(CompareRowsEdgeTest, ColumnMissingFromRowComparesAsEmpty)
{
    DeviceRowData shortRow;
    shortRow.ColumnTexts = {"10.0.0.1"};
    const DeviceRowData full = RowWith(kColumnMac, "00-30-11-00-00-01");
    EXPECT_LT(CompareRows(shortRow, full, SortOrder{kColumnMac, true}), 0);
    EXPECT_EQ(CompareRows(shortRow, shortRow, SortOrder{kColumnMac, true}), 0);
    EXPECT_EQ(CompareRows(shortRow, full, SortOrder{-1, true}), 0);
    EXPECT_EQ(CompareRows(shortRow, full, SortOrder{1000, false}), 0);
}

TEST(CompareRowsEdgeTest, ConsistentForMixedAddressesAndTexts)
{
    // Every pair of these (addresses within range, texts) must be ordered the
    // same whichever row comes first: the sort relies on nothing, but the
    // user should see one order.
    const std::vector<std::string> texts = {"10.0.0.1", "9.0.0.1", "N/A", "", "...", "abc", "ABC", "1.02.3"};
    for (const bool ascending : {true, false}) {
        for (const std::string& a : texts) {
            for (const std::string& b : texts) {
                const SortOrder order{kColumnIp, ascending};
                EXPECT_EQ(Sign(CompareRows(RowWith(kColumnIp, a), RowWith(kColumnIp, b), order)),
                    -Sign(CompareRows(RowWith(kColumnIp, b), RowWith(kColumnIp, a), order)))
                    << a << " vs " << b;
            }
        }
    }
}

TEST(CompareTextsTest, EqualOnlyForIdenticalTexts)
{
    EXPECT_EQ(CompareTexts("On", "On"), 0);
    EXPECT_NE(CompareTexts("On", "ON"), 0);
    EXPECT_NE(CompareTexts(std::string_view("a\0b", 3), std::string_view("a\0c", 3)), 0);
}

TEST(CompareTextsTest, HighBytesCompareAsUnsigned)
{
    EXPECT_LT(CompareTexts("z", "\xE9"), 0);
}

struct ClickCase {
    const char* name;
    SortOrder current;
    int clicked;
    SortOrder expected;
};

class SortOrderAfterClickTest : public ::testing::TestWithParam<ClickCase> { };

TEST_P(SortOrderAfterClickTest, NewColumnAscendingSameColumnReversed)
{
    EXPECT_EQ(SortOrderAfterClick(GetParam().current, GetParam().clicked), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Clicks, SortOrderAfterClickTest,
    ::testing::Values(ClickCase{"OtherColumnFromAscending", {0, true}, 6, {6, true}},
        ClickCase{"OtherColumnFromDescending", {6, false}, 0, {0, true}},
        ClickCase{"SameColumnAscending", {6, true}, 6, {6, false}},
        ClickCase{"SameColumnDescending", {6, false}, 6, {6, true}}),
    [](const ::testing::TestParamInfo<ClickCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace devicelist
