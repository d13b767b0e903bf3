// Request texts, reply classification and reply parsing, without sockets.
// Received texts are handed over in heap blocks of their exact size, so that
// AddressSanitizer catches any read past the end of a datagram.
#include "protocol/messages.h"
#include "tests/integration/qortsession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace qort;
using integration::describe;
using integration::setText;

template <typename F>
auto withExactCopy(const std::string& text, F&& f)
{
    const auto bytes = std::make_unique<char[]>(text.size());
    std::memcpy(bytes.get(), text.data(), text.size());
    return f(std::string_view(bytes.get(), text.size()));
}

QORT_ModuleScanResponseType parse(const std::string& text)
{
    return withExactCopy(text, [](std::string_view v) { return parseScanReply(v); });
}

std::string configureText(const QORT_ConfigureRequestType& request)
{
    const auto text = buildConfigureRequest(request);
    if (!text)
        return "<refused>";
    EXPECT_EQ(text->data()[text->text().size()], '\0') << "sent with its NUL";
    EXPECT_EQ(text->sizeWithNul(), text->text().size() + 1);
    return std::string(text->text());
}

const std::string kTarget = "Configure: 0A-00-00-12-34-5F;";
const std::string p127(127, 'p');
const std::string w = "255.255.255.254"; // the widest address still "given"

struct PieceCase {
    void (*change)(QORT_ConfigureRequestType&);
    std::string pieces; // expected text behind kTarget
};

TEST(RequestTest, ConfigurePiecesInOrder)
{
    const PieceCase cases[] = {
        {[](auto&) {}, "HN = ;"},
        {[](auto& r) { setText(r.Password, "secret"); }, "Password: secret;HN = ;"},
        {[](auto& r) { r.ChangePassword = 1, setText(r.NewPassword, "n3w"); }, "New Password = n3w;HN = ;"},
        {[](auto& r) { r.ChangePassword = 1; }, "New Password = ;HN = ;"},
        {[](auto& r) { setText(r.NewPassword, "n3w"); }, "HN = ;"},
        {[](auto& r) { r.ChangePassword = 2, setText(r.NewPassword, "n3w"); }, "HN = ;"},
        {[](auto& r) { r.IpAddr = 0; }, "IP = 0.0.0.0;HN = ;"},
        {[](auto& r) { r.SubnetMask = 0xFFFF0000; }, "SN = 255.255.0.0;HN = ;"},
        {[](auto& r) { r.Gateway = 0x0A000001; }, "GW = 10.0.0.1;HN = ;"},
        {[](auto& r) { r.Dhcp = 0; }, "DHCP = OFF;HN = ;"},
        {[](auto& r) { r.Dhcp = 1; }, "DHCP = ON;HN = ;"},
        {[](auto& r) { r.Dhcp = 255; }, "HN = ;"},
        {[](auto& r) { setText(r.HostName, "station7"); }, "HN = station7;"},
        {[](auto& r) { r.Dns1 = 0x08080808; }, "HN = ;DNS1 = 8.8.8.8;"},
        {[](auto& r) { r.Dns2 = 0x08080404; }, "HN = ;DNS2 = 8.8.4.4;"},
        // An unsent new password needs no NUL.
        {[](auto& r) { std::memset(r.NewPassword, 'x', QORT_TEXT_FIELD_SIZE); }, "HN = ;"},
        {[](auto& r) {
             setText(r.Password, "old"), r.ChangePassword = 1, setText(r.NewPassword, "new");
             r.IpAddr = 0x0AC80105, r.SubnetMask = 0xFFFFFF00, r.Gateway = 0x0AC80101, r.Dhcp = 1;
             setText(r.HostName, "hn"), r.Dns1 = 0x01010101, r.Dns2 = 0x09090909;
         },
            "Password: old;New Password = new;IP = 10.200.1.5;SN = 255.255.255.0;GW = 10.200.1.1;DHCP = ON;HN = hn;"
            "DNS1 = 1.1.1.1;DNS2 = 9.9.9.9;"},
        // The longest request there is goes out whole.
        {[](auto& r) {
             setText(r.Password, p127), r.ChangePassword = 1, setText(r.NewPassword, p127), setText(r.HostName, p127);
             r.IpAddr = r.SubnetMask = r.Gateway = r.Dns1 = r.Dns2 = 0xFFFFFFFE, r.Dhcp = 0;
         },
            "Password: " + p127 + ";New Password = " + p127 + ";IP = " + w + ";SN = " + w + ";GW = " + w
                + ";DHCP = OFF;HN = " + p127 + ";DNS1 = " + w + ";DNS2 = " + w + ";"},
        // A text field without its NUL is refused, not cut.
        {[](auto& r) { std::memset(r.Password, 'x', QORT_TEXT_FIELD_SIZE); }, "<refused>"},
        {[](auto& r) { r.ChangePassword = 1, std::memset(r.NewPassword, 'x', QORT_TEXT_FIELD_SIZE); }, "<refused>"},
        {[](auto& r) { std::memset(r.HostName, 'x', QORT_TEXT_FIELD_SIZE); }, "<refused>"},
    };
    for (const PieceCase& c : cases) {
        QORT_ConfigureRequestType request = integration::emptyRequest("0a-00-00-12-34-5f");
        c.change(request);
        const std::string expected = c.pieces == "<refused>" ? c.pieces : kTarget + c.pieces;
        EXPECT_EQ(configureText(request), expected);
    }
    EXPECT_EQ(kTarget.size() + cases[17].pieces.size(), wire::kLongestConfigureTextLength);
}

// The scan request's bytes are checked on the wire (integration_test).
TEST(RequestTest, WinkBytes)
{
    QORT_ConfigureRequestType request = integration::emptyRequest("00-30-11-ab-cd-ef");
    setText(request.Password, "ignored");
    request.IpAddr = 0x01020304;
    const RequestText wink = buildWinkRequest(request);
    EXPECT_EQ(std::string(wink.data(), wink.sizeWithNul()), std::string("To: 00-30-11-AB-CD-EF;WINK;\0", 28));
}

TEST(RequestTest, AppendRefusesWhatWouldNotFitWithItsNul)
{
    RequestText text;
    const std::string almost(RequestText::kCapacity - 1, 'a');
    EXPECT_FALSE(text.append(almost + "a"));
    EXPECT_EQ(text.sizeWithNul(), 1u);
    EXPECT_TRUE(text.append(almost));
    EXPECT_FALSE(text.append("b"));
    EXPECT_EQ(text.text(), almost);
}

TEST(ClassifyTest, PrefixesCompareWithoutCaseOverTheirWholeLength)
{
    const struct {
        const char* text;
        ReplyKind kind;
    } cases[] = {
        {"Reconfigured: 02-00-00-12-34-56", ReplyKind::Reconfigured},
        {"RECONFIGURED: 02", ReplyKind::Reconfigured},
        {"reconfigured:", ReplyKind::Reconfigured},
        {"reconfigured", ReplyKind::ScanReply},
        {"Reconfigured 02-00-00-12-34-56", ReplyKind::ScanReply},
        {" Reconfigured:", ReplyKind::ScanReply},
        {"Invalid Password: 02-00-00-12-34-56", ReplyKind::InvalidPassword},
        {"INVALID PASSWORD:02", ReplyKind::InvalidPassword},
        {"Invalid Password", ReplyKind::ScanReply},
        {"Module Scan", ReplyKind::OwnScanEcho},
        {"mODULE sCAN", ReplyKind::OwnScanEcho},
        {"Module Scanner", ReplyKind::OwnScanEcho},
        {"Module Sca", ReplyKind::ScanReply},
        {"To: 02-00-00-12-34-56;WINK;", ReplyKind::ScanReply},
        {"Configure: 02-00-00-12-34-56;HN = ;", ReplyKind::ScanReply},
        {"", ReplyKind::ScanReply},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withExactCopy(c.text, classifyReply), c.kind) << '"' << c.text << '"';
}

const std::string k200 = std::string(100, 'a') + std::string(100, 'b');
const std::string kFirst127 = std::string(100, 'a') + std::string(27, 'b');

// One row per reply text: the whole record it gives (see describe()).
TEST(ScanReplyTest, ParsesEveryFieldAsTheModuleSentIt)
{
    const struct {
        std::string text;
        std::string record;
    } cases[] = {
        {"Protocol Version = 1.10;FB Type = PROFINET IO;Module Version = 2.3.456;MAC = 00-30-11-AA-BB-CC;"
         "IP = 192.168.0.10;SN = 255.255.255.0;GW = 192.168.0.1;DHCP = OFF;PSWD = ON;HN = station-1;"
         "DNS1 = 8.8.8.8;DNS2 = 8.8.4.4;",
            "pv=1.10 fb=PROFINET IO mv=2.3.456 mac=00-30-11-AA-BB-CC ip=192.168.0.10 sn=255.255.255.0 "
            "gw=192.168.0.1 dhcp=0 pswd=1 hn=station-1 dns1=8.8.8.8 dns2=8.8.4.4"},
        {"", ""},
        {"hello", ""},
        {"ip=10.0.0.5;", ""}, // keys carry their blanks
        {"mac = 02-00-00-12-34-56;", "mac=02-00-00-12-34-56"},
        {"PROTOCOL VERSION = 1.2;Fb TyPe = x;", "pv=1.2 fb=x"},
        {"DHCP = On;", "dhcp=1"},
        {"dhcp = yes;", "dhcp=255"},
        {"dhcp = OFFline;", "dhcp=0"},
        {"dhcp = o", "dhcp=255"},
        {"dhcp = ", "dhcp=255"},
        {"pswd = off;", "pswd=0"},
        {"pswd = ON;", "pswd=1"},
        {"pswd = maybe;", "pswd=255"},
        {"ip = 300.1.2.3;", "ip=44.1.2.3"}, // numbers keep their low bits
        {"module version = 1.2.70000;", "mv=1.2.4464"},
        {"ip = 123456789012345678901234.1.2.3;module version = 1.1.1234567890123456789012;",
            "mv=1.1.14868 ip=242.1.2.3"},
        {"ip = \t +10. -1.2.  3;", "ip=10.255.2.3"},
        {"ip = abc;", "ip=0.0.0.0"},
        {"ip = 10;sn = 255.255.255.0;", "ip=10.255.255.0 sn=255.255.255.0"},
        {"ip = 10;", "ip=10.0.0.0"},
        {"ip = 1.2", "ip=1.2.0.0"},
        {"ip = 1.", "ip=1.0.0.0"},
        {"gw = 3.3.3.3;dns2 = 4.4.4.4;dns1 = 5.5.5.5;sn = 6.6.6.6", "sn=6.6.6.6 gw=3.3.3.3 dns1=5.5.5.5 dns2=4.4.4.4"},
        {"protocol version = 2;module version = 3", "pv=2.0 mv=3.0.0"},
        {"mac = 2-0-0-12-34-56;", "mac=02-00-00-12-34-56"},
        {"mac = 02:00:00:12:34:56;", "mac=02-FF-FF-FF-FF-FF"},
        {"mac =  0x1a-+2- 3-1FF--1-0Xb;", "mac=1A-02-03-FF-FF-0B"},
        {"mac = 01 -02-03-04-05-06;", "mac=01-FF-FF-FF-FF-FF"},
        {"mac = zz;", "mac=FF-FF-FF-FF-FF-FF"},
        {"mac = 01-02-03-", "mac=01-02-03-FF-FF-FF"},
        {"mac = 0xg", "mac=00-FF-FF-FF-FF-FF"},
        {"fb type = " + k200 + ";ip = 1.2.3.4;", "fb=" + kFirst127 + " ip=1.2.3.4"},
        {"ip = 1.2.3.4;hn = " + k200, "ip=1.2.3.4 hn=" + kFirst127},
        {"fb type = " + std::string(127, 'x') + ";hn = " + std::string(128, 'y') + ";",
            "fb=" + std::string(127, 'x') + " hn=" + std::string(127, 'y')},
        {"hn = ;fb type = ", "fb= hn="},
        {"hn = ip = 1.2.3.4;", "ip=1.2.3.4 hn=ip = 1.2.3.4"},
        {"ip = 1.1.1.1;IP = 2.2.2.2;dhcp = on;dhcp = off;", "ip=1.1.1.1 dhcp=1"}, // first wins
        {"Configure: 02-00-00-12-34-56;Password: pw;IP = 192.168.0.10;SN = 255.255.255.0;GW = 192.168.0.1;"
         "DHCP = OFF;HN = ;DNS1 = 8.8.8.8;",
            "ip=192.168.0.10 sn=255.255.255.0 gw=192.168.0.1 dhcp=0 hn= dns1=8.8.8.8"},
        {"To: 02-00-00-12-34-56;WINK;", ""},
        {std::string(1500 - 10, ' ') + "ip = 1.2.3", "ip=1.2.3.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(parse(c.text)), c.record) << '"' << c.text.substr(0, 80) << '"';
}

// Every prefix of a good reply, as a datagram cut short would deliver it: no
// read past the cut (ASan), and a field is present exactly when its key is.
TEST(ScanReplyTest, EveryTruncationOfAGoodReply)
{
    const std::string full = "protocol version = 1.10;fb type = IO;module version = 2.3.4;mac = 00-30-11-01-02-03;"
                             "ip = 10.0.0.2;sn = 255.0.0.0;gw = 10.0.0.1;dhcp = off;pswd = on;hn = m1;"
                             "dns1 = 10.0.0.9;dns2 = 10.0.0.8;";
    const char* keys[] = {"protocol version = ", "fb type = ", "module version = ", "mac = ", "ip = ", "sn = ", "gw = ",
        "dhcp = ", "pswd = ", "hn = ", "dns1 = ", "dns2 = "};
    const char* names[] = {"pv=", "fb=", "mv=", "mac=", "ip=", "sn=", "gw=", "dhcp=", "pswd=", "hn=", "dns1=", "dns2="};
    for (std::size_t length = 0; length <= full.size(); ++length) {
        const std::string cut = full.substr(0, length);
        const std::string record = " " + describe(parse(cut));
        EXPECT_EQ(record.find('!'), std::string::npos) << record;
        for (std::size_t k = 0; k < std::size(keys); ++k)
            EXPECT_EQ(
                record.find(std::string(" ") + names[k]) != std::string::npos, cut.find(keys[k]) != std::string::npos)
                << "length " << length << " key " << keys[k];
    }
}

TEST(InvalidPasswordTest, ReadsTheMacBehindTheKey)
{
    const struct {
        const char* text;
        const char* mac;
    } cases[] = {
        {"Invalid Password: 02-00-00-12-34-56", "02-00-00-12-34-56"},
        {"invalid password: ab-CD-ef-1-2-3", "AB-CD-EF-01-02-03"},
        {"Invalid Password:02-00-00-12-34-56", "FF-FF-FF-FF-FF-FF"},
        {"Invalid Password: 02-00", "02-00-FF-FF-FF-FF"},
        {"Invalid Password: ", "FF-FF-FF-FF-FF-FF"},
        {"Invalid Password: xyz", "FF-FF-FF-FF-FF-FF"},
        {"noise Invalid Password: 01-02-03-04-05-06;", "01-02-03-04-05-06"},
        {"Invalid Password: 102-2-3-4-5-6-7", "02-02-03-04-05-06"},
        {"", "FF-FF-FF-FF-FF-FF"},
    };
    for (const auto& c : cases) {
        const MacAddress mac = withExactCopy(c.text, parseInvalidPasswordReply);
        EXPECT_EQ(integration::macText(mac.data()), c.mac) << '"' << c.text << '"';
    }
}

// The answer's MAC follows the word, blanks before it or none.
TEST(Messages, ReconfiguredReplyNamesItsModule)
{
    const struct {
        const char* text;
        const char* mac;
    } cases[] = {
        {"Reconfigured: 02-00-00-12-34-56", "02-00-00-12-34-56"},
        {"RECONFIGURED:ab-CD-ef-1-2-3;hn = x;", "AB-CD-EF-01-02-03"},
        {"Reconfigured: \t 00-30-11-00-00-08", "00-30-11-00-00-08"},
        {"Reconfigured: 02-00", "02-00-FF-FF-FF-FF"},
        {"Reconfigured:", "FF-FF-FF-FF-FF-FF"},
        {"Reconfigured:   ", "FF-FF-FF-FF-FF-FF"},
        {"Reconfigured: xyz", "FF-FF-FF-FF-FF-FF"},
    };
    for (const auto& c : cases) {
        const MacAddress mac = withExactCopy(c.text, parseReconfiguredReply);
        EXPECT_EQ(integration::macText(mac.data()), c.mac) << '"' << c.text << '"';
    }
}

} // namespace
