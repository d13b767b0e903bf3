#include "app/winkrule.h"

#include "protocol/qort.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct WinkCase {
    const char* name;
    std::uint8_t major;
    std::uint8_t minor;
    bool winks;
};

const WinkCase kCases[] = {
    {"v1_9", 1, 9, false},
    {"v1_10", 1, 10, true},
    {"v1_255", 1, 255, true},
    {"v2_0", 2, 0, true},
    {"v0_200", 0, 200, false},
    {"vFF_FF", 0xFF, 0xFF, true},
    {"v1_0", 1, 0, false},
    {"v0_0", 0, 0, false},
    {"v255_0", 255, 0, true},
};

class WinkRuleTest : public ::testing::TestWithParam<WinkCase> { };

TEST_P(WinkRuleTest, FromVersionNumbers)
{
    EXPECT_EQ(SupportsWink(GetParam().major, GetParam().minor), GetParam().winks);
}

TEST_P(WinkRuleTest, FromScanRecordIgnoringValidByte)
{
    QORT_ModuleScanResponseType record;
    std::memset(&record, 0xFF, sizeof record);
    record.ProtocolVersionMajor = GetParam().major;
    record.ProtocolVersionMinor = GetParam().minor;
    for (std::uint8_t valid : {0, 1}) {
        record.ProtocolVersionValid = valid;
        EXPECT_EQ(SupportsWink(record), GetParam().winks) << "ProtocolVersionValid " << int(valid);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, WinkRuleTest, ::testing::ValuesIn(kCases), [](const auto& info) { return std::string(info.param.name); });

TEST(WinkRuleModuleVersion, ModuleVersionPlaysNoPart)
{
    QORT_ModuleScanResponseType record;
    std::memset(&record, 0, sizeof record);
    record.ProtocolVersionMajor = 1;
    record.ProtocolVersionMinor = 9;
    record.ModuleVersionMajor = 9;
    record.ModuleVersionMinor = 99;
    EXPECT_FALSE(SupportsWink(record));
}

} // namespace
