// The adapter filter over a table of interface records: which adapters a
// limited broadcast is sent out of.
#include "platform/networkadapters.h"

#include <gtest/gtest.h>

namespace {

using platform::InterfaceRecord;
using platform::NetworkAdapter;
using platform::NetworkAdapters;

constexpr std::uint32_t kOffice = 0xC0A80105; // 192.168.1.5
constexpr std::uint32_t kCable = 0x0AC80101;  // 10.200.1.1
constexpr std::uint32_t kCable2 = 0x0AC80201; // 10.200.2.1
constexpr std::uint32_t kLoopback = 0x7F000001;

InterfaceRecord record(const char* name, unsigned index, std::uint32_t ipv4, bool up = true, bool loopback = false,
    bool broadcast = true, bool hasIpv4 = true)
{
    return {name, index, up, loopback, broadcast, hasIpv4, ipv4};
}

struct FilterCase {
    const char* what;
    std::vector<InterfaceRecord> records;
    std::vector<NetworkAdapter> expected;
};

class AdapterFilterTest : public ::testing::TestWithParam<FilterCase> { };

TEST_P(AdapterFilterTest, KeepsUsableAdaptersOnce)
{
    EXPECT_EQ(NetworkAdapters::filter(GetParam().records), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Records, AdapterFilterTest,
    ::testing::Values(FilterCase{"none", {}, {}},
        FilterCase{"two usable adapters in order", {record("wlan0", 3, kOffice), record("eth0", 2, kCable)},
            {{"wlan0", 3, kOffice}, {"eth0", 2, kCable}}},
        FilterCase{"loopback skipped", {record("lo", 1, kLoopback, true, true, false)}, {}},
        FilterCase{"loopback that claims broadcast skipped", {record("lo", 1, kLoopback, true, true, true)}, {}},
        FilterCase{"down adapter skipped", {record("eth0", 2, kCable, false), record("wlan0", 3, kOffice)},
            {{"wlan0", 3, kOffice}}},
        FilterCase{"no broadcast (point-to-point) skipped", {record("tun0", 4, kCable, true, false, false)}, {}},
        FilterCase{"no IPv4 address skipped", {record("eth1", 5, 0, true, false, true, false)}, {}},
        FilterCase{"unknown index skipped", {record("gone", 0, kCable)}, {}},
        FilterCase{"second address of an adapter ignored, its first kept",
            {record("eth0", 2, 0, true, false, true, false), record("eth0", 2, kCable), record("eth0", 2, kCable2)},
            {{"eth0", 2, kCable}}}),
    [](const ::testing::TestParamInfo<FilterCase>& info) {
        std::string name;
        for (const char* c = info.param.what; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

} // namespace
