// The rules of safe commissioning that need no network: the warnings of one
// scan, the verification of a write, the audit log and its undo reader.

#include "commissioning/scanwarnings.h"
#include "tests/modules/records.h"

#include <gtest/gtest.h>

namespace commissioning {
namespace {

using testrecords::Address;
using testrecords::Record;

const std::vector<AdapterSubnet> kSubnets = {
    {"eth0", 2, Address(192, 168, 0, 1), Address(255, 255, 255, 0)},
    {"eth1", 3, Address(10, 0, 0, 5), Address(255, 0, 0, 0)},
};

TEST(ScanWarnings, CodesPerModule)
{
    const WarningCodes none;
    const WarningCodes dup = {kWarningDuplicateIp};
    const WarningCodes other = {kWarningOtherSubnet};
    const WarningCodes both = {kWarningDuplicateIp, kWarningOtherSubnet};
    const struct {
        const char* what;
        std::vector<QORT_ModuleScanResponseType> scan;
        std::vector<WarningCodes> expected; // per record, in scan order
    } rows[] = {
        {"own subnets", {Record().Mac(1).Ip(Address(192, 168, 0, 20)), Record().Mac(2).Ip(Address(10, 9, 9, 9))},
            {none, none}},
        {"same IP twice", {Record().Mac(1).Ip(Address(192, 168, 0, 20)), Record().Mac(2).Ip(Address(192, 168, 0, 20))},
            {dup, dup}},
        {"one module answering twice",
            {Record().Mac(1).Ip(Address(192, 168, 0, 20)), Record().Mac(1).Ip(Address(192, 168, 0, 20))}, {none, none}},
        {"0.0.0.0 twice, outside", {Record().Mac(1).Ip(0), Record().Mac(2).Ip(0)}, {none, none}},
        {"other subnet", {Record().Mac(1).Ip(Address(172, 16, 0, 1)).Dhcp(0)}, {other}},
        {"other subnet with DHCP on", {Record().Mac(1).Ip(Address(172, 16, 0, 1)).Dhcp(1)}, {none}},
        {"both", {Record().Mac(1).Ip(Address(172, 16, 0, 1)), Record().Mac(2).Ip(Address(172, 16, 0, 1))},
            {both, both}},
        {"no IP reported", {Record().Mac(1), Record().Mac(2)}, {none, none}},
    };
    for (const auto& row : rows) {
        const auto warnings = ScanWarnings(row.scan, kSubnets);
        for (std::size_t i = 0; i < row.scan.size(); ++i)
            EXPECT_EQ(warnings.at(devicelist::MacOfRecord(row.scan[i])), row.expected[i]) << row.what << " #" << i;
    }
}

} // namespace
} // namespace commissioning
