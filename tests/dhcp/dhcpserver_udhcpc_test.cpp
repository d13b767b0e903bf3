// The recovery server against a real DHCP client: busybox udhcpc runs in
// the modules namespace of scripts/isolated-net with the module's MAC set
// on its veth end, the server in the host namespace.

#include "dhcp/dhcpservercontrol.h"
#include "tests/dhcp/dhcpclientsocket.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace dhcptest;

// udhcpc: 3 DISCOVERs one second apart, then give up (-n); quit once
// bound (-q). The outer timeout only guards against a client that hangs.
constexpr const char* kClientOptions = "-f -q -n -t 3 -T 1";
constexpr const char* kClientTimeout = "30";

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Runs `command` through the shell and returns its standard output and
// error together.
std::string RunShell(const std::string& command)
{
    std::string output;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    std::array<char, 256> chunk{};
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr)
        output += chunk.data();
    ::pclose(pipe);
    return output;
}

class DhcpServerUdhcpcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
        modulesNs = Env("SORVINDA_NETNS_MODULES");
        modulesIf = Env("SORVINDA_MODULES_IF");
        script = Env("SORVINDA_SOURCE_DIR") + "/tests/dhcp/udhcpc-lease.sh";
        ASSERT_FALSE(modulesNs.empty());
        ASSERT_FALSE(modulesIf.empty());
        control->Server().SetTraceSink([this](const char* text) { trace += text; });
    }

    void SetClientMac(const std::string& mac)
    {
        const std::string out = RunShell("ip -n '" + modulesNs + "' link set dev '" + modulesIf + "' address " + mac);
        ASSERT_EQ(out, "") << "setting the MAC failed";
    }

    std::string RunClient()
    {
        return RunShell("ip netns exec '" + modulesNs + "' timeout " + kClientTimeout + " busybox udhcpc "
            + kClientOptions + " -i '" + modulesIf + "' -s '" + script + "'");
    }

    std::string modulesNs, modulesIf, script;
    std::string trace; // written by the worker; read only after Stop joined it
    std::unique_ptr<DhcpServerControl> control = std::make_unique<DhcpServerControl>();
};

struct LeaseCase {
    const char* name;
    const char* mac;
    const char* lease;
};

class DhcpServerLeaseTest : public DhcpServerUdhcpcTest, public ::testing::WithParamInterface<LeaseCase> { };

// Regression for "Ends00" and "EndsFF": such a module was given the
// subnet's network or broadcast address (10.200.1.0, 10.200.1.255).
TEST_P(DhcpServerLeaseTest, SupportedModuleObtainsItsFixedAddress)
{
    SetClientMac(GetParam().mac);
    ASSERT_TRUE(control->Start());
    const std::string client = RunClient();
    control->Stop();
    const std::string lease = GetParam().lease;
    EXPECT_NE(client.find("LEASE " + lease + " 255.255.255.0\n"), std::string::npos) << client;
    EXPECT_NE(trace.find("[SEND] DHCP_OFFER."), std::string::npos) << trace;
    EXPECT_NE(trace.find("[RECV] DHCP_REQUEST " + lease + "\n[SEND] DHCP_ACK " + lease), std::string::npos) << trace;
}

INSTANTIATE_TEST_SUITE_P(Macs, DhcpServerLeaseTest,
    ::testing::Values(LeaseCase{"Ends44", "00:30:11:22:33:44", "10.200.1.68"},
        LeaseCase{"Ends00", "00:30:11:22:33:00", "10.200.1.1"},
        LeaseCase{"EndsFF", "00:30:11:22:33:ff", "10.200.1.254"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DhcpServerUdhcpcTest, ModuleOutsideThePrefixObtainsNothing)
{
    SetClientMac("00:30:12:00:00:01");
    ASSERT_TRUE(control->Start());
    const std::string client = RunClient();
    control->Stop();
    EXPECT_EQ(client.find("LEASE"), std::string::npos) << client;
    EXPECT_NE(client.find("EVENT leasefail"), std::string::npos) << client;
    EXPECT_NE(trace.find("[RECV] Got message from non-supported MAC (00:30:12:00:00:01)\n"), std::string::npos)
        << trace;
    EXPECT_EQ(trace.find("[SEND]"), std::string::npos) << trace;
}

TEST_F(DhcpServerUdhcpcTest, ServerStartedStoppedAndStartedAgainStillServes)
{
    SetClientMac("00:30:11:00:00:07");
    ASSERT_EQ(control->Apply(true), DhcpServerControl::Change::Started);
    ASSERT_EQ(control->Apply(false), DhcpServerControl::Change::Stopped);
    ASSERT_EQ(control->Apply(true), DhcpServerControl::Change::Started);
    const std::string client = RunClient();
    control->Stop();
    EXPECT_NE(client.find("LEASE 10.200.1.7 255.255.255.0"), std::string::npos) << client;
}

TEST_F(DhcpServerUdhcpcTest, StoppedServerLeavesTheClientWithoutLease)
{
    SetClientMac("00:30:11:22:33:44");
    ASSERT_TRUE(control->Start());
    control->Stop();
    const std::string client = RunClient();
    EXPECT_EQ(client.find("LEASE"), std::string::npos) << client;
    EXPECT_EQ(trace, "");
}

} // namespace
