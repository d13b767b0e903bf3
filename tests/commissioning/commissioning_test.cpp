// The rules of safe commissioning that need no network: the warnings of one
// scan, the verification of a write, the audit log and its undo reader.

#include "commissioning/addressinuse.h"
#include "commissioning/auditlog.h"
#include "commissioning/dhcpprobe.h"
#include "commissioning/scanwarnings.h"
#include "commissioning/verification.h"
#include "commissioning/watch.h"
#include "tests/modules/records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

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

} // namespace
} // namespace commissioning
