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

TEST(AdapterFilter, KeepsUsableAdaptersOnce)
{
    const struct {
        const char* what;
        std::vector<InterfaceRecord> records;
        std::vector<NetworkAdapter> expected;
    } cases[] = {
        {"none", {}, {}},
        {"two usable adapters in order", {record("wlan0", 3, kOffice), record("eth0", 2, kCable)},
            {{"wlan0", 3, kOffice}, {"eth0", 2, kCable}}},
        {"loopback skipped", {record("lo", 1, kLoopback, true, true, false)}, {}},
        {"loopback that claims broadcast skipped", {record("lo", 1, kLoopback, true, true, true)}, {}},
        {"down adapter skipped", {record("eth0", 2, kCable, false), record("wlan0", 3, kOffice)},
            {{"wlan0", 3, kOffice}}},
        {"no broadcast (point-to-point) skipped", {record("tun0", 4, kCable, true, false, false)}, {}},
        {"no IPv4 address skipped", {record("eth1", 5, 0, true, false, true, false)}, {}},
        {"unknown index skipped", {record("gone", 0, kCable)}, {}},
        {"second address of an adapter ignored, its first kept",
            {record("eth0", 2, 0, true, false, true, false), record("eth0", 2, kCable), record("eth0", 2, kCable2)},
            {{"eth0", 2, kCable}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NetworkAdapters::filter(c.records), c.expected) << c.what;
}

} // namespace
