// The address-in-use check against the isolated network: both ways of
// asking (ARP probe, the kernel's neighbour table) name the modules
// namespace's interface for an address it holds and nobody for a free one.

#include "commissioning/addressinuse.h"
#include "tests/support/isolatednetwork.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace commissioning {
namespace {

constexpr std::uint32_t kHeld = (10u << 24) | (213u << 16) | 77u;
constexpr std::uint32_t kFree = (10u << 24) | (213u << 16) | 78u;

std::string Output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            text += buffer;
        ::pclose(pipe);
    }
    return text;
}

TEST(AddressInUse, AnAddressOnTheModulesSideIsHeldByItsInterface)
{
    testsupport::requireIsolatedNetwork();
    const std::string modules = std::string("ip netns exec ") + std::getenv("SORVINDA_NETNS_MODULES") + " ";
    const std::string interface = std::getenv("SORVINDA_MODULES_IF");
    ASSERT_EQ(std::system((modules + "ip addr add 10.213.0.77/24 dev " + interface).c_str()), 0);
    const std::string macText = Output(modules + "cat /sys/class/net/" + interface + "/address");
    devicelist::MacAddress mac{};
    ASSERT_EQ(std::sscanf(macText.c_str(), "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx", &mac[0], &mac[1], &mac[2], &mac[3], &mac[4],
                  &mac[5]),
        6);
    const auto subnet = SubnetHolding(UsableAdapterSubnets(), kHeld);
    ASSERT_TRUE(subnet.has_value());
    EXPECT_EQ(subnet->adapter, std::getenv("SORVINDA_HOST_IF"));

    const struct {
        const char* way;
        NetworkAsker ask;
        std::uint32_t ip;
        std::optional<devicelist::MacAddress> holder;
    } rows[] = {
        // The neighbour table first, so that its entry comes from its own
        // resolution, not from the probe's reply.
        {"neighbour table, held", AskNeighbourTable, kHeld, mac},
        {"neighbour table, free", AskNeighbourTable, kFree, std::nullopt},
        {"ARP probe, held", AskByArpProbe, kHeld, mac},
        {"ARP probe, free", AskByArpProbe, kFree, std::nullopt},
    };
    for (const auto& row : rows) {
        const NetworkAnswer answer = row.ask(*subnet, row.ip, kAddressAnswerBound);
        EXPECT_EQ(answer.problem, "") << row.way;
        EXPECT_EQ(answer.holder, row.holder) << row.way;
    }
    const AddressUse use = CheckAddressInUse(kHeld, {}, {}, UsableAdapterSubnets());
    EXPECT_TRUE(use.inUse);
    EXPECT_EQ(HolderText(use), devicelist::FormatMac(mac));
}

} // namespace
} // namespace commissioning
