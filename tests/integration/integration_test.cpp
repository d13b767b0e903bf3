// libqort over real UDP against the module simulator, in the isolated
// network: what goes on the wire and what comes back from modules that
// behave as field modules do.
#include "tests/integration/qortsession.h"
#include "tests/support/simulatorprocess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <regex>
#include <string>

namespace integration {
namespace {

using testsupport::SimulatorProcess;
using namespace std::chrono_literals;
using namespace std::string_literals;

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
    std::smatch match;
    for (const std::string& line : simulator.linesMatching(isSend))
        if (const auto d = testsupport::parseDatagramLine(line); d && std::regex_search(d->bytes, match, kMac))
            macs.push_back(match[1].str());
    return macs;
}

class IntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QortSession::startOnce());
        QortSession::reset();
    }

    void start(std::vector<std::string> args)
    {
        simulator.emplace(std::move(args));
        ASSERT_TRUE(simulator->start()) << simulator->error();
    }

    // Scans and waits until `expected` replies were sent and as many code-1
    // calls arrived; returns the queued records.
    std::vector<QORT_ModuleScanResponseType> scan(std::size_t expected)
    {
        QortSession::reset();
        const std::size_t from = simulator->lineCount();
        EXPECT_EQ(QORT_SendModuleScan(), 1);
        EXPECT_TRUE(simulator->waitForLines(isSend, expected, kLineTimeout, from));
        EXPECT_TRUE(QortSession::waitForCount(QORT_CB_RESPONSE, expected));
        return QortSession::takeAllResponses();
    }

    std::string describeModule(const std::string& mac, std::size_t modules)
    {
        for (const auto& r : scan(modules))
            if (r.MacIdValid == 1 && macText(r.MacId) == mac)
                return describe(r);
        return "<not found>";
    }

    // The bytes of the next datagram the simulator receives after `from`.
    std::string nextReceived(std::size_t from)
    {
        const auto line = simulator->waitForLine(std::regex("^recv "), kLineTimeout, from);
        const auto datagram = line ? testsupport::parseDatagramLine(*line) : std::nullopt;
        return datagram ? datagram->bytes : "<none>";
    }

    std::optional<SimulatorProcess> simulator;
};

std::string generated(unsigned n)
{
    char text[256];
    std::snprintf(text, sizeof text,
        "pv=1.10 fb=Modbus TCP mv=2.1.7 mac=00-30-11-%02X-%02X-%02X ip=192.168.%u.%u sn=255.255.0.0 gw=192.168.0.1 "
        "dhcp=0 pswd=0 hn=module-%02x%02x%02x dns1=0.0.0.0 dns2=0.0.0.0",
        n >> 16, (n >> 8) & 0xFF, n & 0xFF, 10 + (n - 1) / 250, (n - 1) % 250 + 1, n >> 16, (n >> 8) & 0xFF, n & 0xFF);
    return text;
}

// Every reply is one queue entry and one code-1 call, in the order the
// replies arrived (jitter reorders them; a module may answer twice; replies
// may come to the tool's address alone).
TEST_F(IntegrationTest, ScansQueueEveryReplyInArrivalOrder)
{
    const struct {
        std::vector<std::string> args;
        unsigned replies;
    } cases[] = {
        {{"--count", "1"}, 1},
        {{"--count", "50"}, 50},
        {{"--count", "10", "--delay", "20", "--jitter", "50", "--seed", "7"}, 10},
        {{"--count", "1", "--answer-twice"}, 2},
        {{"--count", "3", "--unicast-replies"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[2 % c.args.size()]);
        start(c.args);
        const auto responses = scan(c.replies);
        ASSERT_EQ(responses.size(), c.replies);
        EXPECT_EQ(QortSession::codes(), std::vector<int>(c.replies, QORT_CB_RESPONSE));
        const auto sent = sentReplyMacs(*simulator);
        ASSERT_EQ(sent.size(), c.replies);
        for (unsigned i = 0; i < c.replies; ++i) {
            EXPECT_EQ(macText(responses[i].MacId), sent[i]) << "entry " << i;
            EXPECT_EQ(describe(responses[i]),
                generated(
                    std::stoul(sent[i].substr(9, 2) + sent[i].substr(12, 2) + sent[i].substr(15, 2), nullptr, 16)));
        }
    }
}

// The exact bytes on the wire (the scan from port 3250), and what the module
// makes of them.
TEST_F(IntegrationTest, ScanConfigureAndWinkReachTheModule)
{
    start({"--count", "3"});
    std::size_t from = simulator->lineCount();
    ASSERT_EQ(QORT_SendModuleScan(), 1);
    const auto scan =
        testsupport::parseDatagramLine(simulator->waitForLine(std::regex("^recv "), kLineTimeout).value());
    ASSERT_TRUE(scan.has_value());
    EXPECT_EQ(scan->bytes + " from " + std::to_string(scan->port), "Module Scan\0 from 3250"s);

    from = simulator->lineCount();
    auto request = emptyRequest("00-30-11-00-00-02");
    QORT_SendWink(&request);
    EXPECT_EQ(nextReceived(from), "To: 00-30-11-00-00-02;WINK;\0"s);
    EXPECT_TRUE(simulator->waitForLine(std::regex("^wink 00-30-11-00-00-02$"), kLineTimeout, from));

    // A record without a NUL in a text field sends nothing: the wink after
    // it is the next datagram.
    from = simulator->lineCount();
    std::memset(request.HostName, 'h', sizeof request.HostName);
    QORT_SendConfigure(&request);
    QORT_SendWink(&request);
    EXPECT_EQ(nextReceived(from), "To: 00-30-11-00-00-02;WINK;\0"s);

    from = simulator->lineCount();
    setText(request.Password, "old pw");
    request.ChangePassword = 1;
    setText(request.NewPassword, "new pw");
    request.IpAddr = 0x0A141E28;
    request.SubnetMask = 0xFFFF0000;
    request.Gateway = 0;
    request.Dhcp = 0;
    setText(request.HostName, "renamed");
    request.Dns1 = 0x0A000002;
    request.Dns2 = 0xFFFFFFFE;
    QORT_SendConfigure(&request);
    EXPECT_EQ(nextReceived(from),
        "Configure: 00-30-11-00-00-02;Password: old pw;New Password = new pw;IP = 10.20.30.40;SN = 255.255.0.0;"
        "GW = 0.0.0.0;DHCP = OFF;HN = renamed;DNS1 = 10.0.0.2;DNS2 = 255.255.255.254;\0"s);
    ASSERT_TRUE(QortSession::waitForCount(QORT_CB_RECONFIGURED, 1));
    EXPECT_EQ(QortSession::count(QORT_CB_INVALID_PASSWORD), 0u);
    EXPECT_EQ(describeModule("00-30-11-00-00-02", 3),
        "pv=1.10 fb=Modbus TCP mv=2.1.7 mac=00-30-11-00-00-02 ip=10.20.30.40 sn=255.255.0.0 gw=0.0.0.0 dhcp=0 "
        "pswd=1 hn=renamed dns1=10.0.0.2 dns2=255.255.255.254");
    EXPECT_EQ(describeModule("00-30-11-00-00-01", 3), generated(1)) << "another module changed too";
}

// A protected module: wrong, missing or longer passwords are refused with
// its MAC queued (peeked, not taken, until removed); the right one applies
// and a new password replaces it.
TEST_F(IntegrationTest, PasswordsDecide)
{
    start({"--module", "mac=00-30-11-00-00-07,ip=192.168.0.7,password=secret"});
    auto request = emptyRequest("00-30-11-00-00-07");
    const struct {
        const char* password;
        const char* newPassword; // nullptr: none
        int code;
        const char* ip;
    } steps[] = {{"Secret", nullptr, QORT_CB_INVALID_PASSWORD, "192.168.0.7"},
        {"", nullptr, QORT_CB_INVALID_PASSWORD, "192.168.0.7"},
        {"secret ", nullptr, QORT_CB_INVALID_PASSWORD, "192.168.0.7"},
        {"secret", "fresh", QORT_CB_RECONFIGURED, "10.0.0.7"},
        {"secret", nullptr, QORT_CB_INVALID_PASSWORD, "10.0.0.7"},
        {"fresh", nullptr, QORT_CB_RECONFIGURED, "10.0.0.8"}};
    std::uint32_t ip = 0x0A000007;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.password);
        QortSession::reset();
        setText(request.Password, step.password);
        request.ChangePassword = step.newPassword != nullptr ? 1 : 0;
        setText(request.NewPassword, step.newPassword != nullptr ? step.newPassword : "");
        request.IpAddr = ip;
        QORT_SendConfigure(&request);
        ASSERT_TRUE(QortSession::waitForCount(step.code, 1));
        EXPECT_EQ(QortSession::count(QORT_CB_RECONFIGURED + QORT_CB_INVALID_PASSWORD - step.code), 0u);
        std::uint8_t mac[QORT_MAC_SIZE] = {};
        if (step.code == QORT_CB_INVALID_PASSWORD) {
            ASSERT_EQ(QORT_GetInvPswdMacId(mac), 1);
            EXPECT_EQ(macText(mac), "00-30-11-00-00-07");
            QORT_RemoveFirstInvPswdMacId();
        } else {
            ++ip;
        }
        EXPECT_EQ(QORT_GetInvPswdMacId(mac), 0);
        const std::string module = describeModule("00-30-11-00-00-07", 1);
        EXPECT_NE(module.find(std::string(" ip=") + step.ip + " "), std::string::npos) << module;
        EXPECT_NE(module.find(" pswd=1 "), std::string::npos) << module;
    }
}

} // namespace
} // namespace integration
