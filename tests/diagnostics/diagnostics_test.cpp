#include "diagnostics/adapters.h"
#include "diagnostics/firewallrules.h"
#include "diagnostics/portholders.h"
#include "diagnostics/privileges.h"

#include <gtest/gtest.h>

namespace {

// Lines as /proc/net/udp and /proc/net/udp6 show them (port 3250 = 0CB2).
constexpr const char* kTable =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer "
    "drops\n"
    "  101: 00000000:0CB2 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 4711 2 "
    "0000000000000000 0\n"
    "  102: 0100D50A:0043 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 4712 2 "
    "0000000000000000 0\n"
    "  103: 0100007F:0CB2 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 0 2 0000000000000000 "
    "0\n"
    "  104: 00000000000000000000000000000000:0CB2 00000000000000000000000000000000:0000 07 00000000:00000000 "
    "00:00000000 00000000  1000        0 4713 2 0000000000000000 0\n"
    "  105: garbage\n"
    "  106: 00000000:ZZZZ 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 4714 2 0 0";

TEST(DiagnosticsTest, SocketInodesOnPort)
{
    const struct {
        std::uint16_t port;
        std::vector<unsigned long> inodes;
    } cases[] = {{3250, {4711, 4713}}, // IPv4 and IPv6; the closing socket (inode 0) is nobody's
        {67, {4712}}, {68, {}}};
    for (const auto& c : cases)
        EXPECT_EQ(diagnostics::socketInodesOnPort(kTable, c.port), c.inodes) << c.port;
    EXPECT_TRUE(diagnostics::socketInodesOnPort("", 3250).empty());
}

TEST(DiagnosticsTest, FirewallRulesMentioningPorts)
{
    const std::vector<std::uint16_t> ports{3250, 67, 68};
    const struct {
        const char* line;
        bool listed;
    } cases[] = {{"\t\tudp dport 3250 accept", true}, {"udp sport { 67, 68 } drop", true},
        {"-A INPUT -p udp -m udp --dport 3000:3300 -j DROP", true},
        {"-A INPUT -p udp -m multiport --dports 53,67 -j ACCEPT", true},
        {"tcp dport 22 counter packets 67 bytes 3250 accept", false}, {"ip saddr 10.67.68.1 accept", false},
        {"udp dport 6700 accept", false}, {"-A INPUT -p udp --dport 1:66 -j ACCEPT", false}};
    std::string listing;
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        listing += std::string(c.line) + "\n";
        if (c.listed)
            expected.push_back(std::string(c.line).substr(std::string(c.line).find_first_not_of('\t')));
    }
    EXPECT_EQ(diagnostics::rulesMentioningPorts(listing, ports), expected);
}

TEST(DiagnosticsTest, EffectiveCapability)
{
    const struct {
        const char* status;
        bool bindService;
    } cases[] = {{"Name:\tx\nCapInh:\t0000000000000400\nCapEff:\t0000000000000000\n", false},
        {"CapEff:\t0000000000000400\n", true}, {"CapEff:\t000001ffffffffff\n", true}, {"CapEff:\n", false},
        {"", false}};
    for (const auto& c : cases)
        EXPECT_EQ(diagnostics::effectiveCapability(c.status, diagnostics::kNetBindServiceCapability), c.bindService)
            << c.status;
}

TEST(DiagnosticsTest, UnprivilegedPortStart)
{
    const struct {
        const char* text;
        int start;
    } cases[] = {{"1024\n", 1024}, {"0\n", 0}, {"67", 67}, {"", 1024}, {"-1\n", 1024}, {"x\n", 1024}};
    for (const auto& c : cases)
        EXPECT_EQ(diagnostics::unprivilegedPortStart(c.text), c.start) << c.text;
}

TEST(DiagnosticsTest, AdaptersAreMatchedByIndexNotName)
{
    // As getifaddrs lists them: the link, then each address under its label.
    const std::vector<platform::InterfaceRecord> records{{"lo", 1, true, true, false, true, 0x7F000001},
        {"eth0", 2, true, false, true, false, 0}, {"eth0:1", 2, true, false, true, true, 0x0A000001},
        {"eth1", 3, true, false, true, false, 0}, {"ppp0", 0, true, false, false, true, 0x0A000002}};
    const std::vector<diagnostics::AdapterReport> reports = diagnostics::adapterReports(records);
    const struct {
        const char* name;
        std::vector<std::uint32_t> ipv4;
        bool usedByScan;
    } expected[] = {
        {"lo", {0x7F000001}, false}, {"eth0", {0x0A000001}, true}, {"eth1", {}, false}, {"ppp0", {0x0A000002}, false}};
    ASSERT_EQ(reports.size(), std::size(expected));
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].name, expected[i].name);
        EXPECT_EQ(reports[i].ipv4, expected[i].ipv4) << expected[i].name;
        EXPECT_EQ(reports[i].usedByScan, expected[i].usedByScan) << expected[i].name;
    }
}

} // namespace
