// The address-in-use check against the isolated network: both ways of
// asking (ARP probe, the kernel's neighbour table) name the modules
// namespace's interface for an address it holds and nobody for a free one;
// the DHCP probe finds busybox udhcpd started among the modules.

#include "commissioning/addressinuse.h"
#include "commissioning/dhcpprobe.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

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
    const auto subnet = subnetHolding(usableAdapterSubnets(), kHeld);
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
    const AddressUse use = checkAddressInUse(kHeld, {}, {}, usableAdapterSubnets());
    EXPECT_TRUE(use.inUse);
    EXPECT_EQ(holderText(use), devicelist::FormatMac(mac));
}

// busybox udhcpd in the modules namespace, stopped (by its pid) at the end.
// Its ARP check of an address before offering it is cut to 100 ms from 2 s,
// which would otherwise use up the probe's whole wait.
class DhcpServerAmongModules {
public:
    DhcpServerAmongModules()
    {
        std::ofstream(config_) << "interface " << std::getenv("SORVINDA_MODULES_IF")
                               << "\nstart 10.213.0.100\nend 10.213.0.110\nlease_file /tmp/commissioning-udhcpd-"
                               << ::getpid() << ".leases\npidfile /dev/null\n";
        const std::string ns = std::getenv("SORVINDA_NETNS_MODULES");
        const char* argv[] = {
            "ip", "netns", "exec", ns.c_str(), "busybox", "udhcpd", "-f", "-a", "100", config_.c_str(), nullptr};
        if (::posix_spawnp(&pid_, "ip", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
            pid_ = -1;
    }
    ~DhcpServerAmongModules()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::remove(config_.c_str());
    }
    bool Listening() const
    {
        return pid_ > 0
            && Output(std::string("ip netns exec ") + std::getenv("SORVINDA_NETNS_MODULES") + " ss -lun").find(":67 ")
            != std::string::npos;
    }

private:
    std::string config_ = "/tmp/commissioning-udhcpd-" + std::to_string(::getpid()) + ".conf";
    pid_t pid_ = -1;
};

TEST(DhcpProbe, ListsEveryServerThatOffers)
{
    testsupport::requireIsolatedNetwork();
    const auto adapters = platform::NetworkAdapters::usable();
    const std::string hostInterface = std::getenv("SORVINDA_HOST_IF");
    const DhcpProbe none = probeDhcpServers(adapters);
    EXPECT_EQ(none.skipped, "");
    EXPECT_TRUE(none.offers.empty());

    const DhcpServerAmongModules server;
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
