#include "devicelist/columntexts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/devicelist/recordbuilder.h"

namespace devicelist {
namespace {

using testing::RecordBuilder;

struct TextsCase {
    const char* name;
    QORT_ModuleScanResponseType record;
    DeviceColumnTexts expected;
};

class ColumnTextsTest : public ::testing::TestWithParam<TextsCase> { };

TEST_P(ColumnTextsTest, FormsAllSevenTexts)
{
    const DeviceColumnTexts texts = FormatColumnTexts(GetParam().record);
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        EXPECT_EQ(texts[column], GetParam().expected[column]) << "column " << column;
    }
}

INSTANTIATE_TEST_SUITE_P(Records, ColumnTextsTest,
    ::testing::Values(
        TextsCase{"Complete",
            RecordBuilder()
                .Ip(RecordBuilder::Address(192, 168, 0, 1))
                .SubnetMask(RecordBuilder::Address(255, 255, 255, 0))
                .Gateway(RecordBuilder::Address(192, 168, 0, 254))
                .Dhcp(1)
                .Version(1, 2, 3)
                .Type("PROFINET IO")
                .Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F),
            {"192.168.0.1", "255.255.255.0", "192.168.0.254", "On", "1.02.3", "PROFINET IO", "00-30-11-0A-BC-0F"}},
        TextsCase{"OnlyMac", RecordBuilder().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F),
            {"N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "00-30-11-0A-BC-0F"}},
        TextsCase{"NothingValid", RecordBuilder(), {"N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A"}},
        TextsCase{"ExtremeAddresses",
            RecordBuilder().Ip(0).SubnetMask(0xFFFFFFFFu).Gateway(RecordBuilder::Address(10, 0, 0, 255)),
            {"0.0.0.0", "255.255.255.255", "10.0.0.255", "N/A", "N/A", "N/A", "N/A"}},
        TextsCase{"DhcpOff", RecordBuilder().Dhcp(0), {"N/A", "N/A", "N/A", "Off", "N/A", "N/A", "N/A"}},
        TextsCase{"DhcpNeitherOnNorOff", RecordBuilder().Dhcp(0xFF), {"N/A", "N/A", "N/A", "Off", "N/A", "N/A", "N/A"}},
        TextsCase{"DhcpTwo", RecordBuilder().Dhcp(2), {"N/A", "N/A", "N/A", "Off", "N/A", "N/A", "N/A"}},
        TextsCase{"DhcpOnButNotValid", RecordBuilder().Dhcp(1).Valid(&QORT_ModuleScanResponseType::DhcpValid, 0),
            {"N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A"}},
        TextsCase{"ValidByteOtherThanOne",
            RecordBuilder().Ip(RecordBuilder::Address(1, 2, 3, 4)).Valid(&QORT_ModuleScanResponseType::IpAddrValid, 7),
            {"1.2.3.4", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A"}},
        TextsCase{"VersionWideMinor", RecordBuilder().Version(2, 10, 300),
            {"N/A", "N/A", "N/A", "N/A", "2.10.300", "N/A", "N/A"}},
        TextsCase{"VersionPaddedMinor", RecordBuilder().Version(1, 0, 7),
            {"N/A", "N/A", "N/A", "N/A", "1.00.7", "N/A", "N/A"}},
        TextsCase{"VersionLargest", RecordBuilder().Version(255, 255, 65535),
            {"N/A", "N/A", "N/A", "N/A", "255.255.65535", "N/A", "N/A"}},
        TextsCase{
            "TypeShownAsSent", RecordBuilder().Type("a%s&b"), {"N/A", "N/A", "N/A", "N/A", "N/A", "a%s&b", "N/A"}},
        TextsCase{"EmptyType", RecordBuilder().Type(""), {"N/A", "N/A", "N/A", "N/A", "N/A", "", "N/A"}}),
    [](const ::testing::TestParamInfo<TextsCase>& info) { return std::string(info.param.name); });

TEST(ColumnTextsBoundsTest, TypeFillingTheWholeFieldStopsAtTheFieldEnd)
{
    // A hostile reply whose type text has no terminator inside its 128 bytes:
    // the text ends with the field instead of running into the next fields.
    QORT_ModuleScanResponseType record = RecordBuilder().Mac(1);
    std::memset(record.FbType, 'T', sizeof record.FbType);
    record.FbTypeValid = 1;
    record.ModuleVersionMajor = 'X';
    EXPECT_EQ(FormatColumnTexts(record)[kColumnType], std::string(sizeof record.FbType, 'T'));
}

TEST(ColumnTextsBoundsTest, TypeIsNotReadWhenNotValid)
{
    QORT_ModuleScanResponseType record = RecordBuilder();
    std::memset(record.FbType, 0xFF, sizeof record.FbType);
    EXPECT_EQ(FormatColumnTexts(record)[kColumnType], "N/A");
}

} // namespace
} // namespace devicelist
