// The recovery DHCP server: parsing received datagrams and building
// replies, its answer to each request, its socket, its worker thread, its
// trace file, and real DHCP clients (busybox udhcpc, ISC dhclient, dhcpcd)
// against it. Sockets only inside scripts/isolated-net.
#include "dhcp/dhcpservercontrol.h"
#include "dhcp/logtofile.h"
#include "tests/dhcp/dhcpclientsocket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <net/if.h>
#include <sstream>
#include <unistd.h>

namespace {

using namespace dhcptest;
using Change = DhcpServerControl::Change;
constexpr std::uint8_t kDiscover = CDhcpMessage::kDhcpDiscover, kRequest = CDhcpMessage::kDhcpRequest;

constexpr std::int64_t kWhole = INT64_MAX; // the datagram's own length

void Load(CDhcpMessage& message, const Bytes& bytes, std::int64_t length = kWhole)
{
    std::memset(message.wire, 0, sizeof message.wire);
    std::memcpy(message.wire, bytes.data(), std::min(bytes.size(), sizeof message.wire));
    message.Length = static_cast<std::int32_t>(length == kWhole ? static_cast<std::int64_t>(bytes.size()) : length);
}

std::string Dotted(const std::uint8_t* a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

// The understood options a parse found, e.g. "53=3 50=10.200.1.68".
std::string OptionsOf(const CDhcpMessage& m)
{
    std::string text;
    if (m.MsgTypeValid)
        text += " 53=" + std::to_string(m.MsgType);
    if (m.RequestedIpValid)
        text += " 50=" + Dotted(m.RequestedIp);
    if (m.ServerIdValid)
        text += " 54=" + Dotted(m.ServerId);
    if (m.SubnetMaskValid)
        text += " 1=" + Dotted(m.SubnetMask);
    return text.empty() ? text : text.substr(1);
}

// A request carrying every option the server reads, a pad and an unknown
// option; 267 bytes long.
Bytes FullOptionRequest()
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt);
    const std::uint8_t options[] = {
        53, 1, 3, 0, 50, 4, 10, 200, 1, 0x44, 54, 4, 10, 213, 0, 1, 1, 4, 255, 255, 0, 0, 55, 3, 1, 3, 6, 255};
    std::fill(m.begin() + 240, m.end(), 0);
    std::memcpy(&m[240], options, sizeof options);
    m.resize(240 + sizeof options);
    return m;
}

// Options placed from offset 240 on, in a datagram of `length` bytes.
Bytes WithOptions(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes, std::size_t length = 300)
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt, std::nullopt, length);
    std::fill(m.begin() + 240, m.end(), 0);
    for (const auto& [at, value] : bytes)
        m[at] = value;
    return m;
}

Bytes Edited(Bytes m, std::size_t at, std::uint8_t value)
{
    m[at] = value;
    return m;
}

// One record parses every row in turn, so that a value left over from the
// row before shows too.
TEST(DhcpMessage, ParseTable)
{
    const Bytes discover = MakeRequest(kSupportedMac, kDiscover, Address{10, 200, 1, 0x44});
    const struct {
        const char* name;
        Bytes bytes;
        std::int64_t length;
        bool parsed;
        const char* options;
    } cases[] = {
        {"every option", FullOptionRequest(), kWhole, true, "53=3 50=10.200.1.68 54=10.213.0.1 1=255.255.0.0"},
        {"no options now", MakeRequest(kSupportedMac, std::nullopt), kWhole, true, ""},
        {"discover", discover, kWhole, true, "53=1 50=10.200.1.68"},
        {"negative", discover, -1, false, ""},
        {"most negative", discover, INT32_MIN, false, ""},
        {"empty", discover, 0, false, ""},
        {"one byte", discover, 1, false, ""},
        {"one short of the fixed part", discover, 235, false, ""},
        {"fixed part only", discover, 236, true, ""},
        {"cookie cut off", discover, 239, true, ""},
        {"whole buffer", MakeRequest(kSupportedMac, kDiscover, std::nullopt, 2048), kWhole, true, "53=1"},
        {"one over the buffer", MakeRequest(kSupportedMac, kDiscover, std::nullopt, 2048), 2049, false, ""},
        {"huge", discover, INT32_MAX, false, ""},
        {"no cookie: plain BOOTP", Edited(discover, 236, 0), kWhole, true, ""},
        {"last cookie byte wrong", Edited(discover, 239, 98), kWhole, true, ""},
        {"type length 0", WithOptions({{240, 53}, {241, 0}, {242, 255}}), kWhole, false, ""},
        {"type length 2", WithOptions({{240, 53}, {241, 2}, {244, 255}}), kWhole, false, ""},
        {"type length 255", WithOptions({{240, 53}, {241, 255}, {497, 255}}, 600), kWhole, false, ""},
        {"mask length 3", WithOptions({{240, 1}, {241, 3}, {245, 255}}), kWhole, false, ""},
        {"mask length 5", WithOptions({{240, 1}, {241, 5}, {247, 255}}), kWhole, false, ""},
        {"requested length 0", WithOptions({{240, 50}, {241, 0}, {242, 255}}), kWhole, false, ""},
        {"requested length 16", WithOptions({{240, 50}, {241, 16}, {258, 255}}), kWhole, false, ""},
        {"server id length 6", WithOptions({{240, 54}, {241, 6}, {248, 255}}), kWhole, false, ""},
        {"unknown option past the end", WithOptions({{240, 43}, {241, 255}, {250, 53}, {251, 1}, {252, 1}}), kWhole,
            true, ""},
        {"after the end option", WithOptions({{240, 255}, {241, 53}, {242, 2}, {243, 1}, {244, 1}}), kWhole, true, ""},
        {"beyond the 512 kept bytes", WithOptions({{240, 0xAB}, {836, 53}, {837, 1}, {838, 1}, {839, 255}}, 1500),
            kWhole, true, "53=1"},
        {"far in a long datagram", WithOptions({{2045, 53}, {2046, 1}, {2047, 3}}, 2048), kWhole, true, "53=3"},
    };
    auto message = std::make_unique<CDhcpMessage>();
    for (const auto& c : cases) {
        Load(*message, c.bytes, c.length);
        EXPECT_EQ(message->Parse(), c.parsed) << c.name;
        if (c.parsed) {
            EXPECT_EQ(OptionsOf(*message), c.options) << c.name;
        }
    }
    // The fixed fields come from their offsets; the options area is kept.
    Load(*message, Edited(discover, 16, 7));
    ASSERT_TRUE(message->Parse());
    const CDhcpMessage& m = *message;
    EXPECT_EQ((std::vector<int>{m.op, m.htype, m.hlen, m.hops, m.xid[0], m.xid[3], m.secs[1], m.ciaddr[3], m.yiaddr[0],
                  m.siaddr[0], m.giaddr[0], m.chaddr[5], m.sname[0], m.file[0]}),
        (std::vector<int>{1, 1, 6, 3, 0xDE, 0xEF, 42, 9, 7, 192, 172, 0x44, 's', 'f'}));
    EXPECT_EQ(m.Length, 300);
    EXPECT_EQ(m.OptionsLength, 64);
    EXPECT_EQ(std::memcmp(m.options, &discover[236], 64), 0);
}

// Every cut of a good request: an option is seen exactly when all of its
// bytes lie inside the datagram; a cut option ends the walk, never drops
// the datagram, and bytes beyond Length (still in the buffer) are not read.
TEST(DhcpMessage, EveryTruncationSeesOnlyWholeOptions)
{
    const Bytes full = FullOptionRequest();
    auto message = std::make_unique<CDhcpMessage>();
    for (std::size_t length = CDhcpMessage::kFixedPartLength; length <= full.size(); ++length) {
        Load(*message, full, static_cast<std::int64_t>(length));
        ASSERT_TRUE(message->Parse()) << length;
        std::string expected = length >= 243 ? "53=3" : "";
        expected += length >= 250 ? " 50=10.200.1.68" : "";
        expected += length >= 256 ? " 54=10.213.0.1" : "";
        expected += length >= 262 ? " 1=255.255.0.0" : "";
        EXPECT_EQ(OptionsOf(*message), expected) << length;
        EXPECT_EQ(message->OptionsLength, static_cast<std::int32_t>(length) - 236);
    }
}

// Build writes the options whose Valid byte is set, in the order 53, 1,
// 54, 51, then 255 and zeros to byte 300, over a buffer that held a longer
// message before.
TEST(DhcpMessage, BuildTable)
{
    using Options = std::vector<int>;
    const struct {
        const char* name;
        bool type, mask, serverId, leaseTime;
        Options options; // from offset 240 to the end option
    } cases[] = {
        {"none", false, false, false, false, {255}},
        {"type", true, false, false, false, {53, 1, 5, 255}},
        {"type and mask, as before the added options", true, true, false, false,
            {53, 1, 5, 1, 4, 255, 255, 255, 0, 255}},
        {"a NAK's: no lease time", true, true, true, false,
            {53, 1, 5, 1, 4, 255, 255, 255, 0, 54, 4, 10, 213, 0, 1, 255}},
        {"an OFFER's or ACK's: all", true, true, true, true,
            {53, 1, 5, 1, 4, 255, 255, 255, 0, 54, 4, 10, 213, 0, 1, 51, 4, 0, 1, 0x51, 0x80, 255}},
        {"no identifier", true, true, false, true, {53, 1, 5, 1, 4, 255, 255, 255, 0, 51, 4, 0, 1, 0x51, 0x80, 255}},
        {"only the added ones", false, false, true, true, {54, 4, 10, 213, 0, 1, 51, 4, 0, 1, 0x51, 0x80, 255}},
    };
    auto message = std::make_unique<CDhcpMessage>();
    const std::uint8_t mask[] = {255, 255, 255, 0}, id[] = {10, 213, 0, 1}, lease[] = {0, 1, 0x51, 0x80};
    std::memcpy(message->SubnetMask, mask, 4);
    std::memcpy(message->ServerId, id, 4);
    std::memcpy(message->LeaseTime, lease, 4);
    message->MsgType = CDhcpMessage::kDhcpAck;
    for (const auto& c : cases) {
        std::memset(message->wire, 0xEE, sizeof message->wire); // a previous, longer message
        message->MsgTypeValid = c.type;
        message->SubnetMaskValid = c.mask;
        message->ServerIdValid = c.serverId;
        message->LeaseTimeValid = c.leaseTime;
        message->Build();
        EXPECT_EQ(message->Length, 300) << c.name;
        EXPECT_EQ(message->OptionsLength, 64) << c.name;
        EXPECT_EQ(Options(message->wire + 236, message->wire + 240), (Options{99, 130, 83, 99})) << c.name;
        const std::uint8_t* wire = message->wire;
        const std::uint8_t* end = wire + 240 + c.options.size();
        EXPECT_EQ(Options(wire + 240, end), c.options) << c.name;
        EXPECT_EQ(std::count(end, wire + 300, 0), wire + 300 - end) << "zero padding: " << c.name;
    }
}

// The adapter index the answer tables say the requests came in on, and its
// address; a second adapter, and one without an IPv4 address.
constexpr unsigned kAdapter = 3, kSecondAdapter = 4, kAddresslessAdapter = 5;
constexpr Address kThisComputer = {192, 168, 7, 1}, kSecondAdapterAddress = {10, 213, 1, 1};

std::uint32_t HostOrder(const Address& a)
{
    return std::uint32_t{a[0]} << 24 | std::uint32_t{a[1]} << 16 | std::uint32_t{a[2]} << 8 | a[3];
}

std::optional<std::uint32_t> StandInAdapterAddress(unsigned index)
{
    if (index == kAdapter)
        return HostOrder(kThisComputer);
    if (index == kSecondAdapter)
        return HostOrder(kSecondAdapterAddress);
    return std::nullopt;
}

// The OFFER to a DISCOVER from 00-30-11-22-33-44, all 300 bytes: xid
// echoed, everything else the request set is not; the message type and the
// mask at 240-248 as ever, then the server identifier and the lease time.
TEST(DhcpServer, OfferToSupportedMacByteForByte)
{
    std::uint8_t expected[300] = {2, 1, 6, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0, 0, 0, 0, 0, 10, 200, 1, 0x44, 0, 0, 0,
        0, 0, 0, 0, 0, 0x00, 0x30, 0x11, 0x22, 0x33, 0x44};
    const std::uint8_t options[] = {
        99, 130, 83, 99, 53, 1, 2, 1, 4, 255, 255, 255, 0, 54, 4, 192, 168, 7, 1, 51, 4, 0, 1, 0x51, 0x80, 255};
    std::memcpy(expected + 236, options, sizeof options);
    auto server = std::make_unique<CDhcpServer>();
    server->SetAdapterAddressLookup(StandInAdapterAddress);
    std::string trace;
    server->SetTraceSink([&trace](const char* text) { trace += text; });
    Load(server->Request(), MakeRequest(kSupportedMac, kDiscover));
    ASSERT_TRUE(server->ProcessRequest(kAdapter));
    ASSERT_EQ(server->Reply().Length, 300);
    for (std::size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(server->Reply().wire[i], expected[i]) << "reply byte " << i;
    EXPECT_EQ(trace, "[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER.\n\n");
}

// One server answers every row in turn (a reply record reused across
// requests, as in the real server): the reply type (0: no reply), yiaddr
// and the trace.
TEST(DhcpServer, AnswerTable)
{
    const Mac m44 = kSupportedMac, m00 = {0, 0x30, 0x11, 0xAA, 0xBB, 0x00}, mFF = {0, 0x30, 0x11, 0xAA, 0xBB, 0xFF};
    constexpr Address kOtherServer = {192, 168, 7, 2};
    const Bytes discover = MakeRequest(m44, kDiscover);
    const std::string nak = "[SEND] DHCP_NAK (Correct IP should be 10.200.1.68)\n\n";
    Bytes longHlen = MakeRequest(m44, kDiscover);
    longHlen[2] = 16;
    std::fill(longHlen.begin() + 34, longHlen.begin() + 44, 0xA5);
    const auto typed = [&](int type) {
        return MakeRequest(m44, type < 0 ? std::nullopt : std::optional<std::uint8_t>(type));
    };
    const struct {
        Bytes request;
        int reply;
        const char* yiaddr;
        std::string trace;
    } cases[] = {
        {MakeRequest(m44, kRequest, Address{10, 200, 1, 68}), 5, "10.200.1.68",
            "[RECV] DHCP_REQUEST 10.200.1.68\n[SEND] DHCP_ACK 10.200.1.68\n\n"},
        {MakeRequest(m44, kRequest, Address{192, 168, 0, 5}), 6, "10.200.1.68",
            "[RECV] DHCP_REQUEST 192.168.0.5\n" + nak},
        {MakeRequest(m44, kRequest, Address{10, 200, 1, 69}), 6, "10.200.1.68",
            "[RECV] DHCP_REQUEST 10.200.1.69\n" + nak},
        {MakeRequest(m44, kRequest, Address{11, 200, 1, 68}), 6, "10.200.1.68",
            "[RECV] DHCP_REQUEST 11.200.1.68\n" + nak},
        // After a refusal, a request without an address is acknowledged.
        {MakeRequest(m44, kRequest), 5, "10.200.1.68", "[RECV] DHCP_REQUEST \n[SEND] DHCP_ACK 10.200.1.68\n\n"},
        // Regression: a MAC ending in 00 or FF was offered the subnet's
        // network or broadcast address, which no host may use.
        {MakeRequest(m00, kDiscover), 2, "10.200.1.1",
            "[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER. 10.200.1.1 in place of 10.200.1.0, the subnet's network "
            "address\n\n"},
        {MakeRequest(mFF, kDiscover), 2, "10.200.1.254",
            "[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER. 10.200.1.254 in place of 10.200.1.255, the subnet's broadcast "
            "address\n\n"},
        // Regression: a message that is neither DISCOVER nor REQUEST was
        // answered with whatever type the reply record held (here an OFFER).
        {typed(-1), 0, "", ""},
        {typed(0), 0, "", ""},
        {typed(2), 0, "", ""},
        {typed(4), 0, "", ""},
        {typed(5), 0, "", ""},
        {typed(6), 0, "", ""},
        {typed(7), 0, "", ""},
        {typed(8), 0, "", ""},
        {typed(255), 0, "", ""},
        {MakeRequest(m00, kRequest, Address{10, 200, 1, 1}), 5, "10.200.1.1",
            "[RECV] DHCP_REQUEST 10.200.1.1\n"
            "[SEND] DHCP_ACK 10.200.1.1 in place of 10.200.1.0, the subnet's network address\n\n"},
        // Regression: a REQUEST meant for the site's own DHCP server (its
        // identifier names another computer) got a NAK, which broke that
        // client's DHCP; it gets no reply and no trace. A REQUEST naming
        // the identifier this server's replies carry (kThisComputer) is
        // answered; 0.0.0.0 is what udhcpc names after an offer without one.
        {MakeRequest(m44, kRequest, Address{10, 200, 1, 68}, kClientMessageLength, kOtherServer), 0, "", ""},
        {MakeRequest(Mac{0x00, 0x30, 0x12, 0, 0, 1}, kRequest, std::nullopt, kClientMessageLength, kOtherServer), 0, "",
            ""},
        {MakeRequest(m44, kRequest, Address{10, 200, 1, 68}, kClientMessageLength, kThisComputer), 5, "10.200.1.68",
            ""},
        {MakeRequest(m44, kRequest, Address{10, 200, 1, 68}, kClientMessageLength, Address{0, 0, 0, 0}), 5,
            "10.200.1.68", ""},
        {MakeRequest(Mac{0x00, 0x30, 0x12, 0x00, 0x00, 0x01}, kDiscover), 0, "",
            "[RECV] Got message from non-supported MAC (00:30:12:00:00:01)\n"},
        {MakeRequest(Mac{0x80, 0x30, 0x11, 1, 2, 3}, kDiscover), 0, "", "!"},
        {MakeRequest(Mac{0x00, 0xB0, 0x11, 1, 2, 3}, kDiscover), 0, "", "!"},
        {MakeRequest(Mac{0xAB, 0xCD, 0xEF, 0x0A, 0x0B, 0xFE}, kDiscover), 0, "",
            "[RECV] Got message from non-supported MAC (ab:cd:ef:0a:0b:fe)\n"},
        {MakeRequest(Mac{0x00, 0x30, 0x91, 1, 2, 3}, kDiscover), 0, "", "!"},
        {Edited(MakeRequest(m44, kDiscover), 236, 0), 0, "", ""},                        // plain BOOTP
        {WithOptions({{240, 53}, {241, 2}, {242, 1}, {243, 1}, {244, 255}}), 0, "", ""}, // dropped
        {Bytes(discover.begin(), discover.begin() + 235), 0, "", ""},
        {Edited(Edited(MakeRequest(m44, kDiscover), 0, 2), 1, 6), 2, "10.200.1.68", ""}, // op, htype not checked
        {longHlen, 2, "10.200.1.68", ""},
    };
    auto server = std::make_unique<CDhcpServer>();
    std::string trace;
    server->SetTraceSink([&trace](const char* text) { trace += text; });
    server->SetLocalAddressTest([](std::uint32_t address) { return address == HostOrder(kThisComputer); });
    server->SetAdapterAddressLookup(StandInAdapterAddress);
    const std::vector<int> identifier = {54, 4, kThisComputer[0], kThisComputer[1], kThisComputer[2], kThisComputer[3]};
    const std::vector<int> leaseTime = {51, 4, 0, 1, 0x51, 0x80};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        trace.clear();
        Load(server->Request(), c.request);
        const bool answered = server->ProcessRequest(kAdapter);
        const std::uint8_t* w = server->Reply().wire;
        EXPECT_EQ(answered ? w[242] : 0, c.reply) << "row " << i;
        if (answered) {
            EXPECT_EQ(Dotted(w + 16), c.yiaddr) << "row " << i;
            // Bytes 240-248 are those of every reply before the added
            // options; after them 54 and, unless a NAK, 51; then the end.
            EXPECT_EQ(std::vector<int>(w + 240, w + 249), (std::vector<int>{53, 1, c.reply, 1, 4, 255, 255, 255, 0}))
                << "row " << i;
            std::vector<int> added = identifier;
            if (c.reply != CDhcpMessage::kDhcpNak)
                added.insert(added.end(), leaseTime.begin(), leaseTime.end());
            added.push_back(255);
            EXPECT_EQ(std::vector<int>(w + 249, w + 249 + added.size()), added) << "row " << i;
            EXPECT_EQ(std::count(w + 249 + added.size(), w + 300, 0), 51 - static_cast<long>(added.size())) << i;
            EXPECT_EQ(w[0] * 1000 + w[1], 2000 + c.request[1]) << "op reply, htype echoed unchecked; row " << i;
            EXPECT_EQ(std::memcmp(w + 28, c.request.data() + 28, 6), 0) << "row " << i;
            EXPECT_EQ(std::count(w + 34, w + 236, 0), 202) << "only six chaddr bytes echoed; row " << i;
        }
        if (c.trace != "!" && (c.reply == 0 || !c.trace.empty())) {
            EXPECT_EQ(trace, c.trace) << "row " << i;
        }
    }
    trace.clear();
    server->Log("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(trace, std::string(CDhcpServer::kTraceLineSize - 1, 'x')) << "a long line is cut within its buffer";
    EXPECT_EQ(server->Poll(), 0) << "no socket: nothing to read";
}

// The identifier is the address of the adapter the request came in on, so
// a module in a second network is told the server's address there; a reply
// out of an adapter without an IPv4 address, or of one unknown, names no
// server. Bytes 240-248 stay as they are in every case.
TEST(DhcpServer, ServerIdentifierIsTheAskingAdaptersAddress)
{
    using Options = std::vector<int>;
    const Options lease = {51, 4, 0, 1, 0x51, 0x80, 255};
    const struct {
        unsigned adapter;
        std::optional<Address> requestedIp; // a REQUEST when given, else a DISCOVER
        Options added;                      // from offset 249 on
    } cases[] = {
        {kAdapter, std::nullopt, {54, 4, 192, 168, 7, 1, 51, 4, 0, 1, 0x51, 0x80, 255}},
        {kSecondAdapter, std::nullopt, {54, 4, 10, 213, 1, 1, 51, 4, 0, 1, 0x51, 0x80, 255}},
        {kSecondAdapter, Address{10, 200, 1, 68}, {54, 4, 10, 213, 1, 1, 51, 4, 0, 1, 0x51, 0x80, 255}},
        {kSecondAdapter, Address{10, 200, 1, 9}, {54, 4, 10, 213, 1, 1, 255}},
        {kAddresslessAdapter, std::nullopt, lease},
        {kAddresslessAdapter, Address{10, 200, 1, 9}, {255}},
        {CDhcpServer::kUnknownAdapter, Address{10, 200, 1, 68}, lease},
    };
    auto server = std::make_unique<CDhcpServer>();
    std::vector<unsigned> asked;
    server->SetAdapterAddressLookup([&asked](unsigned index) {
        asked.push_back(index);
        return StandInAdapterAddress(index);
    });
    for (const auto& c : cases) {
        asked.clear();
        Load(server->Request(), MakeRequest(kSupportedMac, c.requestedIp ? kRequest : kDiscover, c.requestedIp));
        ASSERT_TRUE(server->ProcessRequest(c.adapter)) << c.adapter;
        const std::uint8_t* w = server->Reply().wire;
        const int type = c.requestedIp ? (c.requestedIp->back() == 68 ? 5 : 6) : 2;
        EXPECT_EQ(Options(w + 240, w + 249), (Options{53, 1, type, 1, 4, 255, 255, 255, 0})) << c.adapter;
        EXPECT_EQ(Options(w + 249, w + 249 + c.added.size()), c.added) << c.adapter;
        EXPECT_EQ(asked,
            c.adapter == CDhcpServer::kUnknownAdapter ? std::vector<unsigned>{} : std::vector<unsigned>{c.adapter});
    }
}

// Without stand-ins the server asks the system for the adapter's address
// and for which addresses are its own: a client that took an offer
// received over loopback names 127.0.0.1, and that REQUEST is answered.
TEST(DhcpServer, ServerIdentifiersAreCheckedAgainstTheComputersOwnAddresses)
{
    auto server = std::make_unique<CDhcpServer>();
    const auto answered = [&server](const Address& serverId) {
        Load(server->Request(), MakeRequest(kSupportedMac, kRequest, std::nullopt, kClientMessageLength, serverId));
        return server->ProcessRequest();
    };
    const unsigned loopback = ::if_nametoindex("lo");
    ASSERT_NE(loopback, 0u);
    Load(server->Request(), MakeRequest(kSupportedMac, kDiscover));
    ASSERT_TRUE(server->ProcessRequest(loopback));
    const std::uint8_t* id = server->Reply().wire + 251;
    EXPECT_EQ(Dotted(id), "127.0.0.1");
    EXPECT_TRUE(answered(Address{id[0], id[1], id[2], id[3]})) << "the identifier this server sent";
    EXPECT_FALSE(answered(Address{192, 0, 2, 1})); // documentation range, assigned nowhere
    EXPECT_EQ(CDhcpServer::AddressOfAdapter(0), std::nullopt) << "no adapter has index 0";
}

// Which of an adapter's addresses names the server: one in 10.200.1.0/24
// (a technician's extra address for the recovered modules) before the
// adapter's first.
TEST(DhcpServer, AdapterAddressTable)
{
    const auto record = [](const char* name, unsigned index, std::optional<Address> a) {
        platform::InterfaceRecord r;
        r.name = name;
        r.index = index;
        r.up = r.broadcast = true;
        r.hasIpv4 = a.has_value();
        r.ipv4 = a ? HostOrder(*a) : 0;
        return r;
    };
    const std::vector<platform::InterfaceRecord> records = {
        record("lo", 1, Address{127, 0, 0, 1}),
        record("eth0", 2, Address{192, 168, 0, 5}),
        record("eth0", 2, Address{10, 200, 1, 250}),
        record("eth1", 3, std::nullopt),
        record("eth2", 4, Address{10, 213, 0, 1}),
        record("eth2", 4, Address{10, 200, 2, 1}),
        record("eth2", 4, Address{10, 213, 0, 9}),
    };
    const struct {
        unsigned index;
        const char* chosen; // "" for none
    } cases[] = {
        {1, "127.0.0.1"},
        {2, "10.200.1.250"},
        {3, ""},
        {4, "10.213.0.1"},
        {9, ""},
        {0, ""},
    };
    for (const auto& c : cases) {
        const auto chosen = CDhcpServer::ChooseAdapterAddress(records, c.index);
        std::string text;
        if (chosen) {
            const Address a = {static_cast<std::uint8_t>(*chosen >> 24), static_cast<std::uint8_t>(*chosen >> 16),
                static_cast<std::uint8_t>(*chosen >> 8), static_cast<std::uint8_t>(*chosen)};
            text = Dotted(a.data());
        }
        EXPECT_EQ(text, c.chosen) << "adapter " << c.index;
    }
}

bool PollUntilAnswered(CDhcpServer& server, std::chrono::milliseconds wait = kReplyWait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    do {
        if (server.Poll() == 1)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

TEST(DhcpServerSocket, AnswersOnPort67AndDropsWhatDoesNotFit)
{
    ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
    DhcpClientSocket client;
    ASSERT_TRUE(client.Open());
    auto holder = std::make_unique<platform::UdpSocket>();
    ASSERT_TRUE(holder->open() && holder->bind(CDhcpServer::kServerPort));
    auto server = std::make_unique<CDhcpServer>();
    EXPECT_FALSE(server->Init()) << "port held elsewhere";
    EXPECT_EQ(server->LastError(), EADDRINUSE);
    EXPECT_FALSE(server->IsOpen()) << "a half-made socket is closed at once";
    holder.reset();
    ASSERT_TRUE(server->Init()) << "errno " << server->LastError();
    EXPECT_EQ(server->Poll(), 0) << "nothing waiting";

    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, kDiscover)));
    ASSERT_TRUE(PollUntilAnswered(*server));
    auto reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->size(), CDhcpMessage::kReplyLength);
    EXPECT_EQ((*reply)[242], CDhcpMessage::kDhcpOffer);
    // Sent over loopback: the identifier is that adapter's address, and the
    // reply comes from the address it names.
    EXPECT_EQ(std::vector<int>(reply->begin() + 249, reply->begin() + 255), (std::vector<int>{54, 4, 127, 0, 0, 1}));
    EXPECT_EQ(client.LastSender(), platform::UdpSocket::kLoopbackAddress);

    // Regressions: a datagram longer than the buffer (cut silently by the
    // receive) must be dropped whole, and an empty one must be consumed, not
    // left at the head of the queue; neither may block the ones behind it.
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, kDiscover, std::nullopt, 2049)));
    ASSERT_TRUE(client.SendToServer(Bytes{}));
    ASSERT_TRUE(client.SendToServer(MakeRequest(Mac{0x00, 0x30, 0x12, 0, 0, 1}, kDiscover)));
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, kRequest, std::nullopt, 2048)));
    ASSERT_TRUE(PollUntilAnswered(*server));
    reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ((*reply)[242], CDhcpMessage::kDhcpAck) << "the first reply answers the last datagram";
    EXPECT_FALSE(client.Receive(std::chrono::milliseconds(100)).has_value());

    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, kDiscover)));
    EXPECT_TRUE(server->Close());
    EXPECT_EQ(server->Poll(), 0);
    EXPECT_TRUE(ServerPortIsFree());
    ASSERT_TRUE(server->Init()) << "a fresh socket after Close";
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, kDiscover)));
    EXPECT_TRUE(PollUntilAnswered(*server));
}

// The switch with its worker thread (also under ThreadSanitizer).
TEST(DhcpServerControl, SwitchesTheWorkerAndItsSocket)
{
    ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
    DhcpClientSocket client;
    ASSERT_TRUE(client.Open());
    auto control = std::make_unique<DhcpServerControl>();
    EXPECT_FALSE(control->IsRunning());
    EXPECT_TRUE(ServerPortIsFree());
    EXPECT_EQ(control->Apply(false), Change::None);
    std::string trace; // written by the worker, read after Stop joined it
    control->Server().SetTraceSink([&trace](const char* text) { trace += text; });
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(control->Apply(true), Change::Started) << round;
        EXPECT_EQ(control->Apply(true), Change::None);
        EXPECT_TRUE(control->Start()) << "a second start keeps the one worker";
        ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, kDiscover)));
        const auto reply = client.Receive();
        EXPECT_TRUE(reply.has_value() && reply->size() == CDhcpMessage::kReplyLength) << round;
        ASSERT_EQ(control->Apply(false), Change::Stopped) << round;
        EXPECT_FALSE(control->IsRunning());
        EXPECT_TRUE(ServerPortIsFree()) << "the socket is closed once Stop returns";
    }
    EXPECT_EQ(trace, "[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER.\n\n[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER.\n\n");

    // A failed start still marks the server running (the dialog shows the
    // box checked); the worker idles without a socket until the stop.
    auto holder = std::make_unique<platform::UdpSocket>();
    ASSERT_TRUE(holder->open() && holder->bind(CDhcpServer::kServerPort));
    EXPECT_EQ(control->Apply(true), Change::StartFailed);
    EXPECT_TRUE(control->IsRunning());
    EXPECT_EQ(control->Apply(false), Change::Stopped);
    holder.reset();
    ASSERT_EQ(control->Apply(true), Change::Started) << "the port is free again";
    control->Server().SetTraceSink(nullptr);
    control.reset();
    EXPECT_TRUE(ServerPortIsFree()) << "destroying a running control stops the server";
}

// The real DHCP clients a module or a technician's computer runs, each in
// the modules namespace with the module's MAC on its veth end and an event
// script that prints "LEASE ip mask server id lease seconds" or "EVENT
// reason". Each runs once and ends: udhcpc gives up after its tries (-n);
// dhclient tries for the time in dhclient.conf (-1) and is ended by its
// script once bound; dhcpcd exits once bound (-1), and a refusal is seen
// when the guard's time is up (in the foreground, -B, its -t does not end
// it, and in the background it would outlive the test's look at it).
// Their lease and pid files stay in a scratch folder: dhclient is given
// them, dhcpcd (which has fixed places for them) gets empty file systems
// over /run and /var/lib/dhcpcd in a mount namespace of its own. None of
// them touches resolv.conf or any other file of the computer.
enum class DhcpClient { Udhcpc, Dhclient, Dhcpcd };

const char* ClientName(DhcpClient client)
{
    switch (client) {
    case DhcpClient::Udhcpc:
        return "udhcpc";
    case DhcpClient::Dhclient:
        return "dhclient";
    case DhcpClient::Dhcpcd:
        return "dhcpcd";
    }
    return "?";
}

// The command that runs `client` once in namespace `ns` on `dev`; `patient`
// gives it several tries, otherwise it gives up after about a second
// (dhclient: its configured few seconds).
std::string ClientCommand(DhcpClient client, const std::string& ns, const std::string& dev, bool patient,
    const std::filesystem::path& scratch)
{
    const std::string here = Env("SORVINDA_SOURCE_DIR") + "/tests/dhcp/";
    const std::string inNamespace = "ip netns exec '" + ns + "' ";
    const std::string guard = "timeout 30 ";
    switch (client) {
    case DhcpClient::Udhcpc:
        return inNamespace + guard + "busybox udhcpc -f -q -n -t " + (patient ? "3" : "1") + " -T 1 -i '" + dev
            + "' -s '" + here + "udhcpc-lease.sh'";
    case DhcpClient::Dhclient:
        return inNamespace + guard + "dhclient -4 -d -1 -v -cf '" + here + "dhclient.conf' -lf '"
            + (scratch / "dhclient.leases").string() + "' -pf '" + (scratch / "dhclient.pid").string() + "' -sf '"
            + here + "dhclient-lease.sh' '" + dev + "'";
    case DhcpClient::Dhcpcd:
        return inNamespace + "unshare --mount --propagation private sh -c \"mount -t tmpfs dhcpcd-run /run"
            + " && mount -t tmpfs dhcpcd-db /var/lib/dhcpcd && exec timeout " + (patient ? "30" : "6")
            + " dhcpcd -4 -1 -B -d -A -L -f '" + here + "dhcpcd.conf' -c '" + here + "dhcpcd-lease.sh' '" + dev + "'\"";
    }
    return {};
}

// True once no process runs in namespace `ns` (a client's helpers may take
// a moment to end after it); false when some remain after a few seconds.
bool NoProcessIn(const std::string& ns)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        if (RunShell("ip netns pids '" + ns + "'").empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

TEST(DhcpServerRealClients, EachGetsTheFixedAddressOnlyForSupportedMacs)
{
    ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
    const std::string ns = Env("SORVINDA_NETNS_MODULES"), dev = Env("SORVINDA_MODULES_IF");
    const std::string server = Env("SORVINDA_HOST_ADDR");
    // The clients run only inside the modules namespace.
    ASSERT_FALSE(ns.empty() || dev.empty() || server.empty());
    const std::string granted = " 255.255.255.0 server " + server + " lease 86400";
    const std::string exchange68 = "[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER.\n\n"
                                   "[RECV] DHCP_REQUEST 10.200.1.68\n[SEND] DHCP_ACK 10.200.1.68\n\n";
    using enum DhcpClient;
    const struct {
        DhcpClient client;
        const char* mac;
        int restarts; // -1: stopped before the client runs
        std::string client_output;
        std::string traced;
    } cases[] = {
        {Dhclient, "00:30:11:22:33:44", 0, "LEASE 10.200.1.68" + granted, exchange68},
        {Dhcpcd, "00:30:11:22:33:44", 0, "LEASE 10.200.1.68" + granted, exchange68},
        {Udhcpc, "00:30:11:22:33:44", 0, "LEASE 10.200.1.68" + granted, exchange68},
        {Dhclient, "00:30:11:00:00:78", 0, "LEASE 10.200.1.120" + granted, "[SEND] DHCP_ACK 10.200.1.120\n"},
        {Dhcpcd, "00:30:11:00:00:78", 0, "LEASE 10.200.1.120" + granted, "[SEND] DHCP_ACK 10.200.1.120\n"},
        {Udhcpc, "00:30:11:00:00:07", 1, "LEASE 10.200.1.7" + granted, "[SEND] DHCP_ACK 10.200.1.7\n"},
        // Regression: udhcpc took 10.200.1.0 and 10.200.1.255 as its lease.
        {Udhcpc, "00:30:11:22:33:00", 0, "LEASE 10.200.1.1" + granted, "[SEND] DHCP_ACK 10.200.1.1 in place of"},
        {Udhcpc, "00:30:11:22:33:ff", 0, "LEASE 10.200.1.254" + granted, "[SEND] DHCP_ACK 10.200.1.254 in place of"},
        // Outside the prefix: no reply, whichever client asks.
        {Dhclient, "00:30:12:00:00:01", 0, "EVENT FAIL",
            "[RECV] Got message from non-supported MAC (00:30:12:00:00:01)\n"},
        {Dhcpcd, "00:30:12:00:00:01", 0, "sending DISCOVER",
            "[RECV] Got message from non-supported MAC (00:30:12:00:00:01)\n"},
        {Udhcpc, "00:30:12:00:00:01", 0, "EVENT leasefail",
            "[RECV] Got message from non-supported MAC (00:30:12:00:00:01)\n"},
        {Udhcpc, "00:30:11:22:33:44", -1, "EVENT leasefail", ""},
    };
    const auto scratch = std::filesystem::temp_directory_path() / ("dhcp_test-" + std::to_string(::getpid()));
    for (const auto& c : cases) {
        const std::string row = std::string(ClientName(c.client)) + " " + c.mac;
        const bool leased = c.client_output.rfind("LEASE", 0) == 0;
        std::filesystem::remove_all(scratch);
        ASSERT_TRUE(std::filesystem::create_directory(scratch)) << scratch;
        ASSERT_EQ(RunShell("ip -n '" + ns + "' link set dev '" + dev + "' address " + c.mac), "");
        std::string trace;
        auto control = std::make_unique<DhcpServerControl>();
        control->Server().SetTraceSink([&trace](const char* text) { trace += text; });
        ASSERT_TRUE(control->Start());
        for (int i = 0; i < std::abs(c.restarts); ++i) {
            control->Stop();
            ASSERT_TRUE(control->Start());
        }
        if (c.restarts < 0)
            control->Stop();
        // A lease comes at once; a refusal is only seen when every try has
        // waited its time, so refusals get one short try.
        const std::string client = RunShell(ClientCommand(c.client, ns, dev, leased, scratch));
        control->Stop();
        std::cout << "---- " << row << ": client\n" << client << "---- " << row << ": server trace\n" << trace;
        EXPECT_NE(client.find(c.client_output), std::string::npos) << row << ": " << client;
        EXPECT_EQ(client.find("LEASE") != std::string::npos, leased) << row << ": " << client;
        EXPECT_NE(trace.find(c.traced), std::string::npos) << row << ": " << trace;
        EXPECT_EQ(trace.find("[SEND]") != std::string::npos, leased) << row << ": " << trace;
        // dhcpcd sets the address it got on the modules namespace's
        // interface (the others leave that to their scripts, which here
        // set nothing); the namespace's own address stays. Take it off.
        const std::string addresses = RunShell("ip -n '" + ns + "' -4 -o addr show dev '" + dev + "'");
        EXPECT_NE(addresses.find(Env("SORVINDA_MODULES_ADDR") + "/24"), std::string::npos) << row << ": " << addresses;
        const std::size_t ipAt = std::string("LEASE ").size();
        const std::string ip = leased ? c.client_output.substr(ipAt, c.client_output.find(' ', ipAt) - ipAt) : "";
        EXPECT_EQ(addresses.find("inet 10.200.1.") != std::string::npos, leased && c.client == Dhcpcd) << addresses;
        if (leased && c.client == Dhcpcd) {
            EXPECT_NE(addresses.find("inet " + ip + "/24"), std::string::npos) << row << ": " << addresses;
        }
        RunShell("ip -n '" + ns + "' addr flush dev '" + dev + "' to 10.200.1.0/24");
        EXPECT_TRUE(NoProcessIn(ns)) << row << ": the client left processes behind";
    }
    std::filesystem::remove_all(scratch);
}

TEST(LogToFile, AppendsFormattedLinesCutAtItsBuffer)
{
    const auto path = std::filesystem::temp_directory_path() / ("logtofile-" + std::to_string(::getpid()) + ".log");
    std::ofstream(path) << "earlier\n";
    EXPECT_TRUE(LogToFile(path.c_str(), "[RECV] DHCP_REQUEST "));
    EXPECT_TRUE(LogToFile(path.c_str(), "%d.%d.%d.%d\n", 10, 200, 1, 68));
    EXPECT_TRUE(LogToFile(path.c_str(), "%s", std::string(3000, 'y').c_str()));
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(), "earlier\n[RECV] DHCP_REQUEST 10.200.1.68\n" + std::string(kLogToFileLineSize - 1, 'y'));
    std::filesystem::remove(path);
    EXPECT_FALSE(LogToFile("/nonexistent-directory/dhcp.log", "line\n"));
    EXPECT_FALSE(LogToFile(std::filesystem::temp_directory_path().c_str(), "a directory\n"));
}

} // namespace
