// The simulator as seen from a test: started, followed and stopped through
// SimulatorProcess, and driven with plain datagrams (no libqort here), so
// that its own behaviour on the wire is pinned independently of the library.
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <regex>
#include <string>

namespace testsupport {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr std::uint16_t kProtocolPort = 3250;
constexpr auto kTimeout = 10s;

bool isSend(const std::string& line)
{
    return line.rfind("send ", 0) == 0;
}

// A plain socket in the host namespace standing in for the tool.
class ToolSocket {
public:
    ToolSocket()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        const timeval receiveTimeout{0, 200000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &receiveTimeout, sizeof receiveTimeout);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kProtocolPort);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    ~ToolSocket() { ::close(fd_); }

    bool bound() const { return bound_; }

    bool broadcast(const std::string& bytes)
    {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(kProtocolPort);
        target.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target)
            == static_cast<ssize_t>(bytes.size());
    }

    // The next datagram that is not one of our own broadcasts coming back.
    std::optional<std::string> receiveReply(const std::string& ownAddress)
    {
        const auto deadline = std::chrono::steady_clock::now() + kTimeout;
        std::string buffer(65536, '\0');
        while (std::chrono::steady_clock::now() < deadline) {
            sockaddr_in source{};
            socklen_t length = sizeof source;
            const ssize_t got =
                ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&source), &length);
            if (got < 0)
                continue;
            char text[INET_ADDRSTRLEN];
            ::inet_ntop(AF_INET, &source.sin_addr, text, sizeof text);
            if (ownAddress != text)
                return buffer.substr(0, static_cast<std::size_t>(got));
        }
        return std::nullopt;
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

class SimulatorProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        requireIsolatedNetwork();
        network_ = *IsolatedNetwork::fromEnvironment();
        ASSERT_TRUE(tool_.bound());
    }

    IsolatedNetwork network_;
    ToolSocket tool_;
};

TEST_F(SimulatorProcessTest, AnswersAScanWithOneNulTerminatedReplyPerModule)
{
    SimulatorProcess simulator({"--count", "2"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    EXPECT_TRUE(std::regex_match(simulator.lines().front(), std::regex("ready port=3250 modules=2 seed=[0-9]+")))
        << simulator.lines().front();

    ASSERT_TRUE(tool_.broadcast("Module Scan"s));
    const auto first = tool_.receiveReply(network_.hostAddress);
    const auto second = tool_.receiveReply(network_.hostAddress);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first,
        "protocol version = 1.10;fb type = Modbus TCP;module version = 2.01.7;mac = 00-30-11-00-00-01;"
        "ip = 192.168.10.1;sn = 255.255.0.0;gw = 192.168.0.1;dhcp = off;pswd = off;"
        "hn = module-000001;dns1 = 0.0.0.0;dns2 = 0.0.0.0;\0"s);
    EXPECT_NE(second->find("mac = 00-30-11-00-00-02;"), std::string::npos);
    EXPECT_EQ(second->back(), '\0');

    const auto recv = simulator.waitForLine(std::regex("^recv "), kTimeout);
    ASSERT_TRUE(recv.has_value());
    const auto datagram = parseDatagramLine(*recv);
    ASSERT_TRUE(datagram.has_value()) << *recv;
    EXPECT_EQ(datagram->address, network_.hostAddress);
    EXPECT_EQ(datagram->bytes, "Module Scan");
    ASSERT_TRUE(simulator.waitForLines(isSend, 2, kTimeout));
    const auto sent = parseDatagramLine(simulator.linesMatching(isSend).front());
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(sent->address, "255.255.255.255");
    EXPECT_EQ(sent->bytes, *first);
    EXPECT_GE(sent->timestampNs, datagram->timestampNs);
}

TEST_F(SimulatorProcessTest, ItsOwnBroadcastsAreNotLoggedAsRequests)
{
    SimulatorProcess simulator({"--count", "3", "--module", "mac=00-30-11-00-00-09"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    ASSERT_TRUE(tool_.broadcast("Module Scan\0"s));
    ASSERT_TRUE(simulator.waitForLines(isSend, 4, kTimeout));
    // A wink after the replies: once it is logged, any echo would be too.
    ASSERT_TRUE(tool_.broadcast("To: 00-30-11-00-00-09;WINK;\0"s));
    ASSERT_TRUE(simulator.waitForLine(std::regex("^wink 00-30-11-00-00-09$"), kTimeout));
    const auto received = simulator.linesMatching([](const std::string& l) { return l.rfind("recv ", 0) == 0; });
    EXPECT_EQ(received.size(), 2u);
    for (const auto& line : received)
        EXPECT_NE(line.find("recv " + network_.hostAddress + ":"), std::string::npos) << line;
}

TEST_F(SimulatorProcessTest, ARawReplyThatLooksLikeAScanDoesNotAnswerItself)
{
    SimulatorProcess simulator({"--raw-reply", "Module Scan\\x00", "--module", "mac=00-30-11-00-00-09"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    ASSERT_TRUE(tool_.broadcast("Module Scan\0"s));
    EXPECT_EQ(tool_.receiveReply(network_.hostAddress), "Module Scan\0"s);
    ASSERT_TRUE(tool_.broadcast("To: 00-30-11-00-00-09;WINK;\0"s));
    ASSERT_TRUE(simulator.waitForLine(std::regex("^wink "), kTimeout));
    EXPECT_EQ(simulator.linesMatching(isSend).size(), 1u);
}

TEST_F(SimulatorProcessTest, HostileRequestsAreLoggedAndSurvived)
{
    SimulatorProcess simulator({"--module", "mac=00-30-11-00-00-01,password=pw"});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>(i * 37);
    const std::vector<std::string> hostile = {
        std::string(65507, 'C'),
        "Configure: 00-30-11-00-00-01"s,
        "Configure: 00-30-11-00-00-01;" + std::string(20000, ';'),
        "Configure: 00-30-11-00-00-01;Password: pw;IP = 999.1.1.1;HN = " + std::string(5000, 'h') + ";",
        "To: ;WINK;"s,
        "Configure: \0 00-30-11-00-00-01;IP = 1.1.1.1;"s,
        binary,
        ""s,
    };
    for (const auto& bytes : hostile)
        ASSERT_TRUE(tool_.broadcast(bytes));
    ASSERT_TRUE(tool_.broadcast("Module Scan\0"s));

    // Of the Configure requests only the two with a whole target were
    // answered: the one without pieces lacks the password.
    EXPECT_EQ(tool_.receiveReply(network_.hostAddress), "Invalid Password: 00-30-11-00-00-01\0"s);
    EXPECT_EQ(tool_.receiveReply(network_.hostAddress), "Reconfigured: 00-30-11-00-00-01\0"s);
    const auto scanReply = tool_.receiveReply(network_.hostAddress);
    ASSERT_TRUE(scanReply.has_value());
    EXPECT_NE(scanReply->find(";hn = " + std::string(127, 'h') + ";"), std::string::npos);
    EXPECT_NE(scanReply->find(";ip = 192.168.0.10;"), std::string::npos);

    const auto huge = simulator.waitForLine(std::regex("^recv \\S+ 65507 "), kTimeout);
    ASSERT_TRUE(huge.has_value());
    EXPECT_EQ(parseDatagramLine(*huge)->bytes, std::string(65507, 'C'));
    EXPECT_TRUE(simulator.waitForLine(std::regex("^applied 00-30-11-00-00-01 hn=\"h+\" skipped=IP$"), kTimeout));
    EXPECT_TRUE(simulator.waitForLine(std::regex("^recv \\S+ 0 \"\" t="), kTimeout));
}

TEST_F(SimulatorProcessTest, StopsCleanlyOnSigtermAndAfterItsQuota)
{
    SimulatorProcess stopped({"--count", "1"});
    ASSERT_TRUE(stopped.start()) << stopped.error();
    EXPECT_EQ(stopped.stop(), 0);
    EXPECT_TRUE(stopped.waitForLine(std::regex("^exit signal received=0 sent=0$"), 0ms));
    EXPECT_EQ(stopped.stop(), 0) << "a second stop changes nothing";

    SimulatorProcess quota({"--count", "1", "--exit-after", "1", "--delay", "50"});
    ASSERT_TRUE(quota.start()) << quota.error();
    ASSERT_TRUE(tool_.broadcast("Module Scan\0"s));
    // The reply due after the quota was reached is still sent before exit.
    EXPECT_TRUE(quota.waitForLine(std::regex("^exit exit-after received=1 sent=1$"), kTimeout));
    EXPECT_EQ(quota.stop(), 0);
}

TEST_F(SimulatorProcessTest, StartReportsWhyItFailed)
{
    SimulatorProcess badOption({"--no-such-option"});
    EXPECT_FALSE(badOption.start(3s));
    EXPECT_NE(badOption.error().find("did not report ready"), std::string::npos) << badOption.error();
    EXPECT_EQ(badOption.stop(), 2);
}

TEST_F(SimulatorProcessTest, WaitForLineGivesUpAtItsTimeout)
{
    SimulatorProcess simulator({});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(simulator.waitForLine(std::regex("^never"), 100ms).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - before, 100ms);
}

TEST(DatagramLine, ReadsWhatTheSimulatorWrites)
{
    const auto line = parseDatagramLine(R"(send 255.255.255.255:3250 9 "a\"b\\c\x00\xFF" t=12345)");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->direction, "send");
    EXPECT_EQ(line->address, "255.255.255.255");
    EXPECT_EQ(line->port, 3250);
    EXPECT_EQ(line->length, 9u);
    EXPECT_EQ(line->bytes, "a\"b\\c\0\xFF"s);
    EXPECT_EQ(line->timestampNs, 12345);
}

TEST(DatagramLine, RefusesOtherAndBrokenLines)
{
    for (const char* bad : {"", "ready port=3250 modules=1 seed=1", "wink 00-30-11-00-00-01",
             R"(recv 10.0.0.1:3250 3 "abc")", R"(recv 10.0.0.1:3250 3 "abc t=1)", R"(recv 10.0.0.1:99999 3 "abc" t=1)",
             R"(recv 10.0.0.1 3 "abc" t=1)", R"(recv 10.0.0.1:3250 3 "a\q" t=1)", R"(recv 10.0.0.1:3250 3 "abc" t=x)",
             R"(recv 10.0.0.1:3250 3 "abc\" t=1)", R"(sent 10.0.0.1:3250 3 "abc" t=1)"})
        EXPECT_FALSE(parseDatagramLine(bad).has_value()) << bad;
}

TEST(WaitUntil, AsksUntilTrueAndOnceMoreAtTheDeadline)
{
    int asked = 0;
    EXPECT_TRUE(waitUntil([&asked] { return ++asked == 3; }, 10s, 1ms));
    EXPECT_EQ(asked, 3);
    asked = 0;
    EXPECT_FALSE(waitUntil([&asked] { return ++asked < 0; }, 0ms));
    EXPECT_EQ(asked, 2);
}

} // namespace
} // namespace testsupport
