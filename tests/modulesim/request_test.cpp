#include "tools/modulesim/request.h"

#include <gtest/gtest.h>

#include <string>

namespace modulesim {
namespace {

using namespace std::string_literals;
using Kind = Request::Kind;

const MacAddress kMac{{0x00, 0x30, 0x11, 0x00, 0x00, 0x01}};

struct KindCase {
    const char* name;
    std::string datagram;
    Kind kind;
};

class RequestKindTest : public ::testing::TestWithParam<KindCase> { };

TEST_P(RequestKindTest, Classifies)
{
    EXPECT_EQ(Request::parse(GetParam().datagram).kind, GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(Table, RequestKindTest,
    ::testing::Values(KindCase{"ScanWithNul", "Module Scan\0"s, Kind::Scan},
        KindCase{"ScanWithoutNul", "Module Scan", Kind::Scan}, KindCase{"ScanAnyCase", "MODULE scan", Kind::Scan},
        KindCase{"ScanGarbageAfterNul", "Module Scan\0xyz"s, Kind::Scan},
        KindCase{"ScanWithTail", "Module Scanner", Kind::Other}, KindCase{"ScanShort", "Module Sca", Kind::Other},
        KindCase{"Wink", "To: 00-30-11-00-00-01;WINK;\0"s, Kind::Wink},
        KindCase{"WinkLowerCase", "to: 00-30-11-00-00-01;wink;", Kind::Wink},
        KindCase{"WinkWithoutWord", "To: 00-30-11-00-00-01;BLINK;", Kind::Other},
        KindCase{"WinkBadMac", "To: 00-30-11;WINK;", Kind::Other},
        KindCase{"WinkNoSemicolon", "To: 00-30-11-00-00-01", Kind::Other},
        KindCase{"Configure", "Configure: 00-30-11-00-00-01;HN = ;\0"s, Kind::Configure},
        KindCase{"ConfigureNoPieces", "Configure: 00-30-11-00-00-01;", Kind::Configure},
        KindCase{"ConfigureNoSemicolon", "Configure: 00-30-11-00-00-01", Kind::Other},
        KindCase{"ConfigureBadMac", "Configure: 00-30-11-00-00-0Z;IP = 1.2.3.4;", Kind::Other},
        KindCase{"ConfigureCutByNul", "Configure: 00-30\0-11-00-00-01;"s, Kind::Other},
        KindCase{"OwnReplyEcho", "protocol version = 1.10;mac = 00-30-11-00-00-01;", Kind::Other},
        KindCase{"Empty", "", Kind::Other}, KindCase{"OnlyNul", "\0"s, Kind::Other}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RequestConfigure, SplitsEveryPieceInOrder)
{
    const auto request = Request::parse(
        "Configure: 00-30-11-00-00-01;Password: old pw;New Password = new;IP = 192.168.0.10;SN = 255.255.255.0;"
        "GW = 192.168.0.1;DHCP = OFF;HN = ;DNS1 = 8.8.8.8;DNS2 = 8.8.4.4;\0"s);
    ASSERT_EQ(request.kind, Kind::Configure);
    EXPECT_EQ(request.target, kMac);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"PASSWORD", "old pw"},
        {"NEW PASSWORD", "new"},
        {"IP", "192.168.0.10"},
        {"SN", "255.255.255.0"},
        {"GW", "192.168.0.1"},
        {"DHCP", "OFF"},
        {"HN", ""},
        {"DNS1", "8.8.8.8"},
        {"DNS2", "8.8.4.4"},
    };
    ASSERT_EQ(request.pieces.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(request.pieces[i].key, expected[i].first) << i;
        EXPECT_EQ(request.pieces[i].value, expected[i].second) << i;
    }
}

TEST(RequestConfigure, KeepsValuesVerbatimBeyondTheSyntaxSpace)
{
    const auto request = Request::parse("Configure: 00-30-11-00-00-01;HN =  two spaces ;ip=1.2.3.4;Password:x;");
    ASSERT_EQ(request.pieces.size(), 3u);
    EXPECT_EQ(request.pieces[0].value, " two spaces ");
    EXPECT_EQ(request.pieces[1].key, "IP");
    EXPECT_EQ(request.pieces[1].value, "1.2.3.4");
    EXPECT_EQ(request.pieces[2].key, "PASSWORD");
    EXPECT_EQ(request.pieces[2].value, "x");
}

TEST(RequestConfigure, DropsPiecesWithoutKey)
{
    const auto request = Request::parse("Configure: 00-30-11-00-00-01;;garbage;= value;IP = 1.2.3.4");
    ASSERT_EQ(request.pieces.size(), 1u);
    EXPECT_EQ(request.pieces[0].key, "IP");
    EXPECT_EQ(request.pieces[0].value, "1.2.3.4");
}

// Every prefix of a known-good request: none may read outside the bytes it
// was given (checked under AddressSanitizer) and only whole targets count.
TEST(RequestConfigure, EveryTruncationIsSafe)
{
    const std::string good = "Configure: 00-30-11-00-00-01;Password: pw;IP = 10.0.0.1;HN = x;\0"s;
    const std::size_t targetEnd = good.find(';') + 1;
    for (std::size_t length = 0; length <= good.size(); ++length) {
        const std::string cut = good.substr(0, length);
        const auto request = Request::parse(cut);
        EXPECT_EQ(request.kind == Kind::Configure, length >= targetEnd) << length;
    }
}

TEST(RequestParse, SurvivesHostileBytes)
{
    std::string noise;
    for (int i = 0; i < 70000; ++i)
        noise += static_cast<char>((i * 131 + 7) % 256);
    for (const std::string& prefix : {"Configure: 00-30-11-00-00-01;"s, "To: 00-30-11-00-00-01;"s, ""s}) {
        const auto request = Request::parse(prefix + noise);
        EXPECT_NE(request.kind, Kind::Scan);
    }
    const auto many = Request::parse("Configure: 00-30-11-00-00-01;" + std::string(60000, ';'));
    EXPECT_EQ(many.kind, Kind::Configure);
    EXPECT_TRUE(many.pieces.empty());
}

} // namespace
} // namespace modulesim
