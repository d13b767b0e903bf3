// The library and the recovery server on a host with two module networks,
// the default route over the first only (isolated-net run --networks 2):
// requests must reach both networks, DHCP replies only the asking one.
#include "dhcp/dhcpservercontrol.h"
#include "tests/dhcp/dhcpclientsocket.h"
#include "tests/integration/qortsession.h"
#include "tests/support/simulatorprocess.h"

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <map>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace integration {
namespace {

using testsupport::SimulatorProcess;
using namespace std::chrono_literals;

constexpr auto kLineTimeout = 10s;
const std::string kModuleA = "00-30-11-00-00-01"; // in both networks
const std::string kModuleB = "00-30-11-00-00-02"; // first network
const std::string kModuleC = "00-30-11-00-00-03"; // second network
// udhcpc: 3 DISCOVERs a second apart, then give up; quit once bound.
constexpr const char* kClientCommand = "timeout 30 busybox udhcpc -f -q -n -t 3 -T 1";

bool isScanReceived(const std::string& line)
{
    const auto datagram = testsupport::parseDatagramLine(line);
    return datagram && datagram->direction == "recv" && datagram->bytes.rfind("Module Scan", 0) == 0;
}

// A DHCP client port opened inside the first modules namespace: it sees
// every broadcast that reaches that network. (A socket stays in the
// namespace it was made in; only the helper thread enters it.)
platform::UdpSocket clientPortInNamespace(const std::string& name)
{
    platform::UdpSocket socket;
    std::thread([&] {
        const int ns = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (!(ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0 && socket.open() && socket.enableBroadcast()
                && socket.bind(CDhcpServer::kClientPort) && socket.setNonBlocking()))
            socket.close();
        if (ns >= 0)
            ::close(ns);
    }).join();
    return socket;
}

class TwoNetworksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(dhcptest::Env("SORVINDA_NETWORKS"), "2") << "run through scripts/isolated-net run --networks 2";
        ASSERT_TRUE(QortSession::startOnce());
        QortSession::reset();
    }
};

TEST_F(TwoNetworksTest, OneScanReachesBothNetworksOnce)
{
    SimulatorProcess first(testsupport::moduleArgs({"mac=" + kModuleA, "mac=" + kModuleB}), 1);
    SimulatorProcess second(testsupport::moduleArgs({"mac=" + kModuleC, "mac=" + kModuleA}), 2);
    ASSERT_TRUE(first.start()) << first.error();
    ASSERT_TRUE(second.start()) << second.error();
    ASSERT_EQ(QORT_SendModuleScan(), 1);
    ASSERT_TRUE(QortSession::waitForCount(QORT_CB_RESPONSE, 4));
    std::map<std::string, int> repliesPerMac;
    for (const auto& response : QortSession::takeAllResponses())
        ++repliesPerMac[macText(response.MacId)];
    EXPECT_EQ(repliesPerMac, (std::map<std::string, int>{{kModuleA, 2}, {kModuleB, 1}, {kModuleC, 1}}))
        << "module A answers in both networks; the list keeps its first reply";
    // The simulator's log line may reach this process after its replies:
    // wait for it, then count.
    for (const SimulatorProcess* simulator : {&first, &second}) {
        EXPECT_TRUE(simulator->waitForLines(isScanReceived, 1, kLineTimeout));
        EXPECT_EQ(simulator->linesMatching(isScanReceived).size(), 1u);
    }
}

TEST_F(TwoNetworksTest, ConfigureAndWinkReachTheSecondNetwork)
{
    SimulatorProcess second(testsupport::moduleArgs({"mac=" + kModuleC}), 2);
    ASSERT_TRUE(second.start()) << second.error();
    const std::size_t from = second.lineCount();
    auto request = emptyRequest(kModuleC);
    request.IpAddr = 10u << 24 | 213u << 16 | 1u << 8 | 50u; // 10.213.1.50
    request.Dhcp = 0;
    QORT_SendConfigure(&request);
    EXPECT_TRUE(QortSession::waitForCount(QORT_CB_RECONFIGURED, 1));
    EXPECT_TRUE(second.waitForLine(std::regex("^applied " + kModuleC + " ip=10\\.213\\.1\\.50 "), kLineTimeout, from));
    const auto wink = emptyRequest(kModuleC);
    QORT_SendWink(&wink);
    EXPECT_TRUE(second.waitForLine(std::regex("^wink " + kModuleC), kLineTimeout, from));
}

TEST_F(TwoNetworksTest, DhcpLeaseInTheSecondNetworkAndNothingInTheFirst)
{
    const std::string modules2 = dhcptest::Env("SORVINDA_NETNS_MODULES2");
    const std::string interface2 = dhcptest::Env("SORVINDA_MODULES_IF2");
    ASSERT_EQ(
        dhcptest::RunShell("ip -n '" + modules2 + "' link set dev '" + interface2 + "' address 00:30:11:00:00:2a"), "");
    platform::UdpSocket firstNetwork = clientPortInNamespace(dhcptest::Env("SORVINDA_NETNS_MODULES"));
    ASSERT_TRUE(firstNetwork.isOpen());

    DhcpServerControl server;
    ASSERT_TRUE(server.Start());
    const std::string client = dhcptest::RunShell("ip netns exec '" + modules2 + "' " + kClientCommand + " -i '"
        + interface2 + "' -s '" + dhcptest::Env("SORVINDA_SOURCE_DIR") + "/tests/dhcp/udhcpc-lease.sh'");
    server.Stop();
    // The server names itself by its address in the second network, where
    // the request came in.
    ASSERT_FALSE(dhcptest::Env("SORVINDA_HOST_ADDR2").empty());
    EXPECT_NE(client.find("LEASE 10.200.1.42 255.255.255.0 server " + dhcptest::Env("SORVINDA_HOST_ADDR2")),
        std::string::npos)
        << client;
    std::array<char, CDhcpMessage::kWireBufferSize> leaked{};
    EXPECT_EQ(
        firstNetwork.receiveFrom(leaked.data(), leaked.size()).status, platform::UdpSocket::ReceiveStatus::WouldBlock)
        << "a DHCP reply went out to the first network";
}

} // namespace
} // namespace integration
