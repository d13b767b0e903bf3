// The rules of safe commissioning that need no network: the warnings of one
// scan, the verification of a write, the audit log and its undo reader, the
// plan: its reader, its steps and writes, its exports.

#include "commissioning/addressinuse.h"
#include "commissioning/auditlog.h"
#include "commissioning/change.h"
#include "commissioning/dhcpprobe.h"
#include "commissioning/interruptedwrites.h"
#include "commissioning/planexport.h"
#include "commissioning/planfile.h"
#include "commissioning/planjournal.h"
#include "commissioning/plansteps.h"
#include "commissioning/scancsv.h"
#include "commissioning/scanwarnings.h"
#include "commissioning/verification.h"
#include "commissioning/watch.h"
#include "modules/columntexts.h"
#include "tests/modules/records.h"
#include "tests/support/auditrefusal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
        {"this computer's address", {Record().Mac(1).Ip(Address(10, 0, 0, 5))}, {{kWarningOwnAddress}}},
    };
    for (const auto& row : rows) {
        const auto warnings = scanWarnings(row.scan, kSubnets);
        for (std::size_t i = 0; i < row.scan.size(); ++i)
            EXPECT_EQ(warnings.at(modules::macOfRecord(row.scan[i])), row.expected[i]) << row.what << " #" << i;
    }
}

// The sentences both front ends show: what, who and what to do, and how
// much each matters.
TEST(ScanWarnings, NotesSayWhatAndWho)
{
    const std::vector<AdapterSubnet> subnets = {
        {"eth1", 2, Address(10, 213, 0, 1), Address(255, 255, 255, 0)},
        {"wlan0", 3, Address(192, 168, 1, 7), Address(255, 255, 255, 0)},
    };
    using N = ScanNote;
    const N other{NoteKind::Information,
        "Not in any subnet of this computer (eth1 10.213.0.1/24, wlan0 192.168.1.7/24): it can still be configured "
        "here"};
    const struct {
        const char* what;
        std::vector<QORT_ModuleScanResponseType> scan;
        std::vector<std::vector<N>> expected; // per record, in scan order
    } rows[] = {
        {"in a subnet of this computer", {Record().Mac(1).Ip(Address(10, 213, 0, 50))}, {{}}},
        {"duplicate names the other module",
            {Record().Mac(1).Ip(Address(10, 213, 0, 50)), Record().Mac(8).Ip(Address(10, 213, 0, 50))},
            {{N{NoteKind::Warning, "Shares 10.213.0.50 with 00-30-11-00-00-08"}},
                {N{NoteKind::Warning, "Shares 10.213.0.50 with 00-30-11-00-00-01"}}}},
        {"three on one address",
            {Record().Mac(1).Ip(Address(10, 213, 0, 9)), Record().Mac(2).Ip(Address(10, 213, 0, 9)),
                Record().Mac(3).Ip(Address(10, 213, 0, 9))},
            {{N{NoteKind::Warning, "Shares 10.213.0.9 with 00-30-11-00-00-02, 00-30-11-00-00-03"}},
                {N{NoteKind::Warning, "Shares 10.213.0.9 with 00-30-11-00-00-01, 00-30-11-00-00-03"}},
                {N{NoteKind::Warning, "Shares 10.213.0.9 with 00-30-11-00-00-01, 00-30-11-00-00-02"}}}},
        {"other subnet names every subnet", {Record().Mac(1).Ip(Address(172, 16, 0, 5)).Dhcp(0)}, {{other}}},
        {"this computer's address", {Record().Mac(1).Ip(Address(192, 168, 1, 7))},
            {{N{NoteKind::Warning,
                "Uses 192.168.1.7, the address of this computer (wlan0): give it another address"}}}},
    };
    for (const auto& row : rows) {
        const auto notes = scanNotes(row.scan, subnets);
        for (std::size_t i = 0; i < row.scan.size(); ++i)
            EXPECT_EQ(notes.at(modules::macOfRecord(row.scan[i])), row.expected[i]) << row.what << " #" << i;
    }
    EXPECT_EQ(adapterSubnetsText({}), "no adapter is up");
    EXPECT_EQ(warningKind(kWarningOtherSubnet), NoteKind::Information);
    EXPECT_EQ(warningKind(kWarningDuplicateIp), NoteKind::Warning);
    EXPECT_EQ(warningKind(kWarningOwnAddress), NoteKind::Warning);
}

// A write that did not take, in the words the row's mark and the message
// use: what was sent and what the module reports.
TEST(ScanWarnings, FailedWritesSayWhatWasSentAndWhatIsReported)
{
    const QORT_ModuleScanResponseType before =
        Record().Mac(8).Ip(Address(10, 213, 0, 50)).Mask(Address(255, 255, 255, 0)).Dhcp(0).HostName("press1");
    const auto request = [&](std::uint32_t ip, const char* name) {
        QORT_ConfigureRequestType r{};
        std::memcpy(r.MacId, before.MacId, sizeof r.MacId);
        r.IpAddr = ip;
        r.SubnetMask = Address(255, 255, 255, 0);
        r.Gateway = QORT_ADDR_NOT_GIVEN;
        r.Dns1 = QORT_ADDR_NOT_GIVEN;
        r.Dns2 = QORT_ADDR_NOT_GIVEN;
        r.Dhcp = 0;
        std::strncpy(r.HostName, name, sizeof r.HostName - 1);
        return r;
    };
    const std::uint32_t sent = Address(10, 213, 0, 91);
    const auto withIp = [&](std::uint32_t ip, std::uint8_t valid = 1) {
        QORT_ModuleScanResponseType r = before;
        r.IpAddr = ip;
        r.IpAddrValid = valid;
        return r;
    };
    const struct {
        const char* what;
        QORT_ConfigureRequestType request;
        QORT_ModuleScanResponseType seen;
        std::vector<std::string> expected;
    } rows[] = {
        {"verified", request(sent, "press1"), withIp(sent), {}},
        {"kept its IP", request(sent, "press1"), before, {"Sent IP 10.213.0.91; the module still reports 10.213.0.50"}},
        {"took another IP", request(sent, "press1"), withIp(Address(10, 213, 0, 92)),
            {"Sent IP 10.213.0.91; the module reports 10.213.0.92"}},
        {"IP and name", request(sent, "press2"), before,
            {"Sent IP 10.213.0.91; the module still reports 10.213.0.50",
                "Sent host name \"press2\"; the module still reports \"press1\""}},
        {"IP no longer reported", request(sent, "press1"), withIp(0, 0),
            {"Sent IP 10.213.0.91; the module reports no IP"}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> texts;
        for (const ScanNote& note : notVerifiedNotes(before, row.request, row.seen)) {
            EXPECT_EQ(note.kind, NoteKind::Failure) << row.what;
            texts.push_back(note.text);
        }
        EXPECT_EQ(texts, row.expected) << row.what;
    }
    EXPECT_EQ(
        unansweredNote(before, request(sent, "press1"), false).text, "Sent IP 10.213.0.91; the module did not answer");
    EXPECT_EQ(unansweredNote(before, request(sent, "press2"), true).text,
        "Sent IP 10.213.0.91, host name \"press2\"; the module answered but did not show up in a rescan");
    EXPECT_EQ(unansweredNote(before, request(Address(10, 213, 0, 50), "press1"), false).text,
        "Sent IP 10.213.0.50; the module did not answer");
}

// Both front ends write the scan in one dialect, which the plan reader takes.
TEST(ScanCsv, TheScanDialectIsAPlan)
{
    const std::vector<QORT_ModuleScanResponseType> scan = {
        Record().Mac(1).Ip(Address(10, 213, 0, 50)).Mask(Address(255, 255, 255, 0)).Dhcp(0).HostName("press-line-1"),
        Record().Mac(2).Ip(Address(10, 213, 0, 50)).Dhcp(1)};
    const std::string csv = scanCsv(scan, scanWarnings(scan, {}));
    EXPECT_EQ(csv.substr(0, csv.find('\r')),
        "mac,ip,mask,gateway,dhcp,password,hostname,dns1,dns2,type,version,protocol,warnings");
    EXPECT_NE(csv.find("00-30-11-00-00-01,10.213.0.50,255.255.255.0,,off,,press-line-1,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("duplicate-ip;other-subnet"), std::string::npos) << csv;
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
        std::string holderText = "";
    } rows[] = {
        {"nobody answers", target, scan, {}, {}},
        {"another host answers", target, scan, {host, ""}, {true, host, false, ""}},
        {"the module itself answers", target, scan, {module, ""}, {}},
        {"another module of the scan reports it", Address(192, 168, 0, 40), scan, {}, {true, other, true, ""}},
        {"a module of the scan answers for it", target, {Record().Mac(2)}, {other, ""}, {true, other, true, ""}},
        {"an old entry of a module now elsewhere", target, scan, {other, ""}, {}},
        {"outside every subnet: not asked", Address(172, 16, 0, 1), scan, {host, ""}, {false, {}, false, "x"}},
        {"this computer's own address", Address(10, 0, 0, 5), scan, {}, {true, {}, false, "", "eth1"},
            "this computer (eth1)"},
        {"a second address of an adapter", Address(192, 168, 0, 2), scan, {}, {true, {}, false, "", "eth0"},
            "this computer (eth0)"},
        {"a /32 of an adapter that cannot broadcast", Address(172, 31, 9, 9), scan, {host, ""},
            {true, {}, false, "", "wg0"}, "this computer (wg0)"},
        {"the network cannot be asked", target, scan, {std::nullopt, "x"}, {false, {}, false, "x"}},
    };
    for (const auto& row : rows) {
        const NetworkAsker ask = [&row](const AdapterSubnet& subnet, std::uint32_t, std::chrono::milliseconds) {
            EXPECT_EQ(subnet.adapter, "eth0") << row.what;
            return row.answer;
        };
        const AddressUse use = checkAddressInUse(row.ip, module, row.scan, kSubnets, ask, kAddressAnswerBound,
            {{"eth0", 2, Address(192, 168, 0, 2), Address(255, 255, 255, 0)},
                {"wg0", 7, Address(172, 31, 9, 9), Address(255, 255, 255, 255)}});
        EXPECT_EQ(use.inUse, row.expected.inUse) << row.what;
        EXPECT_EQ(use.computerAdapter, row.expected.computerAdapter) << row.what;
        if (!row.holderText.empty()) {
            EXPECT_EQ(holderText(use), row.holderText) << row.what;
        }
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
        {Record().Mac(1).Ip(Address(192, 168, 0, 20))}, kSubnets, askAll, kAddressAnswerBound, {});
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
            // What depends on the module (an IP ending in 255, a long name,
            // one new IP twice) only the scan shows.
            {"4 00-30-11-00-00-01 ip=10.0.0.255",
                "6 00-30-11-00-00-03 ip=10.0.0.1 hostname=abcdefghijabcdefghijabcdefghij",
                "8 00-30-11-00-00-05 ip=10.0.0.2", "10 00-30-11-00-00-06 ip=10.0.0.2"},
            {"2: bad MAC \"00-30-11-00-00-1\"", "3: no MAC", "5: bad mask address \"255.255.256.0\"",
                "7: dhcp \"yes\" is neither on nor off", "9: MAC 00-30-11-00-00-05 is also in line 8"}},
        {"typo headings are refused, a spreadsheet's own columns named",
            "mac,hostnmae,Gatway,Host name,dns,note,location,id,,SN\n00-30-11-00-00-01\n", {},
            {"1: column \"hostnmae\" is no column of a plan: is it \"hostname\" misspelt? (a column the plan does "
             "not use needs a name of its own, such as \"note\")",
                "1: column \"Gatway\" is no column of a plan: is it \"gateway\" misspelt? (a column the plan does "
                "not use needs a name of its own, such as \"note\")",
                "1: column \"Host name\" is no column of a plan: is it \"hostname\" misspelt? (a column the plan "
                "does not use needs a name of its own, such as \"note\")",
                "1: column \"dns\" is no column of a plan: is it \"dns1\" misspelt? (a column the plan does not use "
                "needs a name of its own, such as \"note\")"}},
        {"a row of 300 cells", "mac\n00-30-11-00-00-01" + std::string(300, ',') + "x\n", {"2 00-30-11-00-00-01"},
            {"2: more than 256 cells in one row"}},
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
    // Every column not used is named, so no edit in it goes unseen.
    EXPECT_EQ(readPlan(scanCsv, "p.csv").notes,
        (std::vector<std::string>{"p.csv:1: column \"password\" ignored", "p.csv:1: column \"type\" ignored",
            "p.csv:1: column \"version\" ignored", "p.csv:1: column \"protocol\" ignored",
            "p.csv:1: column \"warnings\" ignored"}));
    std::istringstream piped("mac,ip,note\n00-30-11-00-00-01,10.0.0.1,x\n");
    const PlanReading fromPipe = readPlanStream(piped, "-");
    EXPECT_EQ(fromPipe.plan.rows.size(), 1u);
    EXPECT_EQ(fromPipe.notes, std::vector<std::string>{"-:1: column \"note\" ignored"});
}

// 16 MB of commas is one blank row of many empty cells: it is read
// without keeping them (its memory is measured in bench/README.md).
TEST(PlanFile, AWideRowIsNotKept)
{
    const PlanReading reading = readPlan(std::string(std::size_t{16} << 20, ','), "p.csv");
    EXPECT_EQ(
        reading.problems, std::vector<std::string>{"p.csv:1: no header row: a plan needs at least the column \"mac\""});
    std::string many = "mac\n";
    for (int n = 0; n < 300; ++n)
        many += "bad\n";
    EXPECT_EQ(readPlan(many, "p.csv").problems.size(), 101u) << "100 problems and a line that more follow";
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

// The tests' computer has only kSubnets' addresses, whatever this one has.
std::vector<AdapterSubnet> NoOtherAddresses()
{
    return {};
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
        {"two plan modules swap: a ring, refused", "1,192.168.0.21\n2,192.168.0.20",
            {m + "1 change ip 192.168.0.20 -> 192.168.0.21 (waits for " + m + "2)",
                m + "2 change ip 192.168.0.21 -> 192.168.0.20 (waits for " + m + "1)"},
            {"p.csv:2: ip 192.168.0.21 is held by module " + m
                    + "2, and the moves wait on each other in a ring: nothing is written; move one of these modules "
                      "to a free address first, then apply the plan",
                "p.csv:3: ip 192.168.0.20 is held by module " + m
                    + "1, and the moves wait on each other in a ring: nothing is written; move one of these modules "
                      "to a free address first, then apply the plan"},
            "2 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"a chain waits in order", "1,192.168.0.21\n2,192.168.0.30",
            {m + "1 change ip 192.168.0.20 -> 192.168.0.21 (waits for " + m + "2)",
                m + "2 change ip 192.168.0.21 -> 192.168.0.30"},
            {}, "2 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"a holder given 0.0.0.0 leaves too", "1,192.168.0.21\n2,0.0.0.0",
            {m + "1 change ip 192.168.0.20 -> 192.168.0.21 (waits for " + m + "2)",
                m + "2 change ip 192.168.0.21 -> 0.0.0.0"},
            {}, "2 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"one new IP twice", "1,192.168.0.30\n2,192.168.0.30",
            {m + "1 change ip 192.168.0.20 -> 192.168.0.30", m + "2 change ip 192.168.0.21 -> 192.168.0.30"},
            {"p.csv:3: ip 192.168.0.30 is also the new address of line 2"},
            "2 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"an address outside this computer's subnets is said", "1,172.16.0.9",
            {m
                + "1 change ip 192.168.0.20 -> 172.16.0.9 (address not checked: no adapter of this computer is in the "
                  "address's subnet: the network was not asked)"},
            {}, "1 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"a chain held back by a conflict", "1,192.168.0.21\n2,192.168.0.22",
            {m + "1 conflict ip 192.168.0.21 (in use by module " + m + "2)",
                m + "2 conflict ip 192.168.0.22 (in use by module " + m + "3)"},
            {}, "0 to change, 0 unchanged, 0 missing, 2 conflicts"},
        {"held by a plan module that stays", "1,192.168.0.21\n2,,y",
            {m + "1 conflict ip 192.168.0.21 (in use by module " + m + "2)", m + "2 change hostname \"plc2\" -> \"y\""},
            {}, "1 to change, 0 unchanged, 0 missing, 1 conflicts"},
        {"another host answers", "1,192.168.0.40", {m + "1 conflict ip 192.168.0.40 (in use by 02-00-00-00-00-09)"}, {},
            "0 to change, 0 unchanged, 0 missing, 1 conflicts"},
        {"turning DHCP on sends the IP too: shown and checked", "1,192.168.0.22,,,on",
            {m + "1 conflict ip 192.168.0.22 (in use by module " + m + "3)"}, {},
            "0 to change, 0 unchanged, 0 missing, 1 conflicts"},
        {"turning DHCP on with a free IP", "1,192.168.0.30,,,on",
            {m + "1 change ip 192.168.0.20 -> 192.168.0.30, dhcp off -> on"}, {},
            "1 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"an IP ending .255 written is refused", "2,192.168.0.255", {m + "2 change ip 192.168.0.21 -> 192.168.0.255"},
            {"p.csv:2: ip 192.168.0.255: Last digit of IP address can not be 255."},
            "1 to change, 0 unchanged, 0 missing, 0 conflicts"},
        {"a name the dialog refuses kept by a row that writes nothing", "4,192.168.0.23", {m + "4 unchanged"}, {},
            "0 to change, 1 unchanged, 0 missing, 0 conflicts"},
        {"rows that write", "3,,,10.0.0.1\n4,192.168.0.41",
            {m + "3 change dns1 not reported -> 10.0.0.1", m + "4 change ip 192.168.0.23 -> 192.168.0.41"},
            // The reported "a-b" is left as it is: no check of typed input.
            {"p.csv:2: module " + m + "3 does not report dns1, so it cannot be set"},
            "2 to change, 0 unchanged, 0 missing, 0 conflicts"},
    };
    for (const auto& row : rows) {
        std::string text = "mac,ip,hostname,dns1,dhcp\n" + m;
        for (char c : row.rows)
            text += c == '\n' ? "\n" + m : std::string(1, c);
        const Plan plan = readPlan(text, "p.csv").plan;
        const auto steps = planSteps(plan, PlanScan(), kSubnets, {FakeNetwork, kAddressAnswerBound, NoOtherAddresses});
        std::vector<std::string> lines;
        for (const PlanStep& step : steps)
            lines.push_back(stepLine(step));
        EXPECT_EQ(lines, row.lines) << row.what;
        EXPECT_EQ(planProblems(plan, steps), row.problems) << row.what;
        EXPECT_EQ(dryRunSummary(steps), row.summary) << row.what;
    }
}

// The checks of typed input apply to what a write changes, never to what
// it restates from the module's record.
TEST(Change, ShownCheckedAskedAndRecorded)
{
    const std::string longName(40, 'n');
    const Record reported =
        Record().Mac(1).Ip(Address(10, 1, 0, 255)).Mask(Address(255, 255, 0, 0)).Dhcp(0).HostName("press-line-1\x07");
    const auto request = [](const Record& found, const modules::GivenSettings& given) {
        return modules::buildCommandLineConfigureRequest(found, given).value_or(QORT_ConfigureRequestType{});
    };
    QORT_ConfigureRequestType cut = request(Record(reported).HostName(longName), {.hostName = std::string(29, 'n')});
    const struct {
        const char* what;
        QORT_ModuleScanResponseType found;
        QORT_ConfigureRequestType sent;
        std::string text;
        bool writes;
        std::optional<std::string> problem;
        bool cutsName;
        std::optional<std::uint32_t> ask;
    } rows[] = {
        {"a reported name and a .255 IP restated never block", reported,
            request(reported, {.gateway = Address(10, 1, 0, 1)}), "gateway not reported -> 10.1.0.1", true,
            std::nullopt, false, std::nullopt},
        {"a new IP is asked about and checked", reported, request(reported, {.ip = Address(10, 1, 1, 255)}),
            "ip 10.1.0.255 -> 10.1.1.255", true, "ip 10.1.1.255: Last digit of IP address can not be 255.", false,
            Address(10, 1, 1, 255)},
        {"a new name obeys the dialog", reported, request(reported, {.hostName = "a-b"}),
            "hostname \"press-line-1\\x07\" -> \"a-b\"", true,
            "hostname \"a-b\": Illegal hostname! Only a-z, A-Z and 0-9 allowed.", false, std::nullopt},
        {"nothing differs", reported, request(reported, {}), "", false, std::nullopt, false, std::nullopt},
        {"0.0.0.0 is asked about by nobody", reported, request(reported, {.ip = 0}), "ip 10.1.0.255 -> 0.0.0.0", true,
            std::nullopt, false, std::nullopt},
        {"DHCP kept on: IP alone is no write", Record(reported).Dhcp(1),
            request(Record(reported).Dhcp(1), {.ip = Address(10, 1, 0, 7)}), "ip 10.1.0.255 -> 10.1.0.7", false,
            std::nullopt, false, Address(10, 1, 0, 7)},
        {"an empty dhcp cell keeps DHCP on", Record(reported).Dhcp(1),
            request(Record(reported).Dhcp(1), {.hostName = "b"}), "hostname \"press-line-1\\x07\" -> \"b\"", true,
            std::nullopt, false, std::nullopt},
        {"a long reported name written back cut", Record(reported).HostName(longName), cut,
            "hostname \"" + longName + "\" -> \"" + std::string(29, 'n') + "\"", true, std::nullopt, true,
            std::nullopt},
    };
    for (const auto& row : rows) {
        const Change change = changeOf(row.found, row.sent);
        EXPECT_EQ(changeText(change), row.text) << row.what;
        EXPECT_EQ(writesSomething(change), row.writes) << row.what;
        EXPECT_EQ(writeProblem(change), row.problem) << row.what;
        EXPECT_EQ(cutsReportedName(change), row.cutsName) << row.what;
        EXPECT_EQ(addressToAsk(change), row.ask) << row.what;
        const AuditEntry entry = auditEntry(change, "sorvinda", WriteResult::Sent);
        EXPECT_EQ(std::memcmp(&entry.before, &row.found, sizeof row.found), 0) << row.what;
        EXPECT_EQ(std::memcmp(&entry.sent, &row.sent, sizeof row.sent), 0) << row.what;
        EXPECT_EQ(std::string(resultText(entry.result)), "sent");
    }
    EXPECT_EQ(request(Record(reported).Dhcp(1), {}).Dhcp, 1) << "an empty dhcp cell sends DHCP as reported";
}

// Rows wait for the modules whose addresses they take: written only once
// that move is verified, blocked when it fails.
TEST(PlanRun, WavesFollowTheMovesTheyWaitFor)
{
    const std::string m = "00-30-11-00-00-0";
    // 1 takes 2's address, 2 takes 3's, 3 moves to a free one.
    const Plan plan = readPlan(
        "mac,ip\n" + m + "1,192.168.0.21\n" + m + "2,192.168.0.22\n" + m + "3,192.168.0.40\n" + m + "4,192.168.0.41",
        "p.csv")
                          .plan;
    const auto steps = planSteps(plan, PlanScan(), kSubnets,
        {[](const AdapterSubnet&, std::uint32_t, std::chrono::milliseconds) { return NetworkAnswer{}; }});
    ASSERT_TRUE(planProblems(plan, steps).empty());
    using A = PlanRun::Answer;
    const struct {
        const char* what;
        A answerOf3; // 3 and 4 go first; 4 is always verified
        bool moved3;
        std::vector<std::string> waves; // the MACs' last digits per wave
        std::vector<std::string> outcomes;
        std::string summary;
    } rows[] = {
        {"every move verified", A::Reconfigured, true, {"34", "2", "1"}, {"changed", "changed", "changed", "changed"},
            "4 changed, 0 unchanged, 0 missing, 0 failed"},
        {"a holder that keeps its values", A::Reconfigured, false, {"34"}, {"blocked", "blocked", "failed", "changed"},
            "1 changed, 0 unchanged, 0 missing, 1 failed, 2 blocked"},
        {"a silent holder", A::None, false, {"34"}, {"blocked", "blocked", "failed", "changed"},
            "1 changed, 0 unchanged, 0 missing, 1 failed, 2 blocked"},
    };
    for (const auto& row : rows) {
        PlanRun run(steps, false);
        std::vector<QORT_ModuleScanResponseType> now = PlanScan();
        std::vector<std::string> waves;
        for (auto wave = run.requests(); !wave.empty(); wave = run.requests()) {
            std::string macs;
            for (const QORT_ConfigureRequestType& request : wave) {
                const modules::MacAddress mac = modules::macOfRecord(Record().Mac(request.MacId[5]));
                ASSERT_TRUE(run.sentEntry(mac).has_value());
                run.sent(mac);
                macs += std::to_string(request.MacId[5]);
                const bool silent = request.MacId[5] == 3 && row.answerOf3 == A::None;
                run.answered(mac, silent ? A::None : A::Reconfigured);
                if (request.MacId[5] != 3 || row.moved3)
                    now[request.MacId[5] - 1].IpAddr = request.IpAddr;
            }
            run.verify(now);
            waves.push_back(macs);
            ASSERT_LE(waves.size(), 4u) << row.what;
        }
        EXPECT_EQ(waves, row.waves) << row.what;
        std::vector<std::string> outcomes;
        for (const auto& result : run.results())
            outcomes.push_back(result.outcome);
        EXPECT_EQ(outcomes, row.outcomes) << row.what;
        EXPECT_EQ(run.summary(), row.summary) << row.what;
        if (row.outcomes[0] == "blocked") {
            EXPECT_EQ(run.results()[1].line, m + "2 blocked: module " + m + "3 did not leave 192.168.0.22") << row.what;
            EXPECT_FALSE(run.results()[1].audit.has_value()) << "never sent, nothing recorded";
        }
        // Never two modules on one address.
        std::set<std::uint32_t> addresses;
        for (const auto& record : now)
            EXPECT_TRUE(addresses.insert(record.IpAddr).second) << row.what;
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
    const std::vector<PlanStep> steps =
        planSteps(plan, PlanScan(), kSubnets, {FakeNetwork, kAddressAnswerBound, NoOtherAddresses});
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
    for (WriteResult result :
        {WriteResult::NoAnswer, WriteResult::Refused, WriteResult::Sent, WriteResult::Interrupted})
        EXPECT_NE(auditLine({"sorvinda", kFull, Request(1, 0, 0, ""), result}, 0, "tech")
                      .find(std::string(R"("result":")") + resultText(result) + "\"}"),
            std::string::npos);
}

TEST(AuditLog, UndoTakesTheNewestRecordThatMayHaveChangedTheModule)
{
    const auto line = [](const char* ip, const char* result, const char* mac = "00-30-11-00-00-01") {
        return std::string(R"({"time":"2026-01-01T00:00:00Z","mac":")") + mac + R"(","before":{"ip":")" + ip
            + R"(","dhcp":false},"result":")" + result + "\"}\n";
    };
    const std::string older = line("10.0.0.1", "sent") + line("10.0.0.1", "verified");
    const struct {
        const char* what;
        std::string text;
        std::optional<std::uint32_t> ip; // of the undo values; nothing: no undo
        std::uint64_t refusedLine = 0;   // undo refused at this line
    } rows[] = {
        {"empty", "", std::nullopt},
        {"newest wins", older + line("10.0.0.2", "sent") + line("10.0.0.2", "verified"), Address(10, 0, 0, 2)},
        {"a sent write with no outcome counts", older + line("10.0.0.2", "sent"), Address(10, 0, 0, 2)},
        {"an interrupted write counts", older + line("10.0.0.2", "sent") + line("10.0.0.2", "interrupted"),
            Address(10, 0, 0, 2)},
        {"an unanswered write counts", older + line("10.0.0.2", "sent") + line("10.0.0.2", "no-answer"),
            Address(10, 0, 0, 2)},
        {"a not verified write counts", older + line("10.0.0.2", "not-verified"), Address(10, 0, 0, 2)},
        {"a refused password and its sent record changed nothing",
            older + line("10.0.0.2", "sent") + line("10.0.0.2", "invalid-password"), Address(10, 0, 0, 1)},
        {"a refused write changed nothing", older + line("10.0.0.2", "refused"), Address(10, 0, 0, 1)},
        {"a result of a newer program counts", older + line("10.0.0.2", "blocked-later"), Address(10, 0, 0, 2)},
        {"other module's lines, even cut, are passed over",
            older + line("10.0.0.9", "verified", "00-30-11-00-00-02")
                + line("10.0.0.9", "sent", "00-30-11-00-00-02").substr(0, 70) + "\n",
            Address(10, 0, 0, 1)},
        {"blank lines are passed over", older + "\n \r\n", Address(10, 0, 0, 1)},
        {"garbage before the last record is old news", "\x01garbage\n[1,2]\n" + older, Address(10, 0, 0, 1)},
        {"a cut last line refuses", older + line("10.0.0.2", "sent").substr(0, 40), std::nullopt, 3},
        {"a cut line of this module refuses", older + line("10.0.0.2", "sent").substr(0, 90) + "\n", std::nullopt, 3},
        {"a line that is no record refuses", older + "[1,2]\n" + line("10.0.0.9", "sent", "00-30-11-00-00-02"),
            std::nullopt, 3},
        {"a record without mac refuses", older + R"({"before":{},"result":"sent"})" + "\n", std::nullopt, 3},
        {"a value of the wrong kind refuses", older + line("10.0.0.999", "verified"), std::nullopt, 3},
        {"before not an object refuses", older + R"({"mac":"00-30-11-00-00-01","before":7,"result":"sent"})",
            std::nullopt, 3},
        {"no result refuses", older + R"({"mac":"00-30-11-00-00-01","before":{}})", std::nullopt, 3},
        {"an unreadable line with no record of the module refuses", "\x01\n", std::nullopt, 1},
        {"an over-long line refuses",
            older + std::string(70000, 'x') + "\n" + line("1.2.3.4", "sent", "00-30-11-00-00-02"), std::nullopt, 3},
    };
    for (const auto& row : rows) {
        const UndoLookup lookup = findUndo(row.text, modules::macOfRecord(kFull));
        EXPECT_EQ(lookup.refusedLine, row.refusedLine) << row.what;
        EXPECT_EQ(lookup.refusal.has_value(), row.refusedLine != 0) << row.what;
        if (lookup.refusal) {
            EXPECT_EQ(lookup.refusal->rfind("line:" + std::to_string(row.refusedLine) + ": ", 0), 0u)
                << row.what << ": " << *lookup.refusal;
            EXPECT_FALSE(lookup.values.has_value()) << row.what << ": never an older record";
        }
        ASSERT_EQ(lookup.values.has_value(), row.ip.has_value()) << row.what;
        if (lookup.values) {
            EXPECT_EQ(lookup.values->IpAddr, *row.ip) << row.what;
            EXPECT_EQ(lookup.values->DhcpValid, 1) << row.what;
            EXPECT_EQ(lookup.values->MacIdValid, 1) << row.what;
        }
    }
}

// Read from the end block by block: the answer is the same when the records
// that matter lie blocks away from the end or span a block's edge.
TEST(AuditLog, UndoReadsTheWholeLogFromItsEnd)
{
    const std::string mine = R"({"mac":"00-30-11-00-00-01","before":{"ip":"10.0.0.7"},"result":"sent"})"
                             "\n";
    const std::string other = R"({"mac":"00-30-11-00-00-02","before":{"ip":"10.0.0.8"},"result":"sent"})"
                              "\n";
    for (const std::size_t others : {0, 1, 3, 40}) {
        for (const std::size_t pad : {0, 1, 7, 70}) {
            std::string text = std::string(pad, ' ') + "\n" + mine;
            for (std::size_t i = 0; i < others; ++i)
                text += other;
            for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{64}, kUndoBlockSize}) {
                const UndoLookup lookup = findUndo(text, modules::macOfRecord(kFull), block);
                ASSERT_TRUE(lookup.values.has_value()) << others << " " << pad << " " << block;
                EXPECT_EQ(lookup.values->IpAddr, Address(10, 0, 0, 7));
                const UndoLookup old = findUndo("\x01\n" + text, modules::macOfRecord(kFull), block);
                EXPECT_EQ(old.refusedLine, 0u) << "older than the module's record";
                const UndoLookup cut = findUndo(text + "\x01", modules::macOfRecord(kFull), block);
                EXPECT_EQ(cut.refusedLine, others + 3) << others << " " << pad << " " << block;
            }
        }
    }
}

class AuditFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(::mkdtemp(folder_), nullptr);
        root_ = folder_;
        ::setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::string Text(const std::filesystem::path& file) const
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Write(const std::filesystem::path& file, const std::string& text) const
    {
        std::ofstream(file, std::ios::binary) << text;
    }
    static mode_t Mode(const std::filesystem::path& path)
    {
        struct stat info { };
        return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
    }

    char folder_[32] = "/tmp/commissioning-test-XXXXXX";
    std::filesystem::path root_;
};

TEST_F(AuditFolder, FileIsPrivateAppendedAndReadBackForUndo)
{
    const AuditLog log = AuditLog::forUser();
    EXPECT_EQ(log.file(), root_ / "state/sorvinda/audit.jsonl");
    const QORT_ConfigureRequestType request = Request(1, Address(192, 168, 0, 30), 0, "plc-2");
    EXPECT_EQ(log.append({"sorvinda", kFull, request, WriteResult::Verified}), std::nullopt);
    EXPECT_EQ(log.append({"SorvindaConfig", kFull, request, WriteResult::Refused}), std::nullopt);
    // Many at once: one write; here the invalid password closes its sent record.
    EXPECT_EQ(log.append(std::vector<AuditEntry>{{"sorvinda", Full().Ip(1), request, WriteResult::Sent},
                  {"sorvinda", Full().Ip(1), request, WriteResult::InvalidPassword}}),
        std::nullopt);

    EXPECT_EQ(Mode(log.file().parent_path()), 0700u);
    EXPECT_EQ(Mode(log.file()), 0600u);
    const std::string text = Text(log.file());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
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
    const AuditLog blocked(root_ / "state/sorvinda");
    const auto error = blocked.append({"sorvinda", kFull, request, WriteResult::Verified});
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("audit log"), std::string::npos) << *error;
}

// What the writer refuses, the reader refuses; a folder or file open to
// others is made private again.
TEST_F(AuditFolder, WriterAndReaderRefuseTheSameFiles)
{
    const AuditLog log = AuditLog::forUser();
    const std::filesystem::path folder = log.file().parent_path(), elsewhere = root_ / "elsewhere.jsonl";
    const std::string record = R"({"mac":"00-30-11-00-00-01","before":{"ip":"10.0.0.7"},"result":"verified"})"
                               "\n";
    const QORT_ConfigureRequestType request = Request(1, Address(192, 168, 0, 30), 0, "plc-2");
    const struct {
        const char* what;
        std::function<void()> plant;
        const char* refusal; // in both sentences; empty: accepted
    } rows[] = {
        {"a plain file of this user", [&] { Write(log.file(), record); }, ""},
        {"a symbolic link at the file",
            [&] {
                Write(elsewhere, record);
                std::filesystem::create_symlink(elsewhere, log.file());
            },
            "is a symbolic link"},
        {"a symbolic link at the folder",
            [&] {
                std::filesystem::remove_all(folder);
                std::filesystem::create_directories(root_ / "real");
                Write(root_ / "real/audit.jsonl", record);
                std::filesystem::create_symlink(root_ / "real", folder);
            },
            "is a symbolic link"},
        {"a file of another user",
            [&] {
                Write(log.file(), record);
                ASSERT_EQ(::chown(log.file().c_str(), 4242, 4242), 0);
            },
            "belongs to another user"},
        {"a folder of another user",
            [&] {
                Write(log.file(), record);
                ASSERT_EQ(::chown(folder.c_str(), 4242, 4242), 0);
            },
            "belongs to another user"},
        {"a folder in place of the file", [&] { std::filesystem::create_directory(log.file()); },
            "is not a regular file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove_all(root_ / "state");
        std::filesystem::remove_all(root_ / "real");
        std::filesystem::remove(elsewhere);
        std::filesystem::create_directories(folder);
        row.plant();
        const UndoLookup lookup = log.findUndo(modules::macOfRecord(kFull));
        const std::optional<std::string> written = log.append({"sorvinda", kFull, request, WriteResult::Sent});
        testsupport::ExpectReaderAndWriterAgree(lookup, written, row.refusal);
        if (*row.refusal == '\0' || !lookup.refusal || !written)
            continue;
        if (std::filesystem::exists(elsewhere)) {
            EXPECT_EQ(Text(elsewhere), record) << "the link's target is untouched";
        }
    }
}

TEST_F(AuditFolder, AnExistingFolderAndFileAreMadePrivate)
{
    const AuditLog log = AuditLog::forUser();
    std::filesystem::create_directories(log.file().parent_path());
    ::chmod(log.file().parent_path().c_str(), 0755);
    Write(log.file(), "");
    ::chmod(log.file().c_str(), 0644);
    EXPECT_EQ(log.append({"sorvinda", kFull, Request(1, 0, 0, "a"), WriteResult::Sent}), std::nullopt);
    EXPECT_EQ(Mode(log.file().parent_path()), 0700u);
    EXPECT_EQ(Mode(log.file()), 0600u);
}

// A cut last line (a full disk, a crash) never swallows the next record,
// and undo refuses at the cut line until it is repaired.
TEST_F(AuditFolder, ARecordAfterACutLineStartsOnItsOwnLine)
{
    const AuditLog log = AuditLog::forUser();
    const QORT_ConfigureRequestType request = Request(1, Address(192, 168, 0, 30), 0, "plc-2");
    EXPECT_EQ(log.append({"sorvinda", kFull, request, WriteResult::Verified}), std::nullopt);
    std::filesystem::resize_file(log.file(), std::filesystem::file_size(log.file()) - 30);
    EXPECT_EQ(log.append({"sorvinda", kFull, request, WriteResult::Sent}), std::nullopt);
    const std::string text = Text(log.file());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.rfind("\n{\"time\""), text.find('\n')) << text;
    EXPECT_EQ(text.back(), '\n');
    // The cut line is older than the newest record: the newest counts.
    EXPECT_TRUE(log.findUndo(modules::macOfRecord(kFull)).values.has_value());

    std::filesystem::resize_file(log.file(), std::filesystem::file_size(log.file()) - 30);
    const UndoLookup lookup = log.findUndo(modules::macOfRecord(kFull));
    ASSERT_TRUE(lookup.refusal.has_value());
    EXPECT_EQ(lookup.refusedLine, 2u);
    EXPECT_EQ(lookup.refusal->rfind(log.file().string() + ":2: ", 0), 0u) << *lookup.refusal;
    EXPECT_FALSE(log.undoValues(modules::macOfRecord(kFull)).has_value());
}

// sent, then the outcome; a signal's `interrupted` for every write still
// open, and no outcome after it.
TEST_F(AuditFolder, JournalRecordsSentThenTheOutcomeOrInterrupted)
{
    const AuditLog log = AuditLog::forUser();
    const auto results = [&] {
        std::string found;
        std::istringstream in(Text(log.file()));
        for (std::string line; std::getline(in, line);)
            found += nlohmann::json::parse(line)["result"].get<std::string>() + " ";
        return found;
    };
    WriteJournal journal(log);
    std::optional<std::string> error;
    const WriteJournal::Ticket one =
        journal.sent({"sorvinda", kFull, Request(1, 0, 0, "a"), WriteResult::Verified}, error);
    EXPECT_EQ(error, std::nullopt);
    const std::vector<WriteJournal::Ticket> more =
        journal.sent({{"sorvinda", Full().Mac(2), Request(2, 0, 0, "b"), {}},
                         {"sorvinda", Full().Mac(3), Request(3, 0, 0, "c"), {}}},
            error);
    EXPECT_EQ(error, std::nullopt);
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(journal.finish(one, WriteResult::Verified), std::nullopt);
    EXPECT_EQ(results(), "sent sent sent verified ");
    journal.recordInterrupted();
    EXPECT_EQ(results(), "sent sent sent verified interrupted interrupted ");
    EXPECT_EQ(journal.finish({{more[0], WriteResult::NoAnswer}, {one, WriteResult::Verified}}), std::nullopt);
    journal.recordInterrupted();
    EXPECT_EQ(results(), "sent sent sent verified interrupted interrupted ") << "each write closed once";
    const std::string text = Text(log.file());
    EXPECT_EQ(text.find("secret"), std::string::npos) << "no password";
    EXPECT_EQ(text.find("1970"), std::string::npos) << "interrupted records carry their own time";
    // Undo after the interrupted write takes the values from just before it.
    const auto before = log.undoValues(modules::macOfRecord(Full().Mac(3)));
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(before->IpAddr, kFull.IpAddr);
}

// A signal records the open writes of every guarded journal (the window
// keeps a pending write's and a plan run's at once), then ends the program
// by that signal. In a child, which the signal ends.
TEST_F(AuditFolder, ASignalRecordsTheOpenWritesOfEveryGuardedJournal)
{
    const AuditLog log = AuditLog::forUser();
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(number);
        std::filesystem::remove(log.file());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            WriteJournal pending(log), plan(log);
            const InterruptedWrites pendingGuard(pending), planGuard(plan);
            std::optional<std::string> error;
            pending.sent({"SorvindaConfig", kFull, Request(1, 0, 0, "a"), {}}, error);
            plan.sent({"SorvindaConfig", Full().Mac(2), Request(2, 0, 0, "b"), {}}, error);
            const WriteJournal::Ticket done =
                plan.sent({"SorvindaConfig", Full().Mac(3), Request(3, 0, 0, "c"), {}}, error);
            plan.finish(done, WriteResult::Verified);
            ::raise(number);
            ::_exit(0); // not reached: the signal ends the child
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), number);
        std::string records;
        std::istringstream in(Text(log.file()));
        for (std::string line; std::getline(in, line);) {
            const nlohmann::json record = nlohmann::json::parse(line);
            records += record["mac"].get<std::string>().back() + record["result"].get<std::string>() + " ";
        }
        EXPECT_EQ(records, "1sent 2sent 3sent 3verified 1interrupted 2interrupted ");
    }
    // Every place taken: the next journal is said not to be guarded.
    std::vector<std::unique_ptr<WriteJournal>> journals;
    std::vector<std::unique_ptr<InterruptedWrites>> guards;
    for (std::size_t i = 0; i <= kMaxGuardedJournals; ++i) {
        journals.push_back(std::make_unique<WriteJournal>(log));
        guards.push_back(std::make_unique<InterruptedWrites>(*journals.back()));
        EXPECT_EQ(guards.back()->guarded(), i < kMaxGuardedJournals) << i;
    }
    guards.clear();
    struct sigaction now { };
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "the last guard puts the handlers back";
}

// A plan run's journal, as both front ends keep it: the `sent` records of
// what leaves, then one outcome per row, each once, however often the front
// end asks; a row refused before it left has `refused` alone.
TEST_F(AuditFolder, APlanJournalRecordsSentWritesThenEachRowsOutcomeOnce)
{
    // 1 and 2 change, 3 conflicts with module 4 and is refused.
    const std::string m = "00-30-11-00-00-0";
    const Plan plan = readPlan(
        "mac,ip,hostname\n" + m + "1,192.168.0.30\n" + m + "2,,y\n" + m + "3,192.168.0.23\n" + m + "4,,", "p.csv")
                          .plan;
    PlanRun run(planSteps(plan, PlanScan(), kSubnets, {FakeNetwork, kAddressAnswerBound, NoOtherAddresses}), false);
    const AuditLog log = AuditLog::forUser();
    const auto records = [&] {
        std::string found;
        std::istringstream in(Text(log.file()));
        for (std::string line; std::getline(in, line);) {
            const nlohmann::json record = nlohmann::json::parse(line);
            found += record["mac"].get<std::string>().substr(m.size()) + record["result"].get<std::string>() + " ";
            EXPECT_EQ(record["program"], "SorvindaConfig");
        }
        return found;
    };
    WriteJournal journal(log);
    PlanJournal planJournal(journal, "SorvindaConfig");
    const std::vector<QORT_ConfigureRequestType> wave = run.requests();
    ASSERT_EQ(wave.size(), 2u);
    EXPECT_EQ(planJournal.sent(run, wave), std::nullopt);
    EXPECT_EQ(records(), "1sent 2sent ");
    for (const QORT_ConfigureRequestType& request : wave)
        run.sent(modules::macOfRequest(request));
    run.answered(modules::macOfRecord(Record().Mac(1)), PlanRun::Answer::Reconfigured);
    run.answered(modules::macOfRecord(Record().Mac(2)), PlanRun::Answer::InvalidPassword);
    std::vector<QORT_ModuleScanResponseType> rescan = PlanScan();
    rescan[0].IpAddr = Address(192, 168, 0, 30);
    run.verify(rescan);
    const std::set<modules::MacAddress> sentMacs{modules::macOfRequest(wave[0]), modules::macOfRequest(wave[1])};
    EXPECT_TRUE(planJournal.record(run, sentMacs).empty());
    EXPECT_TRUE(planJournal.record(run, sentMacs).empty());
    EXPECT_EQ(records(), "1sent 2sent 1verified 2invalid-password ");
    EXPECT_TRUE(planJournal.recordAll(run).empty());
    EXPECT_TRUE(planJournal.recordAll(run).empty());
    EXPECT_EQ(records(), "1sent 2sent 1verified 2invalid-password 3refused ");
    // Undo of module 1 takes the values from before the plan.
    const auto before = log.undoValues(modules::macOfRecord(Record().Mac(1)));
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(before->IpAddr, PlanScan()[0].IpAddr);
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
