// A scan against simulated modules over real sockets: every reply becomes
// one queue entry and one code-1 call, in the order the modules sent them.
#include "tests/integration/qortsession.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

namespace integration {
namespace {

using testsupport::SimulatorProcess;
using namespace std::chrono_literals;

constexpr auto kLineTimeout = 10s;

bool isSend(const std::string& line)
{
    return line.rfind("send ", 0) == 0;
}

// The MACs of the scan replies the simulator sent, in sending order.
std::vector<std::string> sentReplyMacs(const SimulatorProcess& simulator)
{
    static const std::regex kMac("mac = ([0-9A-F-]{17});");
    std::vector<std::string> macs;
    for (const std::string& line : simulator.linesMatching(isSend)) {
        const auto datagram = testsupport::parseDatagramLine(line);
        std::smatch match;
        if (datagram && std::regex_search(datagram->bytes, match, kMac))
            macs.push_back(match[1].str());
    }
    return macs;
}

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QortSession::startOnce());
        QortSession::reset();
    }

    // Scans and waits until `expected` replies were sent and as many code-1
    // calls arrived; returns the queued records.
    std::vector<QORT_ModuleScanResponseType> scan(SimulatorProcess& simulator, std::size_t expected)
    {
        const std::size_t from = simulator.lineCount();
        EXPECT_EQ(QORT_SendModuleScan(), 1);
        EXPECT_TRUE(simulator.waitForLines(isSend, expected, kLineTimeout, from));
        EXPECT_TRUE(QortSession::waitForCount(QORT_CB_RESPONSE, expected));
        return QortSession::takeAllResponses();
    }
};

// The fields of generated module n (see sorvinda-modulesim --count).
void expectGeneratedModule(const QORT_ModuleScanResponseType& r, unsigned n)
{
    SCOPED_TRACE("module " + std::to_string(n));
    const unsigned host = n - 1;
    EXPECT_EQ(r.ProtocolVersionValid, 1);
    EXPECT_EQ(r.ProtocolVersionMajor, 1);
    EXPECT_EQ(r.ProtocolVersionMinor, 10);
    EXPECT_EQ(textField(r.FbType, r.FbTypeValid), "Modbus TCP");
    EXPECT_EQ(r.ModuleVersionValid, 1);
    EXPECT_EQ(r.ModuleVersionMajor, 2);
    EXPECT_EQ(r.ModuleVersionMinor, 1);
    EXPECT_EQ(r.ModuleVersionBuild, 7);
    ASSERT_EQ(r.MacIdValid, 1);
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, static_cast<std::uint8_t>(n >> 16),
        static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    EXPECT_EQ(macText(r.MacId), macText(mac));
    EXPECT_EQ(r.IpAddrValid, 1);
    EXPECT_EQ(addressText(r.IpAddr), addressText(address(192, 168, 10 + host / 250, host % 250 + 1)));
    EXPECT_EQ(r.SubnetMaskValid, 1);
    EXPECT_EQ(addressText(r.SubnetMask), "255.255.0.0");
    EXPECT_EQ(r.GatewayValid, 1);
    EXPECT_EQ(addressText(r.Gateway), "192.168.0.1");
    EXPECT_EQ(r.DhcpValid, 1);
    EXPECT_EQ(r.Dhcp, 0);
    EXPECT_EQ(r.PswdValid, 1);
    EXPECT_EQ(r.Pswd, 0);
    char hostName[32];
    std::snprintf(hostName, sizeof hostName, "module-%02x%02x%02x", mac[3], mac[4], mac[5]);
    EXPECT_EQ(textField(r.HostName, r.HostNameValid), hostName);
    EXPECT_EQ(r.Dns1Valid, 1);
    EXPECT_EQ(r.Dns1, 0u);
    EXPECT_EQ(r.Dns2Valid, 1);
    EXPECT_EQ(r.Dns2, 0u);
}

class ScanCountTest : public ScanTest, public ::testing::WithParamInterface<unsigned> { };

TEST_P(ScanCountTest, EveryModuleIsQueuedOnceInArrivalOrder)
{
    const unsigned modules = GetParam();
    SimulatorProcess simulator({"--count", std::to_string(modules)});
    ASSERT_TRUE(simulator.start()) << simulator.error();

    const auto responses = scan(simulator, modules);

    ASSERT_EQ(responses.size(), modules);
    EXPECT_EQ(QortSession::codes(), std::vector<int>(modules, QORT_CB_RESPONSE));
    const auto sent = sentReplyMacs(simulator);
    ASSERT_EQ(sent.size(), modules);
    for (unsigned i = 0; i < modules; ++i) {
        EXPECT_EQ(macText(responses[i].MacId), sent[i]) << "entry " << i;
        expectGeneratedModule(responses[i], i + 1);
    }
    QORT_ModuleScanResponseType untouched;
    std::memset(&untouched, 0xA5, sizeof untouched);
    const QORT_ModuleScanResponseType before = untouched;
    EXPECT_EQ(QORT_GetResponse(&untouched), 0);
    EXPECT_EQ(std::memcmp(&untouched, &before, sizeof before), 0) << "an empty take wrote into the record";
}

INSTANTIATE_TEST_SUITE_P(Modules, ScanCountTest, ::testing::Values(1u, 5u, 50u),
    [](const auto& info) { return std::to_string(info.param); });

TEST_F(ScanTest, TheScanRequestIsTwelveBytesBroadcastFromPort3250)
{
    SimulatorProcess simulator({});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    ASSERT_EQ(QORT_SendModuleScan(), 1);
    const auto line =
        simulator.waitForLine([](const std::string& l) { return l.rfind("recv ", 0) == 0; }, kLineTimeout);
    ASSERT_TRUE(line.has_value());
    const auto datagram = testsupport::parseDatagramLine(*line);
    ASSERT_TRUE(datagram.has_value()) << *line;
    EXPECT_EQ(datagram->bytes, std::string("Module Scan\0", 12));
    EXPECT_EQ(datagram->length, 12u);
    EXPECT_EQ(datagram->port, 3250);
}

TEST_F(ScanTest, VariedModulesAreReadFieldByField)
{
    SimulatorProcess simulator({
        "--module",
        "mac=00-30-11-00-01-01,protocol=1.9,fb=PROFINET IO,version=1.20.300,ip=10.1.2.3,sn=255.0.0.0,"
        "gw=10.0.0.1,-hn,-dns1,-dns2",
        "--module",
        "mac=00-30-11-00-01-02,dhcp=on,password=secret,hn=line-2,dns1=10.0.0.53,dns2=10.0.0.54",
    });
    ASSERT_TRUE(simulator.start()) << simulator.error();

    const auto responses = scan(simulator, 2);
    ASSERT_EQ(responses.size(), 2u);

    const auto& old = responses[0];
    EXPECT_EQ(old.ProtocolVersionMajor, 1);
    EXPECT_EQ(old.ProtocolVersionMinor, 9);
    EXPECT_EQ(textField(old.FbType, old.FbTypeValid), "PROFINET IO");
    EXPECT_EQ(old.ModuleVersionMajor, 1);
    EXPECT_EQ(old.ModuleVersionMinor, 20);
    EXPECT_EQ(old.ModuleVersionBuild, 300);
    EXPECT_EQ(addressText(old.IpAddr), "10.1.2.3");
    EXPECT_EQ(addressText(old.SubnetMask), "255.0.0.0");
    EXPECT_EQ(addressText(old.Gateway), "10.0.0.1");
    EXPECT_EQ(old.HostNameValid, 0);
    EXPECT_EQ(old.Dns1Valid, 0);
    EXPECT_EQ(old.Dns2Valid, 0);
    EXPECT_EQ(old.Dns1, 0xFFFFFFFFu);

    const auto& protectedModule = responses[1];
    EXPECT_EQ(macText(protectedModule.MacId), "00-30-11-00-01-02");
    EXPECT_EQ(protectedModule.Dhcp, 1);
    EXPECT_EQ(protectedModule.Pswd, 1);
    EXPECT_EQ(textField(protectedModule.HostName, protectedModule.HostNameValid), "line-2");
    EXPECT_EQ(addressText(protectedModule.Dns1), "10.0.0.53");
    EXPECT_EQ(addressText(protectedModule.Dns2), "10.0.0.54");
}

TEST_F(ScanTest, AModuleAnsweringTwiceGivesTwoEqualEntries)
{
    SimulatorProcess simulator({"--count", "1", "--answer-twice"});
    ASSERT_TRUE(simulator.start()) << simulator.error();

    const auto responses = scan(simulator, 2);
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(QortSession::count(QORT_CB_RESPONSE), 2u);
    EXPECT_EQ(std::memcmp(&responses[0], &responses[1], sizeof responses[0]), 0);
}

TEST_F(ScanTest, RepliesSentToTheToolAloneAreHeardToo)
{
    SimulatorProcess simulator({"--count", "3", "--unicast-replies"});
    ASSERT_TRUE(simulator.start()) << simulator.error();

    const auto responses = scan(simulator, 3);
    ASSERT_EQ(responses.size(), 3u);
    for (const auto& line : simulator.linesMatching(isSend))
        EXPECT_EQ(line.find("send 255.255.255.255"), std::string::npos) << line;
}

TEST_F(ScanTest, DelayedAndJitteredRepliesAllArrive)
{
    SimulatorProcess simulator({"--count", "10", "--delay", "20", "--jitter", "50", "--seed", "7"});
    ASSERT_TRUE(simulator.start()) << simulator.error();

    const auto responses = scan(simulator, 10);
    ASSERT_EQ(responses.size(), 10u);
    // Jitter reorders the replies: the queue follows arrival, not module order.
    const auto sent = sentReplyMacs(simulator);
    ASSERT_EQ(sent.size(), 10u);
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(macText(responses[i].MacId), sent[i]) << "entry " << i;
}

TEST_F(ScanTest, WithoutCallbackRepliesAreStillQueued)
{
    SimulatorProcess simulator({"--count", "4"});
    ASSERT_TRUE(simulator.start()) << simulator.error();

    QORT_RegisterCallBack(nullptr);
    const std::size_t from = simulator.lineCount();
    ASSERT_EQ(QORT_SendModuleScan(), 1);
    const bool allSent = simulator.waitForLines(isSend, 4, kLineTimeout, from);
    std::vector<QORT_ModuleScanResponseType> responses;
    testsupport::waitUntil(
        [&responses] {
            auto more = QortSession::takeAllResponses();
            responses.insert(responses.end(), more.begin(), more.end());
            return responses.size() >= 4;
        },
        kLineTimeout);
    QortSession::registerRecorder();

    EXPECT_TRUE(allSent);
    EXPECT_EQ(responses.size(), 4u);
    EXPECT_TRUE(QortSession::events().empty());
}

} // namespace
} // namespace integration
