// The address-in-use check against the isolated network: both ways of
// asking (ARP probe, the kernel's neighbour table), for one address and
// for many at once, name the modules
// namespace's interface for an address it holds and nobody for a free one;
// the DHCP probe finds busybox udhcpd started among the modules.

#include "commissioning/addressinuse.h"
#include "commissioning/dhcpprobe.h"
#include "tests/commissioning/dhcpserveramongmodules.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace commissioning {
namespace {

constexpr std::uint32_t kHeld = (10u << 24) | (213u << 16) | 77u;
constexpr std::uint32_t kFree = (10u << 24) | (213u << 16) | 78u;

TEST(AddressInUse, AnAddressOnTheModulesSideIsHeldByItsInterface)
{
    testsupport::requireIsolatedNetwork();
    const std::string modules = std::string("ip netns exec ") + std::getenv("SORVINDA_NETNS_MODULES") + " ";
    const std::string interface = std::getenv("SORVINDA_MODULES_IF");
    ASSERT_EQ(std::system((modules + "ip addr add 10.213.0.77/24 dev " + interface).c_str()), 0);
    const std::string macText = testsupport::Output(modules + "cat /sys/class/net/" + interface + "/address");
    modules::MacAddress mac{};
    ASSERT_EQ(std::sscanf(macText.c_str(), "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx", &mac[0], &mac[1], &mac[2], &mac[3], &mac[4],
                  &mac[5]),
        6);
    const auto subnet = subnetHolding(usableAdapterSubnets(), kHeld);
    ASSERT_TRUE(subnet.has_value());
    EXPECT_EQ(subnet->adapter, std::getenv("SORVINDA_HOST_IF"));

    const struct {
        const char* way;
        NetworkAsker ask;
        std::uint32_t ip;
        std::optional<modules::MacAddress> holder;
    } rows[] = {
        // The neighbour table first, so that its entry comes from its own
        // resolution, not from the probe's reply.
        {"neighbour table, held", askNeighbourTable, kHeld, mac},
        {"neighbour table, free", askNeighbourTable, kFree, std::nullopt},
        {"ARP probe, held", askByArpProbe, kHeld, mac},
        {"ARP probe, free", askByArpProbe, kFree, std::nullopt},
    };
    for (const auto& row : rows) {
        const NetworkAnswer answer = row.ask(*subnet, row.ip, kAddressAnswerBound);
        EXPECT_EQ(answer.problem, "") << row.way;
        EXPECT_EQ(answer.holder, row.holder) << row.way;
    }
    // A plan's many addresses: asked together, answered each.
    for (const auto& [way, askAll] : {std::pair{"neighbour table, many", NetworkBatchAsker(askAllNeighbourTable)},
             {"ARP probe, many", NetworkBatchAsker(askAllByArpProbe)}}) {
        const auto answers = askAll({{*subnet, kFree}, {*subnet, kHeld}}, kAddressAnswerBound);
        ASSERT_EQ(answers.size(), 2u) << way;
        EXPECT_EQ(answers[0].holder, std::nullopt) << way;
        EXPECT_EQ(answers[1].holder, mac) << way;
    }
    const AddressUse use = checkAddressInUse(kHeld, {}, {}, usableAdapterSubnets());
    EXPECT_TRUE(use.inUse);
    EXPECT_EQ(holderText(use), modules::formatMac(mac));
}

TEST(DhcpProbe, ListsEveryServerThatOffers)
{
    testsupport::requireIsolatedNetwork();
    const auto adapters = platform::NetworkAdapters::usable();
    const std::string hostInterface = std::getenv("SORVINDA_HOST_IF");
    const DhcpProbe none = probeDhcpServers(adapters);
    EXPECT_EQ(none.skipped, "");
    EXPECT_TRUE(none.offers.empty());

    const testsupport::DhcpServerAmongModules server;
    ASSERT_TRUE(testsupport::waitUntil([&server] { return server.Listening(); }, std::chrono::seconds(10)));
    const DhcpProbe probe = probeDhcpServers(adapters);
    EXPECT_EQ(probe.skipped, "");
    ASSERT_EQ(probe.offers.size(), 1u);
    const std::string expected = "DHCP server 10.213.0.2 on " + hostInterface + " offered 10.213.0.1";
    EXPECT_EQ(offerLine(probe.offers[0]).substr(0, expected.size()), expected);
    EXPECT_GE(probe.offers[0].offered, (10u << 24) | (213u << 16) | 100u);
}

} // namespace
} // namespace commissioning
