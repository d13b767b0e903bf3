#include "devicelist/devicetable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devicelist/columntexts.h"
#include "tests/devicelist/recordbuilder.h"

namespace devicelist {
namespace {

using testing::RecordBuilder;

class DeviceTableTest : public ::testing::Test {
protected:
    void SetUp() override { table_.AddColumns(ParseColumnSpec(kDeviceListColumnSpec)); }

    std::vector<std::string> Column(int column) const
    {
        std::vector<std::string> texts;
        for (std::size_t row = 0; row < table_.RowCount(); ++row) {
            texts.emplace_back(table_.RowText(row, column));
        }
        return texts;
    }

    static QORT_ModuleScanResponseType Module(std::uint8_t macLast, std::uint32_t ip)
    {
        return RecordBuilder().Mac(macLast).Ip(ip);
    }

    DeviceTable table_;
};

TEST_F(DeviceTableTest, StartsEmptySortedByIpAscendingWithoutLastConfiguredMac)
{
    EXPECT_EQ(table_.RowCount(), 0u);
    EXPECT_EQ(table_.ColumnCount(), kDeviceColumnCount);
    EXPECT_EQ(table_.GetSortOrder(), (SortOrder{kColumnIp, true}));
    EXPECT_EQ(table_.GetLastConfiguredMac(), std::nullopt);
}

TEST_F(DeviceTableTest, RowHoldsTheSevenTexts)
{
    table_.AddModule(RecordBuilder()
                         .Ip(RecordBuilder::Address(192, 168, 0, 1))
                         .Dhcp(1)
                         .Version(1, 2, 3)
                         .Type("Modbus/TCP")
                         .Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F));
    ASSERT_EQ(table_.RowCount(), 1u);
    EXPECT_EQ(table_.Row(0).ColumnTexts,
        (std::vector<std::string>{"192.168.0.1", "N/A", "N/A", "On", "1.02.3", "Modbus/TCP", "00-30-11-0A-BC-0F"}));
}

TEST_F(DeviceTableTest, SecondReplyOfSameMacIsIgnoredUntilCleared)
{
    EXPECT_EQ(table_.AddModule(Module(1, RecordBuilder::Address(10, 0, 0, 1))), DeviceTable::AddOutcome::kRowAdded);
    EXPECT_EQ(table_.AddModule(Module(1, RecordBuilder::Address(10, 0, 0, 99))), DeviceTable::AddOutcome::kDuplicate);
    EXPECT_EQ(Column(kColumnIp), (std::vector<std::string>{"10.0.0.1"}));
    EXPECT_EQ(table_.Store().Size(), 1u);

    table_.Clear();
    EXPECT_EQ(table_.AddModule(Module(1, RecordBuilder::Address(10, 0, 0, 99))), DeviceTable::AddOutcome::kRowAdded);
    EXPECT_EQ(Column(kColumnIp), (std::vector<std::string>{"10.0.0.99"}));
}

TEST_F(DeviceTableTest, ReplyWithoutMacIsStoredWithoutRowAndStillBlocksItsBytes)
{
    EXPECT_EQ(table_.AddModule(RecordBuilder().MacBytesOnly(0, 0x30, 0x11, 0, 0, 7).Ip(1)),
        DeviceTable::AddOutcome::kStoredWithoutRow);
    EXPECT_EQ(table_.RowCount(), 0u);
    EXPECT_EQ(table_.Store().Size(), 1u);
    // Same bytes, now with a valid MAC: a duplicate by its bytes.
    EXPECT_EQ(table_.AddModule(Module(7, 2)), DeviceTable::AddOutcome::kDuplicate);
    EXPECT_EQ(table_.RowCount(), 0u);
}

TEST_F(DeviceTableTest, DuplicateCheckComparesAllSixBytes)
{
    table_.AddModule(RecordBuilder().Mac(0x00, 0x30, 0x11, 0x00, 0x00, 0x01).Ip(1));
    table_.AddModule(RecordBuilder().Mac(0x01, 0x30, 0x11, 0x00, 0x00, 0x01).Ip(2));
    table_.AddModule(RecordBuilder().Mac(0x00, 0x30, 0x11, 0x00, 0x00, 0x02).Ip(3));
    EXPECT_EQ(table_.RowCount(), 3u);
}

TEST_F(DeviceTableTest, RowsSortedByIpNumericallyAsTheyArrive)
{
    table_.AddModule(Module(1, RecordBuilder::Address(10, 0, 0, 10)));
    table_.AddModule(Module(2, RecordBuilder::Address(9, 255, 255, 255)));
    table_.AddModule(Module(3, RecordBuilder::Address(10, 0, 0, 2)));
    table_.AddModule(RecordBuilder().Mac(4));
    EXPECT_EQ(Column(kColumnIp), (std::vector<std::string>{"9.255.255.255", "10.0.0.2", "10.0.0.10", "N/A"}));
}

TEST_F(DeviceTableTest, RowAddedWhileSortedDescendingByMacGoesToItsPlace)
{
    table_.SortByColumn(SortOrder{kColumnMac, false});
    table_.AddModule(Module(0x10, 1));
    table_.AddModule(Module(0x30, 2));
    table_.AddModule(Module(0x20, 3));
    EXPECT_EQ(
        Column(kColumnMac), (std::vector<std::string>{"00-30-11-00-00-30", "00-30-11-00-00-20", "00-30-11-00-00-10"}));
}

TEST_F(DeviceTableTest, ResortReportsWhereEachRowWent)
{
    table_.AddModule(Module(0x01, RecordBuilder::Address(10, 0, 0, 1)));
    table_.AddModule(Module(0x02, RecordBuilder::Address(10, 0, 0, 2)));
    table_.AddModule(Module(0x03, RecordBuilder::Address(10, 0, 0, 3)));
    const std::vector<std::size_t> newRowOf = table_.SortByColumn(SortOrder{kColumnIp, false});
    EXPECT_EQ(newRowOf, (std::vector<std::size_t>{2, 1, 0}));
    EXPECT_EQ(Column(kColumnIp), (std::vector<std::string>{"10.0.0.3", "10.0.0.2", "10.0.0.1"}));
}

TEST_F(DeviceTableTest, ClearKeepsSortOrderColumnsAndLastConfiguredMac)
{
    table_.SortByColumn(SortOrder{kColumnMac, false});
    table_.SetLastConfiguredMac({1, 2, 3, 4, 5, 6});
    table_.AddModule(Module(1, 1));
    table_.Clear();
    table_.Clear();
    EXPECT_EQ(table_.RowCount(), 0u);
    EXPECT_EQ(table_.Store().Size(), 0u);
    EXPECT_EQ(table_.GetSortOrder(), (SortOrder{kColumnMac, false}));
    EXPECT_EQ(table_.ColumnCount(), kDeviceColumnCount);
    EXPECT_EQ(table_.GetLastConfiguredMac(), (MacAddress{1, 2, 3, 4, 5, 6}));
}

TEST_F(DeviceTableTest, GetRowMacReadsTheMacColumnOfThatRow)
{
    table_.AddModule(RecordBuilder().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F).Ip(RecordBuilder::Address(10, 0, 0, 2)));
    table_.AddModule(RecordBuilder().Mac(0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA).Ip(RecordBuilder::Address(10, 0, 0, 1)));
    EXPECT_EQ(table_.GetRowMac(0), (MacAddress{0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA}));
    EXPECT_EQ(table_.GetRowMac(1), (MacAddress{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}));
    EXPECT_EQ(table_.GetRowMac(2), std::nullopt);
}

TEST_F(DeviceTableTest, FindModuleReturnsTheStoredRecordForARow)
{
    const QORT_ModuleScanResponseType record =
        RecordBuilder().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F).Type("PROFINET").Ip(5);
    table_.AddModule(record);
    const std::optional<MacAddress> mac = table_.GetRowMac(0);
    ASSERT_TRUE(mac.has_value());
    const auto found = table_.FindModule(*mac);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(std::memcmp(&*found, &record, sizeof record), 0);
    EXPECT_EQ(table_.FindModule({9, 9, 9, 9, 9, 9}), std::nullopt);
}

TEST_F(DeviceTableTest, FindModuleSeesRecordsWithoutRowOldestFirst)
{
    const QORT_ModuleScanResponseType withoutRow = RecordBuilder().MacBytesOnly(1, 2, 3, 4, 5, 6).Ip(1);
    table_.AddModule(withoutRow);
    const auto found = table_.FindModule({1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->IpAddr, 1u);
    EXPECT_EQ(found->MacIdValid, 0);
}

TEST_F(DeviceTableTest, ManyInconsistentAddressesStillSortToAPermutation)
{
    // Type texts that look like addresses with groups above 255 make the
    // comparison disagree with itself; the table must still hold every row.
    table_.SortByColumn(SortOrder{kColumnType, true});
    for (int i = 0; i < 200; ++i) {
        table_.AddModule(RecordBuilder()
                             .Mac(static_cast<std::uint8_t>(i >> 8), 0, 0, 0, 0, static_cast<std::uint8_t>(i))
                             .Type(std::to_string(256 + (i * 37) % 500) + ".1.1.1"));
    }
    EXPECT_EQ(table_.RowCount(), 200u);
    std::vector<std::string> macs = Column(kColumnMac);
    std::sort(macs.begin(), macs.end());
    EXPECT_EQ(std::unique(macs.begin(), macs.end()), macs.end());
}

TEST(DeviceTableColumnsTest, FewerColumnsGiveShorterRowsAndNoRowMac)
{
    DeviceTable table;
    table.AddColumns(ParseColumnSpec("IP,90"));
    table.AddModule(RecordBuilder().Mac(1).Ip(RecordBuilder::Address(10, 0, 0, 1)));
    ASSERT_EQ(table.RowCount(), 1u);
    EXPECT_EQ(table.Row(0).ColumnTexts, (std::vector<std::string>{"10.0.0.1"}));
    EXPECT_EQ(table.GetRowMac(0), std::nullopt);
    EXPECT_EQ(table.RowText(0, kColumnMac), "");
}

TEST(DeviceTableColumnsTest, ExtraColumnsHoldEmptyTexts)
{
    DeviceTable table;
    table.AddColumns(ParseColumnSpec(std::string(kDeviceListColumnSpec) + ";Extra,10;More,5"));
    table.AddModule(RecordBuilder().Mac(1));
    ASSERT_EQ(table.RowCount(), 1u);
    ASSERT_EQ(table.Row(0).ColumnTexts.size(), 9u);
    EXPECT_EQ(table.RowText(0, 7), "");
    EXPECT_EQ(table.RowText(0, 8), "");
    EXPECT_EQ(table.RowText(0, 9), "");
    EXPECT_EQ(table.RowText(0, -1), "");
}

} // namespace
} // namespace devicelist
