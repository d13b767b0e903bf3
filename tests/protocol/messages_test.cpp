// Request texts, reply classification and reply parsing, without sockets.
// Hostile inputs are handed over in heap buffers of their exact size, so
// that AddressSanitizer catches any read past the end of a received text.
#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace qort;

constexpr std::uint32_t kNotGiven = QORT_ADDR_NOT_GIVEN;
constexpr std::uint8_t kAbsent = 0xFF;
constexpr std::uint8_t kDhcpLeftOut = 2;

// A received text copied to a heap block of exactly its size: no NUL behind
// it and nothing readable past its end.
class ExactText {
public:
    explicit ExactText(const std::string& text)
        : size_(text.size())
        , bytes_(std::make_unique<char[]>(text.size()))
    {
        std::memcpy(bytes_.get(), text.data(), text.size());
    }
    std::string_view view() const { return {bytes_.get(), size_}; }

private:
    std::size_t size_;
    std::unique_ptr<char[]> bytes_;
};

QORT_ModuleScanResponseType parse(const std::string& text)
{
    const ExactText exact(text);
    return parseScanReply(exact.view());
}

MacAddress parseInvalidPassword(const std::string& text)
{
    const ExactText exact(text);
    return parseInvalidPasswordReply(exact.view());
}

std::string textOf(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    const void* nul = std::memchr(field, '\0', QORT_TEXT_FIELD_SIZE);
    if (nul == nullptr)
        return "<no NUL>";
    return std::string(field, static_cast<const char*>(nul));
}

MacAddress macOf(const QORT_ModuleScanResponseType& r)
{
    MacAddress mac;
    std::memcpy(mac.data(), r.MacId, mac.size());
    return mac;
}

std::vector<std::uint8_t> validBytes(const QORT_ModuleScanResponseType& r)
{
    return {r.ProtocolVersionValid, r.FbTypeValid, r.ModuleVersionValid, r.MacIdValid, r.IpAddrValid, r.SubnetMaskValid,
        r.GatewayValid, r.DhcpValid, r.PswdValid, r.HostNameValid, r.Dns1Valid, r.Dns2Valid};
}

// ---------------------------------------------------------------- requests

QORT_ConfigureRequestType emptyRequest()
{
    QORT_ConfigureRequestType request{};
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
    std::memcpy(request.MacId, mac, sizeof mac);
    request.ChangePassword = 0;
    request.IpAddr = request.SubnetMask = request.Gateway = kNotGiven;
    request.Dhcp = kDhcpLeftOut;
    request.Dns1 = request.Dns2 = kNotGiven;
    return request;
}

void setText(char (&field)[QORT_TEXT_FIELD_SIZE], const std::string& text)
{
    ASSERT_LT(text.size(), QORT_TEXT_FIELD_SIZE);
    std::memset(field, 0, QORT_TEXT_FIELD_SIZE);
    std::memcpy(field, text.data(), text.size());
}

std::string sentBytes(const RequestText& request)
{
    return std::string(request.data(), request.sizeWithNul());
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

TEST(RequestTest, ScanIsElevenCharactersAndItsNul)
{
    const RequestText scan = buildScanRequest();
    EXPECT_EQ(sentBytes(scan), std::string("Module Scan\0", 12));
}

TEST(RequestTest, WinkNamesTheMacInUpperCaseHex)
{
    QORT_ConfigureRequestType request = emptyRequest();
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, 0xab, 0xcd, 0xef};
    std::memcpy(request.MacId, mac, sizeof mac);
    setText(request.Password, "ignored");
    request.IpAddr = 0x01020304;
    EXPECT_EQ(sentBytes(buildWinkRequest(request)), std::string("To: 00-30-11-AB-CD-EF;WINK;\0", 28));
}

TEST(RequestTest, ConfigureExampleByteForByte)
{
    QORT_ConfigureRequestType request = emptyRequest();
    request.IpAddr = 0xC0A8000A;
    request.SubnetMask = 0xFFFFFF00;
    request.Gateway = 0xC0A80001;
    request.Dhcp = 0;
    const auto text = buildConfigureRequest(request);
    ASSERT_TRUE(text.has_value());
    const std::string expected =
        "Configure: 02-00-00-12-34-56;IP = 192.168.0.10;SN = 255.255.255.0;GW = 192.168.0.1;DHCP = OFF;HN = ;";
    EXPECT_EQ(std::string(text->data(), text->sizeWithNul()), expected + '\0');
}

struct PieceCase {
    const char* name;
    void (*change)(QORT_ConfigureRequestType&);
    const char* pieces; // expected text behind "Configure: 02-00-00-12-34-56;"
};

void PrintTo(const PieceCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConfigurePieceTest : public ::testing::TestWithParam<PieceCase> { };

TEST_P(ConfigurePieceTest, BuildsPiecesInOrder)
{
    QORT_ConfigureRequestType request = emptyRequest();
    GetParam().change(request);
    EXPECT_EQ(configureText(request), std::string("Configure: 02-00-00-12-34-56;") + GetParam().pieces);
}

const PieceCase kPieceCases[] = {
    {"NothingGivenStillSendsHostName", [](QORT_ConfigureRequestType&) {}, "HN = ;"},
    {"Password", [](QORT_ConfigureRequestType& r) { setText(r.Password, "secret"); }, "Password: secret;HN = ;"},
    {"ChangePassword1",
        [](QORT_ConfigureRequestType& r) {
            r.ChangePassword = 1;
            setText(r.NewPassword, "n3w");
        },
        "New Password = n3w;HN = ;"},
    {"ChangePassword1EmptyNewPassword", [](QORT_ConfigureRequestType& r) { r.ChangePassword = 1; },
        "New Password = ;HN = ;"},
    {"ChangePassword0", [](QORT_ConfigureRequestType& r) { setText(r.NewPassword, "n3w"); }, "HN = ;"},
    {"ChangePassword2",
        [](QORT_ConfigureRequestType& r) {
            r.ChangePassword = 2;
            setText(r.NewPassword, "n3w");
        },
        "HN = ;"},
    {"IpZeroIsGiven", [](QORT_ConfigureRequestType& r) { r.IpAddr = 0; }, "IP = 0.0.0.0;HN = ;"},
    {"SubnetMask", [](QORT_ConfigureRequestType& r) { r.SubnetMask = 0xFFFF0000; }, "SN = 255.255.0.0;HN = ;"},
    {"Gateway", [](QORT_ConfigureRequestType& r) { r.Gateway = 0x0A000001; }, "GW = 10.0.0.1;HN = ;"},
    {"Dhcp0", [](QORT_ConfigureRequestType& r) { r.Dhcp = 0; }, "DHCP = OFF;HN = ;"},
    {"Dhcp1", [](QORT_ConfigureRequestType& r) { r.Dhcp = 1; }, "DHCP = ON;HN = ;"},
    {"Dhcp2", [](QORT_ConfigureRequestType& r) { r.Dhcp = 2; }, "HN = ;"},
    {"Dhcp255", [](QORT_ConfigureRequestType& r) { r.Dhcp = 255; }, "HN = ;"},
    {"HostName", [](QORT_ConfigureRequestType& r) { setText(r.HostName, "station7"); }, "HN = station7;"},
    {"Dns1", [](QORT_ConfigureRequestType& r) { r.Dns1 = 0x08080808; }, "HN = ;DNS1 = 8.8.8.8;"},
    {"Dns2", [](QORT_ConfigureRequestType& r) { r.Dns2 = 0x08080404; }, "HN = ;DNS2 = 8.8.4.4;"},
    {"EveryPiece",
        [](QORT_ConfigureRequestType& r) {
            setText(r.Password, "old");
            r.ChangePassword = 1;
            setText(r.NewPassword, "new");
            r.IpAddr = 0x0AC80105;
            r.SubnetMask = 0xFFFFFF00;
            r.Gateway = 0x0AC80101;
            r.Dhcp = 1;
            setText(r.HostName, "hn");
            r.Dns1 = 0x01010101;
            r.Dns2 = 0x09090909;
        },
        "Password: old;New Password = new;IP = 10.200.1.5;SN = 255.255.255.0;GW = 10.200.1.1;DHCP = ON;HN = hn;"
        "DNS1 = 1.1.1.1;DNS2 = 9.9.9.9;"},
};

INSTANTIATE_TEST_SUITE_P(Pieces, ConfigurePieceTest, ::testing::ValuesIn(kPieceCases),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RequestTest, LongestPossibleConfigureFitsWhole)
{
    QORT_ConfigureRequestType request = emptyRequest();
    const std::string full(kMaxTextValueLength, 'p');
    setText(request.Password, full);
    request.ChangePassword = 1;
    setText(request.NewPassword, full);
    setText(request.HostName, full);
    constexpr std::uint32_t kWidest = 0xFFFFFFFE; // 255.255.255.254: 15 characters, still "given"
    request.IpAddr = request.SubnetMask = request.Gateway = request.Dns1 = request.Dns2 = kWidest;
    request.Dhcp = 0;
    const std::string w = "255.255.255.254";
    const std::string expected = "Configure: 02-00-00-12-34-56;Password: " + full + ";New Password = " + full + ";IP = "
        + w + ";SN = " + w + ";GW = " + w + ";DHCP = OFF;HN = " + full + ";DNS1 = " + w + ";DNS2 = " + w + ";";
    EXPECT_EQ(expected.size(), wire::kLongestConfigureTextLength);
    EXPECT_EQ(configureText(request), expected);
}

TEST(RequestTest, TextFieldWithoutNulIsRefusedNotCut)
{
    using Field = char(QORT_ConfigureRequestType::*)[QORT_TEXT_FIELD_SIZE];
    for (const Field field : {&QORT_ConfigureRequestType::Password, &QORT_ConfigureRequestType::NewPassword,
             &QORT_ConfigureRequestType::HostName}) {
        QORT_ConfigureRequestType request = emptyRequest();
        request.ChangePassword = 1;
        std::memset(request.*field, 'x', QORT_TEXT_FIELD_SIZE);
        EXPECT_FALSE(buildConfigureRequest(request).has_value());
    }
}

TEST(RequestTest, UnsentNewPasswordNeedsNoNul)
{
    QORT_ConfigureRequestType request = emptyRequest();
    std::memset(request.NewPassword, 'x', QORT_TEXT_FIELD_SIZE);
    EXPECT_EQ(configureText(request), "Configure: 02-00-00-12-34-56;HN = ;");
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
    EXPECT_EQ(text.data()[almost.size()], '\0');
}

// ----------------------------------------------------------- classification

TEST(ClassifyTest, PrefixesCompareWithoutCaseOverTheirWholeLength)
{
    const struct {
        const char* text;
        ReplyKind kind;
    } cases[] = {
        {"Reconfigured: 02-00-00-12-34-56", ReplyKind::Reconfigured},
        {"RECONFIGURED: 02-00-00-12-34-56", ReplyKind::Reconfigured},
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
    for (const auto& c : cases) {
        const ExactText text(c.text);
        EXPECT_EQ(classifyReply(text.view()), c.kind) << '"' << c.text << '"';
    }
}

// ------------------------------------------------------------ scan replies

TEST(ScanReplyTest, FullReply)
{
    const auto r = parse("Protocol Version = 1.10;FB Type = PROFINET IO;Module Version = 2.3.456;"
                         "MAC = 00-30-11-AA-BB-CC;IP = 192.168.0.10;SN = 255.255.255.0;GW = 192.168.0.1;"
                         "DHCP = OFF;PSWD = ON;HN = station-1;DNS1 = 8.8.8.8;DNS2 = 8.8.4.4;");
    EXPECT_EQ(validBytes(r), std::vector<std::uint8_t>(12, 1));
    EXPECT_EQ(r.ProtocolVersionMajor, 1);
    EXPECT_EQ(r.ProtocolVersionMinor, 10);
    EXPECT_EQ(textOf(r.FbType), "PROFINET IO");
    EXPECT_EQ(r.ModuleVersionMajor, 2);
    EXPECT_EQ(r.ModuleVersionMinor, 3);
    EXPECT_EQ(r.ModuleVersionBuild, 456);
    EXPECT_EQ(macOf(r), (MacAddress{0x00, 0x30, 0x11, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(r.IpAddr, 0xC0A8000Au);
    EXPECT_EQ(r.SubnetMask, 0xFFFFFF00u);
    EXPECT_EQ(r.Gateway, 0xC0A80001u);
    EXPECT_EQ(r.Dhcp, 0);
    EXPECT_EQ(r.Pswd, 1);
    EXPECT_EQ(textOf(r.HostName), "station-1");
    EXPECT_EQ(r.Dns1, 0x08080808u);
    EXPECT_EQ(r.Dns2, 0x08080404u);
}

TEST(ScanReplyTest, NoKeysGiveAllAbsentWithFFEverywhereElse)
{
    for (const char* text : {"", "hello", "To: 02-00-00-12-34-56;WINK;", "ip=10.0.0.5;"}) {
        SCOPED_TRACE(text);
        const auto r = parse(text);
        EXPECT_EQ(validBytes(r), std::vector<std::uint8_t>(12, 0));
        EXPECT_EQ(r.IpAddr, 0xFFFFFFFFu);
        EXPECT_EQ(r.FbType[0], static_cast<char>(kAbsent));
        EXPECT_EQ(r.ModuleVersionBuild, 0xFFFF);
    }
}

TEST(ScanReplyTest, OnlyMacPairLeavesEveryOtherByteFF)
{
    const auto r = parse("mac = 02-00-00-12-34-56;");
    QORT_ModuleScanResponseType expected;
    std::memset(&expected, kAbsent, sizeof expected);
    for (std::uint8_t* valid : {&expected.ProtocolVersionValid, &expected.FbTypeValid, &expected.ModuleVersionValid,
             &expected.IpAddrValid, &expected.SubnetMaskValid, &expected.GatewayValid, &expected.DhcpValid,
             &expected.PswdValid, &expected.HostNameValid, &expected.Dns1Valid, &expected.Dns2Valid})
        *valid = 0;
    expected.MacIdValid = 1;
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
    std::memcpy(expected.MacId, mac, sizeof mac);
    const auto* actualBytes = reinterpret_cast<const std::uint8_t*>(&r);
    const auto* expectedBytes = reinterpret_cast<const std::uint8_t*>(&expected);
    for (std::size_t offset = 0; offset < sizeof r; ++offset)
        EXPECT_EQ(actualBytes[offset], expectedBytes[offset]) << "byte at offset " << offset;
}

struct ParseCase {
    const char* name;
    std::string text;
    void (*check)(const QORT_ModuleScanResponseType&);
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.name;
}

class ScanReplyParseTest : public ::testing::TestWithParam<ParseCase> { };

TEST_P(ScanReplyParseTest, Parses)
{
    GetParam().check(parse(GetParam().text));
}

const std::string k200 = std::string(100, 'a') + std::string(100, 'b');
const std::string kFirst127 = std::string(100, 'a') + std::string(27, 'b');

const ParseCase kParseCases[] = {
    {"KeyWithoutSpacesNotFound", "ip=10.0.0.5;", [](const auto& r) { EXPECT_EQ(r.IpAddrValid, 0); }},
    {"KeysIgnoreCase", "PROTOCOL VERSION = 1.2;Fb TyPe = x;",
        [](const auto& r) {
            EXPECT_EQ(r.ProtocolVersionValid, 1);
            EXPECT_EQ(r.ProtocolVersionMinor, 2);
            EXPECT_EQ(textOf(r.FbType), "x");
        }},
    {"DhcpOnAnyCase", "DHCP = On;",
        [](const auto& r) {
            EXPECT_EQ(r.Dhcp, 1);
            EXPECT_EQ(r.DhcpValid, 1);
        }},
    {"DhcpYesIsNeither", "dhcp = yes;",
        [](const auto& r) {
            EXPECT_EQ(r.Dhcp, kAbsent);
            EXPECT_EQ(r.DhcpValid, 1);
        }},
    {"DhcpOffPrefix", "dhcp = OFFline;", [](const auto& r) { EXPECT_EQ(r.Dhcp, 0); }},
    {"DhcpOnlyO", "dhcp = o",
        [](const auto& r) {
            EXPECT_EQ(r.Dhcp, kAbsent);
            EXPECT_EQ(r.DhcpValid, 1);
        }},
    {"DhcpEmptyAtEnd", "dhcp = ",
        [](const auto& r) {
            EXPECT_EQ(r.Dhcp, kAbsent);
            EXPECT_EQ(r.DhcpValid, 1);
        }},
    {"PswdOff", "pswd = off;",
        [](const auto& r) {
            EXPECT_EQ(r.Pswd, 0);
            EXPECT_EQ(r.PswdValid, 1);
        }},
    {"AddressKeepsLowBits", "ip = 300.1.2.3;", [](const auto& r) { EXPECT_EQ(r.IpAddr, 0x2C010203u); }},
    {"BuildKeepsLow16Bits", "module version = 1.2.70000;",
        [](const auto& r) {
            EXPECT_EQ(r.ModuleVersionMajor, 1);
            EXPECT_EQ(r.ModuleVersionMinor, 2);
            EXPECT_EQ(r.ModuleVersionBuild, 4464);
        }},
    {"HugeNumberKeepsItsLowBits", "ip = 123456789012345678901234.1.2.3;module version = 1.1.1234567890123456789012;",
        [](const auto& r) {
            EXPECT_EQ(r.IpAddr, 0xF2010203u);
            EXPECT_EQ(r.ModuleVersionBuild, 14868);
        }},
    {"BlanksAndSigns", "ip = \t +10. -1.2.  3;", [](const auto& r) { EXPECT_EQ(r.IpAddr, 0x0AFF0203u); }},
    {"NoDigitsGiveZero", "ip = abc;",
        [](const auto& r) {
            EXPECT_EQ(r.IpAddr, 0u);
            EXPECT_EQ(r.IpAddrValid, 1);
        }},
    {"DottedValueRunsIntoNextPair", "ip = 10;sn = 255.255.255.0;",
        [](const auto& r) {
            EXPECT_EQ(r.IpAddr, 0x0AFFFF00u);
            EXPECT_EQ(r.SubnetMask, 0xFFFFFF00u);
        }},
    {"NoFurtherDotReadsZero", "ip = 10;", [](const auto& r) { EXPECT_EQ(r.IpAddr, 0x0A000000u); }},
    {"NoFurtherDotAfterSecond", "ip = 1.2", [](const auto& r) { EXPECT_EQ(r.IpAddr, 0x01020000u); }},
    {"VersionWithoutDots", "protocol version = 2;module version = 3",
        [](const auto& r) {
            EXPECT_EQ(r.ProtocolVersionMajor, 2);
            EXPECT_EQ(r.ProtocolVersionMinor, 0);
            EXPECT_EQ(r.ModuleVersionMajor, 3);
            EXPECT_EQ(r.ModuleVersionMinor, 0);
            EXPECT_EQ(r.ModuleVersionBuild, 0);
        }},
    {"DotAtVeryEnd", "ip = 1.", [](const auto& r) { EXPECT_EQ(r.IpAddr, 0x01000000u); }},
    {"MacShortNumbers", "mac = 2-0-0-12-34-56;",
        [](const auto& r) {
            EXPECT_EQ(macOf(r), (MacAddress{0x02, 0x00, 0x00, 0x12, 0x34, 0x56}));
        }},
    {"MacWithColons", "mac = 02:00:00:12:34:56;",
        [](const auto& r) {
            EXPECT_EQ(macOf(r), (MacAddress{0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
            EXPECT_EQ(r.MacIdValid, 1);
        }},
    {"MacScanfForms", "mac =  0x1a-+2- 3-1FF--1-0Xb;",
        [](const auto& r) {
            EXPECT_EQ(macOf(r), (MacAddress{0x1A, 0x02, 0x03, 0xFF, 0xFF, 0x0B}));
        }},
    {"MacBlankBeforeSeparatorStops", "mac = 01 -02-03-04-05-06;",
        [](const auto& r) {
            EXPECT_EQ(macOf(r), (MacAddress{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
        }},
    {"MacNothingReadable", "mac = zz;",
        [](const auto& r) {
            EXPECT_EQ(macOf(r), (MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
            EXPECT_EQ(r.MacIdValid, 1);
        }},
    {"MacCutAtEndOfText", "mac = 01-02-03-",
        [](const auto& r) {
            EXPECT_EQ(macOf(r), (MacAddress{0x01, 0x02, 0x03, 0xFF, 0xFF, 0xFF}));
        }},
    {"MacPrefixWithoutDigit", "mac = 0xg",
        [](const auto& r) {
            EXPECT_EQ(macOf(r), (MacAddress{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
        }},
    {"LongTextCutTo127ClosedBySemicolon", "fb type = " + k200 + ";ip = 1.2.3.4;",
        [](const auto& r) {
            EXPECT_EQ(textOf(r.FbType), kFirst127);
            EXPECT_EQ(r.IpAddr, 0x01020304u);
        }},
    {"LongTextCutTo127AtEndOfText", "ip = 1.2.3.4;hn = " + k200,
        [](const auto& r) {
            EXPECT_EQ(textOf(r.HostName), kFirst127);
            EXPECT_EQ(r.IpAddrValid, 1);
        }},
    {"TextOf127And128", "fb type = " + std::string(127, 'x') + ";hn = " + std::string(128, 'y') + ";",
        [](const auto& r) {
            EXPECT_EQ(textOf(r.FbType), std::string(127, 'x'));
            EXPECT_EQ(textOf(r.HostName), std::string(127, 'y'));
        }},
    {"EmptyTextValue", "hn = ;fb type = ",
        [](const auto& r) {
            EXPECT_EQ(textOf(r.HostName), "");
            EXPECT_EQ(r.HostNameValid, 1);
            EXPECT_EQ(textOf(r.FbType), "");
            EXPECT_EQ(r.FbTypeValid, 1);
        }},
    {"KeyInsideAnotherValue", "hn = ip = 1.2.3.4;",
        [](const auto& r) {
            EXPECT_EQ(textOf(r.HostName), "ip = 1.2.3.4");
            EXPECT_EQ(r.IpAddr, 0x01020304u);
        }},
    {"RepeatedKeyFirstWins", "ip = 1.1.1.1;IP = 2.2.2.2;dhcp = on;dhcp = off;",
        [](const auto& r) {
            EXPECT_EQ(r.IpAddr, 0x01010101u);
            EXPECT_EQ(r.Dhcp, 1);
        }},
    {"PairOrderDoesNotMatter", "dns2 = 4.4.4.4;gw = 3.3.3.3;dns1 = 5.5.5.5;",
        [](const auto& r) {
            EXPECT_EQ(r.Dns2, 0x04040404u);
            EXPECT_EQ(r.Gateway, 0x03030303u);
            EXPECT_EQ(r.Dns1, 0x05050505u);
        }},
    {"OwnConfigureEcho",
        "Configure: 02-00-00-12-34-56;Password: pw;IP = 192.168.0.10;SN = 255.255.255.0;GW = 192.168.0.1;"
        "DHCP = OFF;HN = ;DNS1 = 8.8.8.8;",
        [](const auto& r) {
            EXPECT_EQ(validBytes(r), (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 1, 0}));
            EXPECT_EQ(r.IpAddr, 0xC0A8000Au);
            EXPECT_EQ(r.Dhcp, 0);
            EXPECT_EQ(textOf(r.HostName), "");
        }},
    {"OwnWinkEcho", "To: 02-00-00-12-34-56;WINK;",
        [](const auto& r) { EXPECT_EQ(validBytes(r), std::vector<std::uint8_t>(12, 0)); }},
    {"TextOfExactly1500WithKeyAtTheEnd", std::string(1500 - 11, ' ') + "ip = 1.2.3",
        [](const auto& r) { EXPECT_EQ(r.IpAddr, 0x01020300u); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, ScanReplyParseTest, ::testing::ValuesIn(kParseCases),
    [](const auto& info) { return std::string(info.param.name); });

// Every prefix of a good reply, as a datagram cut short would deliver it: no
// read past the cut (ASan), and a field is present exactly when its key is.
TEST(ScanReplyTest, EveryTruncationOfAGoodReply)
{
    const std::string full = "protocol version = 1.10;fb type = IO;module version = 2.3.4;mac = 00-30-11-01-02-03;"
                             "ip = 10.0.0.2;sn = 255.0.0.0;gw = 10.0.0.1;dhcp = off;pswd = on;hn = m1;"
                             "dns1 = 10.0.0.9;dns2 = 10.0.0.8;";
    const char* keys[] = {"protocol version = ", "fb type = ", "module version = ", "mac = ", "ip = ", "sn = ", "gw = ",
        "dhcp = ", "pswd = ", "hn = ", "dns1 = ", "dns2 = "};
    for (std::size_t length = 0; length <= full.size(); ++length) {
        const std::string cut = full.substr(0, length);
        const auto valid = validBytes(parse(cut));
        for (std::size_t k = 0; k < std::size(keys); ++k)
            EXPECT_EQ(valid[k], cut.find(keys[k]) != std::string::npos ? 1 : 0)
                << "length " << length << " key " << keys[k];
    }
}

// --------------------------------------------------- invalid-password replies

TEST(InvalidPasswordTest, ReadsTheMacBehindTheKey)
{
    const MacAddress none{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const struct {
        const char* text;
        MacAddress mac;
    } cases[] = {
        {"Invalid Password: 02-00-00-12-34-56", {0x02, 0x00, 0x00, 0x12, 0x34, 0x56}},
        {"invalid password: ab-CD-ef-1-2-3", {0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03}},
        {"Invalid Password:02-00-00-12-34-56", none},
        {"Invalid Password: 02-00", {0x02, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"Invalid Password: ", none},
        {"Invalid Password: xyz", none},
        {"noise Invalid Password: 01-02-03-04-05-06;", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}},
        {"Invalid Password: 102-2-3-4-5-6-7", {0x02, 0x02, 0x03, 0x04, 0x05, 0x06}},
        {"", none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseInvalidPassword(c.text), c.mac) << '"' << c.text << '"';
}

} // namespace
