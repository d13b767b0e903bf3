// Configure and wink against simulated modules: the exact bytes the library
// puts on the wire, and the answers it turns into codes 2 and 3.
#include "tests/integration/qortsession.h"
#include "tests/support/simulatorprocess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <regex>
#include <string>

namespace integration {
namespace {

using testsupport::SimulatorProcess;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr auto kLineTimeout = 10s;
const std::string kFirstModule = "00-30-11-00-00-01";

bool isRecv(const std::string& line)
{
    return line.rfind("recv ", 0) == 0;
}

bool isSend(const std::string& line)
{
    return line.rfind("send ", 0) == 0;
}

void copyText(char (&field)[QORT_TEXT_FIELD_SIZE], const std::string& text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field - 1));
}

// The bytes of the next datagram the simulator receives after `from`.
std::optional<std::string> nextReceived(const SimulatorProcess& simulator, std::size_t from)
{
    const auto line = simulator.waitForLine(isRecv, kLineTimeout, from);
    if (!line)
        return std::nullopt;
    const auto datagram = testsupport::parseDatagramLine(*line);
    if (!datagram)
        return std::nullopt;
    return datagram->bytes;
}

class ConfigureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QortSession::startOnce());
        QortSession::reset();
    }

    // Scans again and returns the record of `mac` (the library's own
    // requests, echoed back to it, are queued too and skipped here).
    std::optional<QORT_ModuleScanResponseType> rescan(
        SimulatorProcess& simulator, const std::string& mac, std::size_t modules)
    {
        QortSession::reset();
        const std::size_t from = simulator.lineCount();
        EXPECT_EQ(QORT_SendModuleScan(), 1);
        EXPECT_TRUE(simulator.waitForLines(isSend, modules, kLineTimeout, from));
        EXPECT_TRUE(QortSession::waitForCount(QORT_CB_RESPONSE, modules));
        for (const auto& response : QortSession::takeAllResponses())
            if (response.MacIdValid == 1 && macText(response.MacId) == mac)
                return response;
        return std::nullopt;
    }
};

struct WireCase {
    const char* name;
    std::function<QORT_ConfigureRequestType()> request;
    std::string bytes;
};

class ConfigureWireTest : public ConfigureTest, public ::testing::WithParamInterface<WireCase> { };

TEST_P(ConfigureWireTest, TheSimulatorReceivesExactlyTheseBytes)
{
    SimulatorProcess simulator({});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    const std::size_t from = simulator.lineCount();
    const QORT_ConfigureRequestType request = GetParam().request();
    QORT_SendConfigure(&request);
    EXPECT_EQ(nextReceived(simulator, from), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Requests, ConfigureWireTest,
    ::testing::Values(WireCase{"AddressesAndDhcpOff",
                          [] {
                              auto r = emptyRequest("02-00-00-12-34-56");
                              r.IpAddr = address(192, 168, 0, 10);
                              r.SubnetMask = address(255, 255, 255, 0);
                              r.Gateway = address(192, 168, 0, 1);
                              r.Dhcp = 0;
                              return r;
                          },
                          "Configure: 02-00-00-12-34-56;IP = 192.168.0.10;SN = 255.255.255.0;GW = 192.168.0.1;"
                          "DHCP = OFF;HN = ;\0"s},
        WireCase{"EveryPiece",
            [] {
                auto r = emptyRequest(kFirstModule);
                copyText(r.Password, "old pw");
                r.ChangePassword = 1;
                copyText(r.NewPassword, "new pw");
                r.IpAddr = address(10, 0, 0, 5);
                r.SubnetMask = address(255, 0, 0, 0);
                r.Gateway = address(10, 0, 0, 1);
                r.Dhcp = 1;
                copyText(r.HostName, "plc-7");
                r.Dns1 = address(10, 0, 0, 2);
                r.Dns2 = address(10, 0, 0, 3);
                return r;
            },
            "Configure: 00-30-11-00-00-01;Password: old pw;New Password = new pw;IP = 10.0.0.5;"
            "SN = 255.0.0.0;GW = 10.0.0.1;DHCP = ON;HN = plc-7;DNS1 = 10.0.0.2;DNS2 = 10.0.0.3;\0"s},
        WireCase{"NothingButTheHostName", [] { return emptyRequest("0a-0b-0c-0d-0e-0f"); },
            "Configure: 0A-0B-0C-0D-0E-0F;HN = ;\0"s},
        WireCase{"ChangePasswordOtherThanOneSendsNoNewPassword",
            [] {
                auto r = emptyRequest(kFirstModule);
                r.ChangePassword = 2;
                copyText(r.NewPassword, "ignored");
                return r;
            },
            "Configure: 00-30-11-00-00-01;HN = ;\0"s},
        WireCase{"ZeroAddressesAreSent",
            [] {
                auto r = emptyRequest(kFirstModule);
                r.Gateway = 0;
                r.Dns2 = address(255, 255, 255, 254);
                return r;
            },
            "Configure: 00-30-11-00-00-01;GW = 0.0.0.0;HN = ;DNS2 = 255.255.255.254;\0"s},
        WireCase{"LongestTextsAreNotCut",
            [] {
                auto r = emptyRequest(kFirstModule);
                copyText(r.Password, std::string(127, 'p'));
                r.ChangePassword = 1;
                copyText(r.NewPassword, std::string(127, 'n'));
                copyText(r.HostName, std::string(127, 'h'));
                r.IpAddr = r.SubnetMask = r.Gateway = r.Dns1 = r.Dns2 = address(255, 255, 255, 255) - 1;
                r.Dhcp = 1;
                return r;
            },
            "Configure: 00-30-11-00-00-01;Password: " + std::string(127, 'p') + ";New Password = "
                + std::string(127, 'n') + ";IP = 255.255.255.254;SN = 255.255.255.254;GW = 255.255.255.254;"
                + "DHCP = ON;HN = " + std::string(127, 'h') + ";DNS1 = 255.255.255.254;DNS2 = 255.255.255.254;"
                + "\0"s}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigureTest, ARecordWithoutNulInATextFieldSendsNothing)
{
    SimulatorProcess simulator({"--count", "1"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    const std::size_t from = simulator.lineCount();

    auto broken = emptyRequest(kFirstModule);
    std::memset(broken.HostName, 'h', sizeof broken.HostName);
    QORT_SendConfigure(&broken);
    // The wink that follows shows that the broken request went nowhere.
    const auto wink = emptyRequest(kFirstModule);
    QORT_SendWink(&wink);

    EXPECT_EQ(nextReceived(simulator, from), "To: 00-30-11-00-00-01;WINK;\0"s);
    EXPECT_TRUE(simulator.waitForLine(std::regex("^wink 00-30-11-00-00-01$"), kLineTimeout, from));
    EXPECT_TRUE(simulator.linesMatching([](const std::string& l) { return l.rfind("applied", 0) == 0; }).empty());
}

TEST_F(ConfigureTest, WinkIsTwentyEightBytesAndNotedByTheModule)
{
    SimulatorProcess simulator({"--count", "2"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    const std::size_t from = simulator.lineCount();

    const auto request = emptyRequest("00-30-11-00-00-02");
    QORT_SendWink(&request);

    const auto bytes = nextReceived(simulator, from);
    EXPECT_EQ(bytes, "To: 00-30-11-00-00-02;WINK;\0"s);
    EXPECT_EQ(bytes.value_or("").size(), 28u);
    EXPECT_TRUE(simulator.waitForLine(std::regex("^wink 00-30-11-00-00-02$"), kLineTimeout, from));
    EXPECT_FALSE(simulator.waitForLine(std::regex("^wink 00-30-11-00-00-01"), 0ms, from));
}

TEST_F(ConfigureTest, UnprotectedModuleIsReconfiguredAndRescanShowsIt)
{
    SimulatorProcess simulator({"--count", "3"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    const std::size_t from = simulator.lineCount();

    auto request = emptyRequest("00-30-11-00-00-02");
    request.IpAddr = address(10, 20, 30, 40);
    request.SubnetMask = address(255, 255, 0, 0);
    request.Dhcp = 0;
    copyText(request.HostName, "renamed");
    QORT_SendConfigure(&request);

    ASSERT_TRUE(QortSession::waitForCount(QORT_CB_RECONFIGURED, 1));
    EXPECT_TRUE(simulator.waitForLine(
        std::regex("^applied 00-30-11-00-00-02 ip=10\\.20\\.30\\.40 sn=255\\.255\\.0\\.0 dhcp=off hn=\"renamed\"$"),
        kLineTimeout, from));
    EXPECT_EQ(QortSession::count(QORT_CB_INVALID_PASSWORD), 0u);
    std::uint8_t mac[QORT_MAC_SIZE];
    EXPECT_EQ(QORT_GetInvPswdMacId(mac), 0);

    const auto module = rescan(simulator, "00-30-11-00-00-02", 3);
    ASSERT_TRUE(module.has_value());
    EXPECT_EQ(addressText(module->IpAddr), "10.20.30.40");
    EXPECT_EQ(addressText(module->SubnetMask), "255.255.0.0");
    EXPECT_EQ(textField(module->HostName, module->HostNameValid), "renamed");
    const auto other = rescan(simulator, "00-30-11-00-00-01", 3);
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(addressText(other->IpAddr), "192.168.10.1");
}

struct RejectedCase {
    const char* name;
    const char* password;
    const char* logged;
};

class RejectedPasswordTest : public ConfigureTest, public ::testing::WithParamInterface<RejectedCase> { };

TEST_P(RejectedPasswordTest, QueuesTheMacAndChangesNothing)
{
    SimulatorProcess simulator({"--module", "mac=00-30-11-00-00-07,ip=192.168.0.7,password=secret"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    const std::size_t from = simulator.lineCount();

    auto request = emptyRequest("00-30-11-00-00-07");
    copyText(request.Password, GetParam().password);
    request.IpAddr = address(10, 0, 0, 7);
    QORT_SendConfigure(&request);

    ASSERT_TRUE(QortSession::waitForCount(QORT_CB_INVALID_PASSWORD, 1));
    EXPECT_EQ(QortSession::count(QORT_CB_RECONFIGURED), 0u);
    EXPECT_TRUE(simulator.waitForLine(
        std::regex(std::string("^invalid-password 00-30-11-00-00-07 password=") + GetParam().logged + "$"),
        kLineTimeout, from));
    std::uint8_t first[QORT_MAC_SIZE];
    std::uint8_t again[QORT_MAC_SIZE];
    ASSERT_EQ(QORT_GetInvPswdMacId(first), 1);
    ASSERT_EQ(QORT_GetInvPswdMacId(again), 1);
    EXPECT_EQ(macText(first), "00-30-11-00-00-07");
    EXPECT_EQ(macText(again), "00-30-11-00-00-07");
    QORT_RemoveFirstInvPswdMacId();
    EXPECT_EQ(QORT_GetInvPswdMacId(first), 0);

    const auto module = rescan(simulator, "00-30-11-00-00-07", 1);
    ASSERT_TRUE(module.has_value());
    EXPECT_EQ(addressText(module->IpAddr), "192.168.0.7");
    EXPECT_EQ(module->Pswd, 1);
}

INSTANTIATE_TEST_SUITE_P(Passwords, RejectedPasswordTest,
    ::testing::Values(RejectedCase{"Wrong", "Secret", "wrong"}, RejectedCase{"Missing", "", "missing"},
        RejectedCase{"Longer", "secret ", "wrong"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigureTest, RightPasswordReconfiguresAndANewPasswordReplacesIt)
{
    SimulatorProcess simulator({"--module", "mac=00-30-11-00-00-07,ip=192.168.0.7,password=secret"});
    ASSERT_TRUE(simulator.start()) << simulator.error();

    auto request = emptyRequest("00-30-11-00-00-07");
    copyText(request.Password, "secret");
    request.ChangePassword = 1;
    copyText(request.NewPassword, "fresh");
    request.IpAddr = address(10, 0, 0, 7);
    QORT_SendConfigure(&request);
    ASSERT_TRUE(QortSession::waitForCount(QORT_CB_RECONFIGURED, 1));
    EXPECT_EQ(QortSession::count(QORT_CB_INVALID_PASSWORD), 0u);

    const auto module = rescan(simulator, "00-30-11-00-00-07", 1);
    ASSERT_TRUE(module.has_value());
    EXPECT_EQ(addressText(module->IpAddr), "10.0.0.7");

    // The old password no longer opens the module; the new one does.
    QortSession::reset();
    request.ChangePassword = 0;
    request.IpAddr = address(10, 0, 0, 8);
    QORT_SendConfigure(&request);
    ASSERT_TRUE(QortSession::waitForCount(QORT_CB_INVALID_PASSWORD, 1));
    copyText(request.Password, "fresh");
    QORT_SendConfigure(&request);
    ASSERT_TRUE(QortSession::waitForCount(QORT_CB_RECONFIGURED, 1));
    const auto after = rescan(simulator, "00-30-11-00-00-07", 1);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(addressText(after->IpAddr), "10.0.0.8");
}

} // namespace
} // namespace integration
