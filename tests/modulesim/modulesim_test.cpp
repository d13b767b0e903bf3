// The module simulator's units (escaping, MACs, requests, modules, module
// specs) and the log lines tests read from it. The program itself is
// exercised by every test that starts it (tests/integration, tests/cli).
#include "platform/textescape.h"
#include "tests/support/simulatorprocess.h"
#include "tools/modulesim/macaddress.h"
#include "tools/modulesim/modulespec.h"
#include "tools/modulesim/request.h"
#include "tools/modulesim/simulatedmodule.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <unistd.h>

namespace modulesim {
namespace {

using platform::escapeBytes;
using platform::unescapeBytes;

using namespace std::string_literals;
using Kind = Request::Kind;
const MacAddress kMac{{0x00, 0x30, 0x11, 0x00, 0x00, 0x01}};

TEST(TextEscape, RoundTripsAndRefusesMalformedEscapes)
{
    const std::pair<std::string, std::string> cases[] = {{"Module Scan\0"s, "Module Scan\\x00"}, {"a\0b"s, "a\\x00b"},
        {"say \"hi\" \\", "say \\\"hi\\\" \\\\"}, {"a\nb\r", "a\\x0Ab\\x0D"}, {"\xff\x80\x7f", "\\xFF\\x80\\x7F"},
        {"", ""}};
    for (const auto& [bytes, escaped] : cases) {
        EXPECT_EQ(escapeBytes(bytes), escaped);
        EXPECT_EQ(unescapeBytes(escaped), bytes);
    }
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(escapeBytes(all).find('\n'), std::string::npos);
    EXPECT_EQ(unescapeBytes(escapeBytes(all)), all);
    EXPECT_EQ(unescapeBytes("a\\0b\\n\\t\\r\\x4d\\x4D"), "a\0b\n\t\rMM"s);
    for (const char* bad : {"\\", "abc\\", "\\q", "\\x", "\\x4", "\\xg0", "\\x0g", "end\\x1"})
        EXPECT_FALSE(unescapeBytes(bad).has_value()) << bad;
}

TEST(MacAddressAndDottedQuad, AcceptOnlyTheirForms)
{
    EXPECT_EQ(MacAddress::parse("00-30-11-0A-bc-FF")->toString(), "00-30-11-0A-BC-FF");
    EXPECT_EQ(MacAddress::parse("2-0-0-12-34-56")->toString(), "02-00-00-12-34-56");
    for (const char* bad :
        {"", "00-30-11-00-00", "00-30-11-00-00-01-02", "00:30:11:00:00:01", "000-30-11-00-00-01", "00-30-11-00-00-0G",
            " 00-30-11-00-00-01", "00-30-11-00-00-01 ", "00--30-11-00-00-01", "-00-30-11-00-00-01"})
        EXPECT_FALSE(MacAddress::parse(bad).has_value()) << '"' << bad << '"';
    EXPECT_EQ(normaliseDottedQuad("255.255.255.255"), "255.255.255.255");
    EXPECT_EQ(normaliseDottedQuad("01.02.03.004"), "1.2.3.4");
    for (const char* bad :
        {"", "1.2.3", "1.2.3.4.5", "1..2.3", "-1.2.3.4", "1.2.3.4 ", " 1.2.3.4", "1.2.3.256", "0001.2.3.4"})
        EXPECT_FALSE(normaliseDottedQuad(bad).has_value()) << bad;
}

TEST(Request, ClassifiesAndSplitsPieces)
{
    const std::pair<std::string, Kind> kinds[] = {{"Module Scan\0"s, Kind::Scan}, {"Module Scan", Kind::Scan},
        {"MODULE scan", Kind::Scan}, {"Module Scan\0xyz"s, Kind::Scan}, {"Module Scanner", Kind::Other},
        {"Module Sca", Kind::Other}, {"To: 00-30-11-00-00-01;WINK;\0"s, Kind::Wink},
        {"to: 00-30-11-00-00-01;wink;", Kind::Wink}, {"To: 00-30-11-00-00-01;BLINK;", Kind::Other},
        {"To: 00-30-11;WINK;", Kind::Other}, {"To: 00-30-11-00-00-01", Kind::Other},
        {"Configure: 00-30-11-00-00-01;", Kind::Configure}, {"Configure: 00-30-11-00-00-01", Kind::Other},
        {"Configure: 00-30-11-00-00-0Z;IP = 1.2.3.4;", Kind::Other}, {"Configure: 00-30\0-11-00-00-01;"s, Kind::Other},
        {"protocol version = 1.10;mac = 00-30-11-00-00-01;", Kind::Other}, {"", Kind::Other}, {"\0"s, Kind::Other}};
    for (const auto& [datagram, kind] : kinds)
        EXPECT_EQ(Request::parse(datagram).kind, kind) << datagram;

    const auto request = Request::parse("Configure: 00-30-11-00-00-01;Password: old pw;New Password = new;"
                                        "HN =  two spaces ;ip=1.2.3.4;Password:x;;garbage;= value;DNS2 = 8.8.4.4");
    EXPECT_EQ(request.target, kMac);
    std::string pieces;
    for (const auto& piece : request.pieces)
        pieces += piece.key + "=" + piece.value + "|";
    EXPECT_EQ(pieces, "PASSWORD=old pw|NEW PASSWORD=new|HN= two spaces |IP=1.2.3.4|PASSWORD=x|DNS2=8.8.4.4|");

    // Every prefix of a good request: no read outside (ASan), only whole
    // targets count.
    const std::string good = "Configure: 00-30-11-00-00-01;Password: pw;IP = 10.0.0.1;HN = x;\0"s;
    for (std::size_t length = 0; length <= good.size(); ++length)
        EXPECT_EQ(Request::parse(good.substr(0, length)).kind == Kind::Configure, length >= good.find(';') + 1)
            << length;
    std::string noise;
    for (int i = 0; i < 70000; ++i)
        noise += static_cast<char>((i * 131 + 7) % 256);
    for (const std::string& prefix : {"Configure: 00-30-11-00-00-01;"s, "To: 00-30-11-00-00-01;"s, ""s})
        EXPECT_NE(Request::parse(prefix + noise).kind, Kind::Scan);
    EXPECT_TRUE(Request::parse("Configure: 00-30-11-00-00-01;" + std::string(60000, ';')).pieces.empty());
}

// One module takes every row's pieces in turn: outcome, summary, and its
// scan reply afterwards (only the part from "ip = ").
TEST(SimulatedModule, ConfigureTable)
{
    SimulatedModule module(kMac);
    EXPECT_EQ(module.scanReply(),
        "protocol version = 1.10;fb type = Modbus TCP;module version = 2.01.7;"
        "mac = 00-30-11-00-00-01;ip = 192.168.0.10;sn = 255.255.255.0;gw = 0.0.0.0;"
        "dhcp = off;pswd = off;hn = module-000001;dns1 = 0.0.0.0;dns2 = 0.0.0.0;");
    EXPECT_EQ(module.reconfiguredReply() + module.invalidPasswordReply(),
        "Reconfigured: 00-30-11-00-00-01Invalid Password: 00-30-11-00-00-01");
    const std::string base = "ip = 192.168.0.10;sn = 255.255.255.0;gw = 0.0.0.0;dhcp = off;";
    const struct {
        std::string pieces;
        bool reconfigured;
        std::string summary;
        std::string reply;
    } rows[] = {
        {"IP = 256.1.1.1;IP = 1.1.1;IP = ;DHCP = maybe;COLOUR = red;", true, "skipped=IP,IP,IP,DHCP",
            base + "pswd = off;hn = module-000001;"},
        {"IP = 1.2.3.4x;GW = 1.2.3.4;HN = ;", true, "gw=1.2.3.4 hn=\"\" skipped=IP",
            "ip = 192.168.0.10;sn = 255.255.255.0;gw = 1.2.3.4;dhcp = off;pswd = off;hn = ;"},
        {"IP = 010.001.000.099;SN = 255.0.0.0;GW = 10.0.0.1;DHCP = ON;HN = " + std::string(300, 'h')
                + ";DNS1 = 10.0.0.2;DNS2 = 10.0.0.3;Password: ignored;",
            true,
            "ip=10.1.0.99 sn=255.0.0.0 gw=10.0.0.1 dhcp=on hn=\"" + std::string(127, 'h')
                + "\" dns1=10.0.0.2 dns2=10.0.0.3",
            "ip = 10.1.0.99;sn = 255.0.0.0;gw = 10.0.0.1;dhcp = on;pswd = off;hn = " + std::string(127, 'h')
                + ";dns1 = 10.0.0.2;dns2 = 10.0.0.3;"},
        {"New Password = first;IP = 1.1.1.1;", true, "password=changed ip=1.1.1.1", "ip = 1.1.1.1;"},
        {"IP = 2.2.2.2;", false, "password=missing", "ip = 1.1.1.1;"},
        {"Password: First;IP = 2.2.2.2;", false, "password=wrong", "ip = 1.1.1.1;"},
        {"Password: first ;IP = 2.2.2.2;", false, "password=wrong", "ip = 1.1.1.1;"},
        {"Password: ;IP = 2.2.2.2;", false, "password=wrong", "ip = 1.1.1.1;"},
        {"New Password = second;", false, "password=missing", "ip = 1.1.1.1;"},
        {"Password: first;IP = 2.2.2.2;", true, "ip=2.2.2.2",
            "ip = 2.2.2.2;sn = 255.0.0.0;gw = 10.0.0.1;dhcp = on;pswd = on;"},
        {"Password: first;New Password = ;", true, "password=removed",
            "ip = 2.2.2.2;sn = 255.0.0.0;gw = 10.0.0.1;dhcp = on;pswd = off;"},
    };
    for (const auto& row : rows) {
        const auto result = module.configure(Request::parse("Configure: 00-30-11-00-00-01;" + row.pieces));
        EXPECT_EQ(result.outcome == SimulatedModule::Outcome::Reconfigured, row.reconfigured) << row.pieces;
        EXPECT_EQ(result.summary, row.summary) << row.pieces;
        const std::string reply = module.scanReply();
        EXPECT_EQ(reply.substr(reply.find("ip = "), row.reply.size()), row.reply) << row.pieces;
    }
    SimulatedModule hidden(kMac);
    hidden.omitField(ModuleField::HostName);
    hidden.setField(ModuleField::Pswd, "off");
    hidden.setPassword("hidden");
    EXPECT_EQ(hidden.field(ModuleField::Pswd), "off") << "an explicit pswd field is not overridden";
    EXPECT_EQ(hidden.scanReply().find("hn = "), std::string::npos);
}

TEST(ModuleSpec, ReadsKeysFilesAndRefusesWithAReason)
{
    std::string error;
    const auto module = parseModuleSpec("mac=00-30-11-00-00-07, protocol=1.9, fb=PROFINET IO, version=3.2.1, "
                                        "ip=10.1.2.3, sn=255.255.0.0, gw=10.1.0.1, dhcp=ON, hn=line-7, dns1=10.1.0.2, "
                                        "dns2=10.1.0.3, password=secret,-dns2",
        error);
    ASSERT_TRUE(module.has_value()) << error;
    EXPECT_EQ(module->scanReply(),
        "protocol version = 1.9;fb type = PROFINET IO;module version = 3.2.1;"
        "mac = 00-30-11-00-00-07;ip = 10.1.2.3;sn = 255.255.0.0;gw = 10.1.0.1;dhcp = on;"
        "pswd = on;hn = line-7;dns1 = 10.1.0.2;");
    EXPECT_EQ(module->password(), "secret");
    const std::pair<const char*, const char*> bad[] = {{"", "needs mac"}, {"ip=1.2.3.4", "needs mac"},
        {"mac=00-30-11", "bad MAC"}, {"mac=00-30-11-00-00-01,ip=1.2.3", "bad value for ip"},
        {"mac=00-30-11-00-00-01,dhcp=yes", "bad value for dhcp"}, {"mac=00-30-11-00-00-01,colour=red", "unknown key"},
        {"mac=00-30-11-00-00-01,-colour", "unknown field"}, {"mac=00-30-11-00-00-01,hn=a;b", "bad value for hn"},
        {"mac=00-30-11-00-00-01,justaword", "expected key=value"}};
    for (const auto& [spec, reason] : bad) {
        EXPECT_FALSE(parseModuleSpec(spec, error).has_value()) << spec;
        EXPECT_NE(error.find(reason), std::string::npos) << spec << " -> " << error;
    }
    const std::string path = "/tmp/modulesim-spec-" + std::to_string(::getpid());
    std::ofstream(path) << "# two modules\n\nmac=00-30-11-00-00-01,ip=10.0.0.1\n   # indented\nmac=00-30-11-00-00-02\n";
    const auto modules = readModuleFile(path, error);
    ASSERT_TRUE(modules.has_value()) << error;
    ASSERT_EQ(modules->size(), 2u);
    EXPECT_EQ(modules->at(0).field(ModuleField::Ip), "10.0.0.1");
    std::ofstream(path, std::ios::app) << "mac=broken\n";
    EXPECT_FALSE(readModuleFile(path, error).has_value());
    EXPECT_NE(error.find(path + ":6:"), std::string::npos) << error;
    std::remove(path.c_str());
    EXPECT_FALSE(readModuleFile("/nonexistent/modules.txt", error).has_value());

    const auto generated = generateModules(1000);
    std::set<std::string> distinct;
    for (const auto& m : generated)
        distinct.insert(m.mac().toString()), distinct.insert(m.field(ModuleField::Ip));
    EXPECT_EQ(distinct.size(), 2000u);
    EXPECT_EQ(generated.back().mac().toString(), "00-30-11-00-03-E8");
    EXPECT_EQ(generated.back().field(ModuleField::Ip), "192.168.13.250");
    EXPECT_TRUE(generateModules(0).empty());
}

TEST(DatagramLine, ReadsWhatTheSimulatorWritesAndRefusesTheRest)
{
    const auto line = testsupport::parseDatagramLine(R"(send 255.255.255.255:3250 9 "a\"b\\c\x00\xFF" t=12345)");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->direction + line->address + std::to_string(line->port) + std::to_string(line->length) + line->bytes
            + std::to_string(line->timestampNs),
        "send255.255.255.25532509a\"b\\c\0\xFF"s + "12345");
    for (const char* bad : {"", "ready port=3250 modules=1 seed=1", "wink 00-30-11-00-00-01",
             R"(recv 10.0.0.1:3250 3 "abc")", R"(recv 10.0.0.1:3250 3 "abc t=1)", R"(recv 10.0.0.1:99999 3 "abc" t=1)",
             R"(recv 10.0.0.1 3 "abc" t=1)", R"(recv 10.0.0.1:3250 3 "a\q" t=1)", R"(recv 10.0.0.1:3250 3 "abc" t=x)",
             R"(recv 10.0.0.1:3250 3 "abc\" t=1)", R"(sent 10.0.0.1:3250 3 "abc" t=1)"})
        EXPECT_FALSE(testsupport::parseDatagramLine(bad).has_value()) << bad;
}

} // namespace
} // namespace modulesim
