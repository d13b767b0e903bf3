// The rules of safe commissioning that need no network: the warnings of one
// scan, the verification of a write, the audit log and its undo reader, the
// plan: its reader, its steps and writes, its exports.

#include "commissioning/addressinuse.h"
#include "commissioning/auditlog.h"
#include "commissioning/dhcpprobe.h"
#include "commissioning/planexport.h"
#include "commissioning/planfile.h"
#include "commissioning/plansteps.h"
#include "commissioning/scanwarnings.h"
#include "commissioning/verification.h"
#include "commissioning/watch.h"
#include "modules/columntexts.h"
#include "tests/modules/records.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace commissioning {
namespace {

using testrecords::Address;
using testrecords::Record;

const std::vector<AdapterSubnet> kSubnets = {
    {"eth0", 2, Address(192, 168, 0, 1), Address(255, 255, 255, 0)},
    {"eth1", 3, Address(10, 0, 0, 5), Address(255, 0, 0, 0)},
};

TEST(ScanWarnings, CodesPerModule)
{
    const WarningCodes none;
    const WarningCodes dup = {kWarningDuplicateIp};
    const WarningCodes other = {kWarningOtherSubnet};
    const WarningCodes both = {kWarningDuplicateIp, kWarningOtherSubnet};
    const struct {
        const char* what;
        std::vector<QORT_ModuleScanResponseType> scan;
        std::vector<WarningCodes> expected; // per record, in scan order
    } rows[] = {
        {"own subnets", {Record().Mac(1).Ip(Address(192, 168, 0, 20)), Record().Mac(2).Ip(Address(10, 9, 9, 9))},
            {none, none}},
        {"same IP twice", {Record().Mac(1).Ip(Address(192, 168, 0, 20)), Record().Mac(2).Ip(Address(192, 168, 0, 20))},
            {dup, dup}},
        {"one module answering twice",
            {Record().Mac(1).Ip(Address(192, 168, 0, 20)), Record().Mac(1).Ip(Address(192, 168, 0, 20))}, {none, none}},
        {"0.0.0.0 twice, outside", {Record().Mac(1).Ip(0), Record().Mac(2).Ip(0)}, {none, none}},
        {"other subnet", {Record().Mac(1).Ip(Address(172, 16, 0, 1)).Dhcp(0)}, {other}},
        {"other subnet with DHCP on", {Record().Mac(1).Ip(Address(172, 16, 0, 1)).Dhcp(1)}, {none}},
        {"both", {Record().Mac(1).Ip(Address(172, 16, 0, 1)), Record().Mac(2).Ip(Address(172, 16, 0, 1))},
            {both, both}},
        {"no IP reported", {Record().Mac(1), Record().Mac(2)}, {none, none}},
    };
    for (const auto& row : rows) {
        const auto warnings = scanWarnings(row.scan, kSubnets);
        for (std::size_t i = 0; i < row.scan.size(); ++i)
            EXPECT_EQ(warnings.at(modules::macOfRecord(row.scan[i])), row.expected[i]) << row.what << " #" << i;
    }
}

TEST(AddressInUse, ScanAndNetworkAnswers)
{
    const modules::MacAddress module = {0x00, 0x30, 0x11, 0x00, 0x00, 0x01};
    const modules::MacAddress host = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
    const modules::MacAddress other = {0x00, 0x30, 0x11, 0x00, 0x00, 0x02};
    const std::uint32_t target = Address(192, 168, 0, 30);
    const std::vector<QORT_ModuleScanResponseType> scan = {
        Record().Mac(1).Ip(Address(192, 168, 0, 20)), Record().Mac(2).Ip(Address(192, 168, 0, 40))};
    const struct {
        const char* what;
        std::uint32_t ip;
        std::vector<QORT_ModuleScanResponseType> scan;
        NetworkAnswer answer;
        AddressUse expected; // note only compared for being empty
    } rows[] = {
        {"nobody answers", target, scan, {}, {}},
        {"another host answers", target, scan, {host, ""}, {true, host, false, ""}},
        {"the module itself answers", target, scan, {module, ""}, {}},
        {"another module of the scan reports it", Address(192, 168, 0, 40), scan, {}, {true, other, true, ""}},
        {"a module of the scan answers for it", target, {Record().Mac(2)}, {other, ""}, {true, other, true, ""}},
        {"an old entry of a module now elsewhere", target, scan, {other, ""}, {}},
        {"outside every subnet: not asked", Address(172, 16, 0, 1), scan, {host, ""}, {false, {}, false, "x"}},
        {"this computer's own address", Address(10, 0, 0, 5), scan, {}, {true, {}, false, "x"}},
        {"the network cannot be asked", target, scan, {std::nullopt, "x"}, {false, {}, false, "x"}},
    };
    for (const auto& row : rows) {
        const NetworkAsker ask = [&row](const AdapterSubnet& subnet, std::uint32_t, std::chrono::milliseconds) {
            EXPECT_EQ(subnet.adapter, "eth0") << row.what;
            return row.answer;
        };
        const AddressUse use = checkAddressInUse(row.ip, module, row.scan, kSubnets, ask);
        EXPECT_EQ(use.inUse, row.expected.inUse) << row.what;
        EXPECT_EQ(use.holderIsModule, row.expected.holderIsModule) << row.what;
        EXPECT_EQ(use.note.empty(), row.expected.note.empty()) << row.what;
        if (row.expected.holder != modules::MacAddress{}) { // an adapter's own MAC differs per computer
            EXPECT_EQ(use.holder, row.expected.holder) << row.what;
        }
    }
}

TEST(AddressInUse, ManyTargetsAskTheNetworkOnce)
{
    const modules::MacAddress module = {0x00, 0x30, 0x11, 0x00, 0x00, 0x01};
    const modules::MacAddress host = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
    int calls = 0;
    const NetworkBatchAsker askAll = [&](const std::vector<AddressQuestion>& questions, std::chrono::milliseconds) {
        ++calls;
        EXPECT_EQ(questions.size(), 2u) << "only what the scan and the subnets leave open";
        return std::vector<NetworkAnswer>{{host, ""}, {}};
    };
    const auto uses = checkAddressesInUse(
        {{Address(192, 168, 0, 30), module}, {Address(172, 16, 0, 1), module}, {Address(192, 168, 0, 31), module}},
        {Record().Mac(1).Ip(Address(192, 168, 0, 20))}, kSubnets, askAll);
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(uses.size(), 3u);
    EXPECT_TRUE(uses[0].inUse);
    EXPECT_EQ(uses[0].holder, host);
    EXPECT_FALSE(uses[1].inUse);
    EXPECT_FALSE(uses[1].note.empty());
    EXPECT_FALSE(uses[2].inUse);
}

TEST(DhcpProbe, OnlyAnOfferToOurDiscoverCounts)
{
    const modules::MacAddress client = probeClientMac(0xFFFFFFFFFFFFu);
    EXPECT_EQ(client[0] & 0x03, 0x02) << "locally administered, unicast";
    constexpr std::uint32_t kXid = 0x01020304;
    const auto offer = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> wire = discoverMessage(kXid, client);
        wire[0] = 2;   // reply
        wire[242] = 2; // option 53: offer
        wire[16] = 10; // yiaddr 10.0.0.7
        wire[19] = 7;
        wire[at] = value;
        return wire;
    };
    const struct {
        const char* what;
        std::vector<std::uint8_t> wire;
        std::optional<DhcpOffer> expected;
    } rows[] = {
        {"offer", offer(0, 2), DhcpOffer{Address(10, 0, 0, 1), "", Address(10, 0, 0, 7)}},
        {"our own discover", discoverMessage(kXid, client), std::nullopt},
        {"an ack", offer(242, 5), std::nullopt},
        {"another transaction", offer(7, 5), std::nullopt},
        {"another client", offer(33, static_cast<std::uint8_t>(client[5] + 1)), std::nullopt},
        {"cut short", std::vector<std::uint8_t>(100, 2), std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(readOffer(row.wire.data(), row.wire.size(), Address(10, 0, 0, 1), kXid, client), row.expected)
            << row.what;
}

// "LINE MAC name=value..." of the settings a row gives.
std::string Described(const PlanRow& row)
{
    std::string text = std::to_string(row.line) + " " + modules::formatMac(row.mac);
    const auto& s = row.settings;
    for (const auto& [name, value] : {std::pair{" ip=", s.ip}, {" mask=", s.mask}, {" dns2=", s.dns2}})
        if (value)
            text += name + modules::formatDottedAddress(*value);
    if (s.hostName)
        text += " hostname=" + *s.hostName;
    if (s.dhcp)
        text += *s.dhcp ? " dhcp=on" : " dhcp=off";
    return text;
}

TEST(PlanFile, RowsAndProblems)
{
    const std::string scanCsv =
        "mac,ip,mask,gateway,dhcp,password,hostname,dns1,dns2,type,version,protocol,warnings\r\n"
        "00-30-11-00-00-01,192.168.0.20,,,on,off,'-x,,,t,1.00.1,1.10,\r\n";
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> rows;
        std::vector<std::string> problems; // after "p.csv:"
    } rows[] = {
        {"BOM, CRLF, blank lines", "\xEF\xBB\xBFMAC , IP\r\n\r\n00-30-11-00-00-01,192.168.0.10\r\n,\r\n",
            {"3 00-30-11-00-00-01 ip=192.168.0.10"}, {}},
        {"quoted cells with commas, quotes and newlines",
            "note,mac,hostname\n\"a,\"\"b\"\"\nc\",00:30:11:00:00:0a,\"x1\"\n\"\n\",00-30-11-00-00-02,,extra\n",
            {"2 00-30-11-00-00-0A hostname=x1", "4 00-30-11-00-00-02"}, {}},
        {"a scan's CSV: protected cell read back, other columns ignored", scanCsv,
            {"2 00-30-11-00-00-01 ip=192.168.0.20 hostname=-x dhcp=on"}, {}},
        {"short row with its MAC, 0.0.0.0 twice",
            "mac,dns2,ip\n00-30-11-00-00-01\n00-30-11-00-00-02,0.0.0.0,0.0.0.0\n"
            "00-30-11-00-00-03,,0.0.0.0\n",
            {"2 00-30-11-00-00-01", "3 00-30-11-00-00-02 ip=0.0.0.0 dns2=0.0.0.0", "4 00-30-11-00-00-03 ip=0.0.0.0"},
            {}},
        {"every bad row",
            "mac,ip,mask,hostname,dhcp\n00-30-11-00-00-1,,,,\n,1.2.3.4\n00-30-11-00-00-01,10.0.0.255\n"
            "00-30-11-00-00-02,10.0.0.1,255.255.256.0\n00-30-11-00-00-03,10.0.0.1,,abcdefghijabcdefghijabcdefghij\n"
            "00-30-11-00-00-04,,,,yes\n00-30-11-00-00-05,10.0.0.2\n00-30-11-00-00-05,10.0.0.3\n00-30-11-00-00-06,10.0."
            "0.2",
            {"8 00-30-11-00-00-05 ip=10.0.0.2"},
            {"2: bad MAC \"00-30-11-00-00-1\"", "3: no MAC",
                "4: ip 10.0.0.255: Last digit of IP address can not be 255.", "5: bad mask address \"255.255.256.0\"",
                "6: hostname \"abcdefghijabcdefghijabcdefghij\" is longer than 29 characters",
                "6: ip 10.0.0.1 is also the target of line 5", "7: dhcp \"yes\" is neither on nor off",
                "9: MAC 00-30-11-00-00-05 is also in line 8", "10: ip 10.0.0.2 is also the target of line 8"}},
        {"no mac column", "ip,ip\n1.2.3.4\n", {},
            {"1: column ip appears twice", "1: no column \"mac\": every row needs the MAC of its module"}},
        {"empty file", "", {}, {"1: no header row: a plan needs at least the column \"mac\""}},
        {"ragged quoting",
            "mac,hostname\n00-30-11-00-00-01,a\"b\n\"00-30-11-00-00-02\"x,c\n00-30-11-00-00-03,\"open\n\n",
            {"2 00-30-11-00-00-01 hostname=a\"b", "4 00-30-11-00-00-03 hostname=open\n\n"},
            {"2: a quote inside a cell that does not start with one", "3: text after the closing quote of a cell",
                "3: bad MAC \"00-30-11-00-00-02x\"", "4: a quoted cell is not closed"}},
    };
    for (const auto& row : rows) {
        const PlanReading reading = readPlan(row.text, "p.csv");
        std::vector<std::string> described, problems;
        for (const PlanRow& planRow : reading.plan.rows)
            described.push_back(Described(planRow));
        for (const std::string& problem : row.problems)
            problems.push_back("p.csv:" + problem);
        EXPECT_EQ(described, row.rows) << row.what;
        EXPECT_EQ(reading.problems, problems) << row.what;
    }
    EXPECT_EQ(readPlanFile("/").problems, std::vector<std::string>{"/: cannot read: it is a folder"});
}

TEST(PlanExport, ReservationsForRowsWithAnAddressAndDhcpNotOff)
{
    const Plan plan =
        readPlan("mac,ip,hostname,dhcp\n00-30-11-00-00-0a,10.0.0.1,plc1,on\n00-30-11-00-00-02,10.0.0.2,,\n"
                 "00-30-11-00-00-03,10.0.0.3,plc3,off\n00-30-11-00-00-04,,plc4,on\n"
                 "00-30-11-00-00-05,0.0.0.0,,on\n00-30-11-00-00-06,10.0.0.6,a-b,\n",
            "p.csv")
            .plan;
    EXPECT_EQ(keaReservations(plan),
        "{\n  \"reservations\": [\n"
        "    {\n      \"hw-address\": \"00:30:11:00:00:0a\",\n      \"ip-address\": \"10.0.0.1\",\n"
        "      \"hostname\": \"plc1\"\n    },\n"
        "    {\n      \"hw-address\": \"00:30:11:00:00:02\",\n      \"ip-address\": \"10.0.0.2\"\n    },\n"
        "    {\n      \"hw-address\": \"00:30:11:00:00:06\",\n      \"ip-address\": \"10.0.0.6\"\n    }\n  ]\n}\n");
    EXPECT_EQ(dnsmasqHosts(plan),
        "dhcp-host=00:30:11:00:00:0a,10.0.0.1,plc1\ndhcp-host=00:30:11:00:00:02,10.0.0.2\n"
        "dhcp-host=00:30:11:00:00:06,10.0.0.6\n");
    EXPECT_EQ(exportProblems(plan),
        std::vector<std::string>{"p.csv:7: hostname \"a-b\": Illegal hostname! Only a-z, A-Z and 0-9 allowed."});
}

// Four modules on eth0's subnet (192.168.0.20 + n - 1, host name "plcN" or
// "a-b"); none reports DNS.
std::vector<QORT_ModuleScanResponseType> PlanScan()
{
    std::vector<QORT_ModuleScanResponseType> scan;
    for (std::uint8_t n = 1; n <= 4; ++n)
        scan.push_back(Record()
                           .Mac(n)
                           .Ip(Address(192, 168, 0, 19 + n))
                           .Mask(Address(255, 255, 255, 0))
                           .Dhcp(0)
                           .HostName(n == 4 ? "a-b" : "plc" + std::to_string(n)));
    return scan;
}

// Another host answers for 192.168.0.40; nobody for any other address.
NetworkAnswer FakeNetwork(const AdapterSubnet&, std::uint32_t ip, std::chrono::milliseconds)
{
    if (ip == Address(192, 168, 0, 40))
        return {modules::MacAddress{0x02, 0, 0, 0, 0, 0x09}, ""};
    return {};
}

TEST(PlanSteps, DryRunLinesAndProblems)
{
    const std::string m = "00-30-11-00-00-0";
    const struct {
        const char* what;
        std::string rows; // after the header "mac,ip,hostname,dns1,dhcp", MACs as their last digit
        std::vector<std::string> lines;
        std::vector<std::string> problems;
        std::string summary;
    } rows[] = {
        {"unchanged, change, missing", "1,192.168.0.20,plc1\n2,192.168.0.30,x\n5,,",
            {m + "1 unchanged", m + "2 change ip 192.168.0.21 -> 192.168.0.30, hostname \"plc2\" -> \"x\"",
                m + "5 missing"},
            {}, "1 to change, 1 unchanged, 1 missing, 0 conflicts"},
        {"held by a module outside the plan", "2,192.168.0.22",
            {m + "2 conflict ip 192.168.0.22 (in use by module " + m + "3)"}, {},
            "0 to change, 0 unchanged, 0 missing, 1 conflicts"},
        {"two plan modules swap", "1,192.168.0.21\n2,192.168.0.20",
            {m + "1 change ip 192.168.0.20 -> 192.168.0.21", m + "2 change ip 192.168.0.21 -> 192.168.0.20"}, {},
            "2 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"a chain held back by a conflict", "1,192.168.0.21\n2,192.168.0.22",
            {m + "1 conflict ip 192.168.0.21 (in use by module " + m + "2)",
                m + "2 conflict ip 192.168.0.22 (in use by module " + m + "3)"},
            {}, "0 to change, 0 unchanged, 0 missing, 2 conflicts"},
        {"held by a plan module that stays", "1,192.168.0.21\n2,,y",
            {m + "1 conflict ip 192.168.0.21 (in use by module " + m + "2)", m + "2 change hostname \"plc2\" -> \"y\""},
            {}, "1 to change, 0 unchanged, 0 missing, 1 conflicts"},
        {"another host answers", "1,192.168.0.40", {m + "1 conflict ip 192.168.0.40 (in use by 02-00-00-00-00-09)"}, {},
            "0 to change, 0 unchanged, 0 missing, 1 conflicts"},
        {"with DHCP on the server gives the IP", "1,192.168.0.30,,,on", {m + "1 change dhcp off -> on"}, {},
            "1 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"a name the dialog refuses kept by a row that writes nothing", "4,192.168.0.23", {m + "4 unchanged"}, {},
            "0 to change, 1 unchanged, 0 missing, 0 conflicts"},
        {"rows that write", "3,,,10.0.0.1\n4,192.168.0.41",
            {m + "3 change dns1 not reported -> 10.0.0.1", m + "4 change ip 192.168.0.23 -> 192.168.0.41"},
            {"p.csv:2: module " + m + "3 does not report dns1, so it cannot be set",
                "p.csv:3: hostname \"a-b\": Illegal hostname! Only a-z, A-Z and 0-9 allowed."},
            "2 to change, 0 unchanged, 0 missing, 0 conflicts"},
    };
    for (const auto& row : rows) {
        std::string text = "mac,ip,hostname,dns1,dhcp\n" + m;
        for (char c : row.rows)
            text += c == '\n' ? "\n" + m : std::string(1, c);
        const Plan plan = readPlan(text, "p.csv").plan;
        const auto steps = planSteps(plan, PlanScan(), kSubnets, {FakeNetwork});
        std::vector<std::string> lines;
        for (const PlanStep& step : steps)
            lines.push_back(stepLine(step));
        EXPECT_EQ(lines, row.lines) << row.what;
        EXPECT_EQ(planProblems(plan, steps), row.problems) << row.what;
        EXPECT_EQ(dryRunSummary(steps), row.summary) << row.what;
    }
}

TEST(PlanRun, AnswersVerificationCancelForce)
{
    // 1 and 2 change, 3 conflicts with module 4 (in the plan, unchanged), 5 is missing.
    const std::string m = "00-30-11-00-00-0";
    const Plan plan = readPlan(
        "mac,ip,hostname\n" + m + "1,192.168.0.30\n" + m + "2,,y\n" + m + "3,192.168.0.23\n" + m + "4,,\n" + m + "5,,",
        "p.csv")
                          .plan;
    const std::vector<PlanStep> steps = planSteps(plan, PlanScan(), kSubnets, {FakeNetwork});
    std::vector<QORT_ModuleScanResponseType> written = PlanScan();
    written[0].IpAddr = Address(192, 168, 0, 30);
    written[2].IpAddr = Address(192, 168, 0, 23);
    std::strcpy(written[1].HostName, "y");
    using A = PlanRun::Answer;
    const std::string refused = m + "3 failed: address 192.168.0.23 is in use by module " + m + "4";
    const struct {
        const char* what;
        bool force;
        std::size_t sendBeforeCancel; // requests sent before a cancel; above their count: no cancel
        std::vector<std::pair<std::uint8_t, A>> answers;
        std::vector<QORT_ModuleScanResponseType> rescan;
        bool verified;
        std::vector<std::string> lines; // of rows 1 to 3; 4 is unchanged, 5 missing
        std::vector<const char*> audits;
        std::string summary;
        PlanRun::Counts counts;
    } rows[] = {
        {"written and verified", false, 9, {{1, A::Reconfigured}, {2, A::Reconfigured}}, written, true,
            {m + "1 changed ip 192.168.0.20 -> 192.168.0.30", m + "2 changed hostname \"plc2\" -> \"y\"", refused},
            {"verified", "verified", "refused"}, "2 changed, 1 unchanged, 1 missing, 1 failed", {2, 2, 2}},
        {"not verified, invalid password", false, 9, {{1, A::Reconfigured}, {2, A::InvalidPassword}}, PlanScan(), false,
            {m + "1 failed: not verified: IP is 192.168.0.20, sent 192.168.0.30", m + "2 failed: invalid password",
                refused},
            {"not-verified", "invalid-password", "refused"}, "0 changed, 1 unchanged, 1 missing, 3 failed", {2, 2, 0}},
        {"no answer, and none within the wait", false, 9, {{1, A::None}}, written, true,
            {m + "1 failed: no answer", m + "2 failed: no answer", refused}, {"no-answer", "no-answer", "refused"},
            "0 changed, 1 unchanged, 1 missing, 3 failed", {2, 2, 0}},
        {"cancel after the first write", false, 1, {{1, A::Reconfigured}, {2, A::Reconfigured}}, written, true,
            {m + "1 changed ip 192.168.0.20 -> 192.168.0.30", m + "2 cancelled", refused}, {"verified", "", "refused"},
            "1 changed, 1 unchanged, 1 missing, 1 failed, 1 cancelled", {2, 1, 1}},
        {"force writes the conflict", true, 9, {{1, A::Reconfigured}, {2, A::Reconfigured}, {3, A::Reconfigured}},
            written, true,
            {m + "1 changed ip 192.168.0.20 -> 192.168.0.30", m + "2 changed hostname \"plc2\" -> \"y\"",
                m + "3 changed ip 192.168.0.22 -> 192.168.0.23"},
            {"verified", "verified", "verified"}, "3 changed, 1 unchanged, 1 missing, 0 failed", {3, 3, 3}},
    };
    for (const auto& row : rows) {
        PlanRun run(steps, row.force);
        const auto requests = run.requests();
        for (std::size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].Password[0], '\0') << row.what;
            if (i == row.sendBeforeCancel)
                run.cancel();
            else
                run.sent(modules::macOfRecord(Record().Mac(requests[i].MacId[5])));
        }
        for (const auto& [mac, answer] : row.answers)
            run.answered(modules::macOfRecord(Record().Mac(mac)), answer);
        EXPECT_EQ(run.verify(row.rescan), row.verified) << row.what;
        const auto results = run.results();
        ASSERT_EQ(results.size(), 5u) << row.what;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(results[i].line, row.lines[i]) << row.what;
            EXPECT_EQ(results[i].audit ? resultText(results[i].audit->result) : "", std::string(row.audits[i]))
                << row.what;
        }
        EXPECT_EQ(results[3].line, m + "4 unchanged") << row.what;
        EXPECT_EQ(results[4].line, m + "5 missing") << row.what;
        EXPECT_EQ(run.summary(), row.summary) << row.what;
        EXPECT_EQ(run.counts(), row.counts) << row.what;
        EXPECT_FALSE(run.succeeded()) << row.what << ": a module is missing";
    }
    EXPECT_TRUE(PlanRun({steps[3]}, false).succeeded()) << "unchanged only";
    EXPECT_FALSE(PlanRun({steps[2]}, true).succeeded()) << "forced, never sent";
}

QORT_ConfigureRequestType Request(std::uint8_t macLast, std::uint32_t ip, std::uint8_t dhcp, const char* hostName)
{
    QORT_ConfigureRequestType request{};
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, 0x00, 0x00, macLast};
    std::copy(std::begin(mac), std::end(mac), request.MacId);
    std::strcpy(request.Password, "old-secret");
    request.ChangePassword = 1;
    std::strcpy(request.NewPassword, "new-secret");
    request.IpAddr = ip;
    request.SubnetMask = Address(255, 255, 255, 0);
    request.Gateway = request.Dns1 = request.Dns2 = QORT_ADDR_NOT_GIVEN;
    request.Dhcp = dhcp;
    std::strcpy(request.HostName, hostName);
    return request;
}

Record Full()
{
    return Record()
        .Mac(1)
        .Ip(Address(192, 168, 0, 20))
        .Mask(Address(255, 255, 255, 0))
        .Gateway(Address(192, 168, 0, 1))
        .Dns1(Address(8, 8, 8, 8))
        .Dns2(0)
        .Dhcp(0)
        .Pswd(1)
        .HostName("plc-1");
}
const QORT_ModuleScanResponseType kFull = Full();

TEST(Verification, FieldsThatDiffer)
{
    const Record after = Full().Ip(Address(192, 168, 0, 30)).HostName("plc-2");
    QORT_ConfigureRequestType everything = Request(1, Address(192, 168, 0, 30), 0, "plc-2");
    everything.Gateway = Address(192, 168, 0, 1);
    everything.Dns1 = Address(8, 8, 8, 8);
    everything.Dns2 = 0;
    const struct {
        const char* what;
        QORT_ConfigureRequestType sent;
        QORT_ModuleScanResponseType seen;
        std::vector<std::string> expected;
    } rows[] = {
        {"all shown", everything, after, {}},
        {"unchanged module", everything, kFull,
            {"not verified: IP is 192.168.0.20, sent 192.168.0.30",
                R"(not verified: host name is "plc-1", sent "plc-2")"}},
        {"fields left out are not compared", Request(1, QORT_ADDR_NOT_GIVEN, 2, "plc-2"), Record(after).Dhcp(1), {}},
        {"0.0.0.0 is a value", Request(1, 0, 0, "plc-2"), after, {"not verified: IP is 192.168.0.30, sent 0.0.0.0"}},
        {"DHCP on leaves IP, mask and gateway to the server", Request(1, 0, 1, "plc-2"), Record(after).Dhcp(1), {}},
        {"DHCP differs", Request(1, 0, 1, "plc-2"), after, {"not verified: DHCP is off, sent on"}},
        {"not reported", everything, Record().Mac(1),
            {"not verified: IP is not reported, sent 192.168.0.30",
                "not verified: mask is not reported, sent 255.255.255.0",
                "not verified: gateway is not reported, sent 192.168.0.1",
                "not verified: DNS 1 is not reported, sent 8.8.8.8",
                "not verified: DNS 2 is not reported, sent 0.0.0.0",
                "not verified: host name is not reported, sent \"plc-2\"",
                "not verified: DHCP is not reported, sent off"}},
        {"no name sent to a module that reports none", Request(1, QORT_ADDR_NOT_GIVEN, 2, ""),
            Record().Mac(1).Mask(Address(255, 255, 255, 0)), {}},
        {"host name bytes escaped", Request(1, QORT_ADDR_NOT_GIVEN, 2, "a\nb"), after,
            {R"(not verified: host name is "plc-2", sent "a\x0Ab")"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(unverifiedFields(row.sent, row.seen), row.expected) << row.what;
}

// Module 0x of a watch, as a scan object with its ip and warnings.
nlohmann::ordered_json Seen(int module, const char* ip, std::vector<std::string> warnings = {})
{
    return {{"mac", "00-30-11-00-00-0" + std::to_string(module)}, {"ip", ip}, {"warnings", std::move(warnings)}};
}

// Each row: scans in turn to a tracker that forgets after two, and the
// events as "event 0x", one "|" after each scan. "restart" takes the last
// scan with a tracker restored from the state before it.
TEST(WatchTracker, OneEventPerChange)
{
    const auto a = Seen(1, "10.0.0.1"), b = Seen(2, "10.0.0.2");
    const auto aDup = Seen(1, "10.0.0.1", {kWarningDuplicateIp}), bDup = Seen(2, "10.0.0.1", {kWarningDuplicateIp});
    const struct {
        const char* what;
        std::vector<std::vector<nlohmann::ordered_json>> scans;
        std::string expected;
        bool restart = false;
    } rows[] = {
        {"first sight is new, the same again nothing", {{a}, {a}}, "new 01||"},
        {"changed once per change", {{a}, {Seen(1, "10.0.0.9")}, {Seen(1, "10.0.0.9")}}, "new 01|changed 01||"},
        {"warnings alone are no change", {{a}, {Seen(1, "10.0.0.1", {kWarningOtherSubnet})}}, "new 01||"},
        {"missing after two scans, then new again", {{a}, {}, {}, {a}}, "new 01||missing 01|new 01|"},
        {"an answer between resets the count", {{a}, {}, {a}, {}}, "new 01||||"},
        {"duplicate-ip once when it starts", {{a, b}, {aDup, bDup}, {aDup, bDup}},
            "new 01new 02|duplicate-ip 01changed 02duplicate-ip 02||"},
        {"entries without a MAC are skipped", {{{{"ip", "10.0.0.1"}}, {{"mac", "00:30:11:00:00:01"}}}}, "|"},
        {"a restart on the state knows its modules", {{a, b}, {}, {a}}, "new 01new 02||missing 02|", true},
        // The sharer answers every other scan; the scan's own warnings come
        // and go with it, the known set does not.
        {"a flapping sharer gives one duplicate-ip", {{a}, {aDup, bDup}, {a}, {aDup, bDup}, {a}, {aDup, bDup}},
            "new 01|duplicate-ip 01new 02duplicate-ip 02|||||"},
        {"sharing ends when the sharer is missing, and starts again", {{a}, {a, bDup}, {a}, {a}, {a, bDup}},
            "new 01|duplicate-ip 01new 02duplicate-ip 02||missing 02|"
            "duplicate-ip 01new 02duplicate-ip 02|"},
        {"sharing ends when the sharer moves", {{a, bDup}, {a, b}, {a, bDup}},
            "new 01duplicate-ip 01new 02duplicate-ip 02|changed 02|duplicate-ip 01changed 02duplicate-ip 02|"},
        {"a silent module shares with a newcomer", {{a}, {bDup}}, "new 01|duplicate-ip 01new 02duplicate-ip 02|"},
        {"no address is no sharing", {{Seen(1, "0.0.0.0"), Seen(2, "0.0.0.0")}}, "new 01new 02|"},
        {"sharing known before a restart is not news after it", {{a, bDup}, {a, bDup}},
            "new 01duplicate-ip 01new 02duplicate-ip 02||", true},
    };
    for (const auto& row : rows) {
        WatchTracker tracker(2);
        std::string events;
        for (std::size_t i = 0; i < row.scans.size(); ++i) {
            if (row.restart && i + 1 == row.scans.size()) {
                const nlohmann::ordered_json saved = tracker.state();
                std::string error;
                EXPECT_TRUE((tracker = WatchTracker(2)).restore(saved, error)) << error;
            }
            for (const WatchEvent& event : tracker.take(row.scans[i], "site", "now"))
                events += event.event + " " + event.mac.substr(event.mac.size() - 2);
            events += "|";
        }
        EXPECT_EQ(events, row.expected) << row.what;
    }
    std::string error;
    EXPECT_FALSE(WatchTracker(2).restore({{"modules", {{{"mac", "00-30-11-00-00-01"}}}}}, error));
}

TEST(AuditLog, LineOfAWrite)
{
    const std::string prefix =
        R"({"time":"1970-01-02T00:00:00Z","user":"tech","program":"sorvinda","mac":"00-30-11-00-00-01",)";
    const struct {
        AuditEntry entry;
        std::string expected; // after prefix
    } rows[] = {
        {{"sorvinda", kFull, Request(1, Address(192, 168, 0, 30), 0, "plc-2"), WriteResult::Verified},
            R"("before":{"ip":"192.168.0.20","mask":"255.255.255.0","gateway":"192.168.0.1","dns1":"8.8.8.8","dns2":"0.0.0.0","dhcp":false,"hostname":"plc-1"},)"
            R"("after":{"ip":"192.168.0.30","mask":"255.255.255.0","dhcp":false,"hostname":"plc-2"},"result":"verified"})"},
        {{"sorvinda", Record().Mac(1).Dhcp(0xFF), Request(1, QORT_ADDR_NOT_GIVEN, 2, "\xff"), WriteResult::NotVerified},
            R"("before":{},"after":{"mask":"255.255.255.0","hostname":")"
            "\xEF\xBF\xBD"
            R"("},"result":"not-verified"})"},
        {{"sorvinda", kFull, Request(1, 0, 1, ""), WriteResult::InvalidPassword},
            R"("before":{"ip":"192.168.0.20","mask":"255.255.255.0","gateway":"192.168.0.1","dns1":"8.8.8.8","dns2":"0.0.0.0","dhcp":false,"hostname":"plc-1"},)"
            R"("after":{"ip":"0.0.0.0","mask":"255.255.255.0","dhcp":true,"hostname":""},"result":"invalid-password"})"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(auditLine(row.entry, 86400, "tech"), prefix + row.expected);
    for (WriteResult result : {WriteResult::NoAnswer, WriteResult::Refused})
        EXPECT_NE(auditLine({"sorvinda", kFull, Request(1, 0, 0, ""), result}, 0, "tech")
                      .find(std::string(R"("result":")") + resultText(result) + "\"}"),
            std::string::npos);
}

TEST(AuditLog, UndoTakesTheNewestVerifiedBefore)
{
    const std::string mac1 = R"("mac":"00-30-11-00-00-01")";
    const auto line = [&](const char* ip, const char* result) {
        return "{" + mac1 + R"(,"before":{"ip":")" + ip + R"(","dhcp":false},"result":")" + result + "\"}\n";
    };
    const struct {
        const char* what;
        std::string text;
        std::optional<std::uint32_t> ip; // of the undo values; nothing: no undo
    } rows[] = {
        {"empty", "", std::nullopt},
        {"newest wins", line("10.0.0.1", "verified") + line("10.0.0.2", "verified"), Address(10, 0, 0, 2)},
        {"only verified", line("10.0.0.1", "verified") + line("10.0.0.2", "not-verified"), Address(10, 0, 0, 1)},
        {"other module",
            line("10.0.0.1", "verified") + R"({"mac":"00-30-11-00-00-02","before":{},"result":"verified"})",
            Address(10, 0, 0, 1)},
        {"cut and garbage lines",
            line("10.0.0.1", "verified") + "\x01garbage\n[1,2]\n\"x\"\n" + line("10.0.0.2", "verified").substr(0, 40),
            Address(10, 0, 0, 1)},
        {"value of the wrong kind", line("10.0.0.1", "verified") + line("10.0.0.999", "verified"),
            Address(10, 0, 0, 1)},
        {"before not an object", "{" + mac1 + R"(,"before":7,"result":"verified"})", std::nullopt},
    };
    for (const auto& row : rows) {
        const auto values = findUndoValues(row.text, modules::macOfRecord(kFull));
        ASSERT_EQ(values.has_value(), row.ip.has_value()) << row.what;
        if (values) {
            EXPECT_EQ(values->IpAddr, *row.ip) << row.what;
            EXPECT_EQ(values->DhcpValid, 1) << row.what;
            EXPECT_EQ(values->MacIdValid, 1) << row.what;
        }
    }
}

TEST(AuditLog, FileIsPrivateAppendedAndReadBackForUndo)
{
    char folder[] = "/tmp/commissioning-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::filesystem::path root(folder);
    ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    const AuditLog log = AuditLog::forUser();
    EXPECT_EQ(log.file(), root / "state/sorvinda/audit.jsonl");
    const QORT_ConfigureRequestType request = Request(1, Address(192, 168, 0, 30), 0, "plc-2");
    EXPECT_EQ(log.append({"sorvinda", kFull, request, WriteResult::Verified}), std::nullopt);
    EXPECT_EQ(log.append({"SorvindaConfig", kFull, request, WriteResult::Refused}), std::nullopt);

    struct stat info { };
    ASSERT_EQ(::stat(log.file().parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(log.file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::ifstream in(log.file());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.find("secret"), std::string::npos);

    const auto before = log.undoValues(modules::macOfRecord(kFull));
    ASSERT_TRUE(before.has_value());
    const QORT_ConfigureRequestType undo = undoRequest(*before, kFull);
    EXPECT_EQ(undo.IpAddr, kFull.IpAddr);
    EXPECT_EQ(undo.Dns2, 0u);
    EXPECT_EQ(undo.Dhcp, 0);
    EXPECT_STREQ(undo.HostName, "plc-1");
    EXPECT_EQ(undo.Password[0], '\0');

    // A folder in the way of the file: the caller hears why.
    const AuditLog blocked(root / "state/sorvinda");
    const auto error = blocked.append({"sorvinda", kFull, request, WriteResult::Verified});
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("cannot open the audit log"), std::string::npos) << *error;
    std::filesystem::remove_all(root);
}

// Each row: what the events file takes before the disk is full (a file
// size limit, with SIGXFSZ ignored, so a write is cut short exactly as on a
// full disk) and the lines written; the file holds whole lines only.
TEST(EventsFile, LinesAreWholeOrNotAtAll)
{
    const struct {
        const char* what;
        rlim_t room;
        std::vector<std::string> lines;
        std::string expected;
        std::size_t failures;
    } rows[] = {
        {"room for all", 64, {"aaaa\n", "bbbb\n"}, "aaaa\nbbbb\n", 0},
        {"the second line is torn: cut back", 7, {"aaaa\n", "bbbb\n", "c\n"}, "aaaa\nc\n", 1},
        {"no room at all", 3, {"aaaa\n", "bb\n"}, "bb\n", 1},
    };
    char folder[] = "/tmp/commissioning-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::filesystem::path file = std::filesystem::path(folder) / "events";
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    for (const auto& row : rows) {
        std::filesystem::remove(file);
        const int descriptor = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(descriptor, 0);
        rlimit limit{row.room, previous.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        std::size_t failures = 0;
        for (const std::string& line : row.lines)
            failures += appendWholeLine(descriptor, line).has_value() ? 1 : 0;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &previous), 0);
        ::close(descriptor);
        std::ifstream in(file);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, row.expected) << row.what;
        EXPECT_EQ(failures, row.failures) << row.what;
    }
    std::signal(SIGXFSZ, previousHandler);
    std::filesystem::remove_all(folder);
}

// The state file is replaced whole: a temporary left by an earlier run
// (longer than the new state) must not leave its tail behind, and a reader
// finds the new text exactly.
TEST(StateFile, ReplacedWhole)
{
    char folder[] = "/tmp/commissioning-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::filesystem::path file = std::filesystem::path(folder) / "state.json";
    const struct {
        const char* what;
        std::string leftover; // in file.new before the replace; empty: none
        std::string text;
    } rows[] = {
        {"first write", "", "{\"modules\":[]}\n"},
        {"a longer temporary left behind", std::string(4096, 'x'), "{}\n"},
        {"a longer state before", "", "{\"modules\":[1]}\n"},
        {"then a shorter one", "", "{}\n"},
    };
    for (const auto& row : rows) {
        if (!row.leftover.empty())
            std::ofstream(std::filesystem::path(folder) / "state.json.new") << row.leftover;
        EXPECT_EQ(replaceFileAtomically(file, row.text), std::nullopt) << row.what;
        std::ifstream in(file);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, row.text) << row.what;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(folder) / "state.json.new")) << row.what;
    }
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace commissioning
