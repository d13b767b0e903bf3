// CDhcpServer: the answer to one request, without a socket. The datagram is
// placed in the request record as Poll would receive it.

#include "dhcp/dhcpserver.h"
#include "tests/dhcp/dhcptestpackets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace dhcptest;

class DhcpServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server->SetTraceSink([this](const char* text) { trace += text; });
    }

    // True when the server builds a reply to `request`.
    bool Answer(const Bytes& request)
    {
        Load(server->Request(), request);
        return server->ProcessRequest();
    }

    std::string ReplyBytes(std::size_t offset, std::size_t size) const
    {
        const std::uint8_t* w = server->Reply().wire + offset;
        return std::string(reinterpret_cast<const char*>(w), size);
    }

    std::uint8_t ReplyType() const { return server->Reply().wire[242]; }

    std::unique_ptr<CDhcpServer> server = std::make_unique<CDhcpServer>();
    std::string trace;
};

// The OFFER to a DISCOVER from 00-30-11-22-33-44, all 300 bytes.
TEST_F(DhcpServerTest, OfferToSupportedMacByteForByte)
{
    const std::uint8_t fixedPart[] = {
        2, 1, 6, 0,                         // op reply, htype Ethernet, hlen 6, hops 0
        0xDE, 0xAD, 0xBE, 0xEF,             // xid of the request
        0, 0,                               // secs 0 (the request said 42)
        0, 0,                               // flags 0 (the request set broadcast)
        0, 0, 0, 0,                         // ciaddr 0.0.0.0 (the request said 192.168.0.9)
        10, 200, 1, 0x44,                   // yiaddr 10.200.1.68: the MAC's last byte
        0, 0, 0, 0,                         // siaddr 0.0.0.0
        0, 0, 0, 0,                         // giaddr 0.0.0.0 (the request said 172.16.0.1)
        0x00, 0x30, 0x11, 0x22, 0x33, 0x44, // chaddr: the client's MAC
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0,       // ... and 10 zero bytes
    };                                      // 44..235: sname (64) and file (128), zero
    const std::uint8_t optionPart[] = {
        99, 130, 83, 99,        // 236: magic cookie
        53, 1, 2,               // 240: option 53, DHCP OFFER
        1, 4, 255, 255, 255, 0, // 243: option 1, subnet mask 255.255.255.0
        255,                    // 249: end
    };                          // 250..299: zero padding
    std::uint8_t expected[300] = {};
    std::memcpy(expected, fixedPart, sizeof fixedPart);
    std::memcpy(expected + 236, optionPart, sizeof optionPart);

    ASSERT_TRUE(Answer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)));
    ASSERT_EQ(server->Reply().Length, 300);
    for (std::size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(server->Reply().wire[i], expected[i]) << "reply byte " << i;
    EXPECT_EQ(trace, "[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER.\n\n");
}

struct RequestCase {
    const char* name;
    std::optional<Address> requested;
    std::uint8_t replyType;
    const char* trace;
};

class DhcpServerRequestTest : public DhcpServerTest, public ::testing::WithParamInterface<RequestCase> { };

// The address offered depends on the MAC alone: a REQUEST for it, or for
// no address at all, is acknowledged; any other address is refused with a
// NAK that still names the right address in yiaddr.
TEST_P(DhcpServerRequestTest, AcknowledgesOnlyTheOfferedAddress)
{
    ASSERT_TRUE(Answer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpRequest, GetParam().requested)));
    EXPECT_EQ(ReplyType(), GetParam().replyType);
    EXPECT_EQ(ReplyBytes(16, 4), std::string("\x0A\xC8\x01\x44", 4)) << "yiaddr";
    EXPECT_EQ(ReplyBytes(243, 7), std::string("\x01\x04\xFF\xFF\xFF\x00\xFF", 7)) << "mask, end";
    EXPECT_EQ(trace, GetParam().trace);
}

INSTANTIATE_TEST_SUITE_P(Requests, DhcpServerRequestTest,
    ::testing::Values(RequestCase{"OfferedAddress", Address{10, 200, 1, 68}, CDhcpMessage::kDhcpAck,
                          "[RECV] DHCP_REQUEST 10.200.1.68\n[SEND] DHCP_ACK 10.200.1.68\n\n"},
        RequestCase{"OtherNetwork", Address{192, 168, 0, 5}, CDhcpMessage::kDhcpNak,
            "[RECV] DHCP_REQUEST 192.168.0.5\n"
            "[SEND] DHCP_NAK (Correct IP should be 10.200.1.68)\n\n"},
        RequestCase{"LastByteOff", Address{10, 200, 1, 69}, CDhcpMessage::kDhcpNak,
            "[RECV] DHCP_REQUEST 10.200.1.69\n"
            "[SEND] DHCP_NAK (Correct IP should be 10.200.1.68)\n\n"},
        RequestCase{"FirstByteOff", Address{11, 200, 1, 68}, CDhcpMessage::kDhcpNak,
            "[RECV] DHCP_REQUEST 11.200.1.68\n"
            "[SEND] DHCP_NAK (Correct IP should be 10.200.1.68)\n\n"},
        RequestCase{"NoRequestedAddress", std::nullopt, CDhcpMessage::kDhcpAck,
            "[RECV] DHCP_REQUEST \n[SEND] DHCP_ACK 10.200.1.68\n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DhcpServerTest, RequestWithoutAddressIsAcknowledgedAfterARefusal)
{
    ASSERT_TRUE(Answer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpRequest, Address{192, 168, 0, 5})));
    ASSERT_EQ(ReplyType(), CDhcpMessage::kDhcpNak);
    ASSERT_TRUE(Answer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpRequest)));
    EXPECT_EQ(ReplyType(), CDhcpMessage::kDhcpAck);
}

TEST_F(DhcpServerTest, UnsupportedMacGetsOnlyATraceLine)
{
    EXPECT_FALSE(Answer(MakeRequest(Mac{0x00, 0x30, 0x12, 0x00, 0x00, 0x01}, CDhcpMessage::kDhcpDiscover)));
    EXPECT_EQ(trace, "[RECV] Got message from non-supported MAC (00:30:12:00:00:01)\n");
}

TEST_F(DhcpServerTest, EveryPrefixByteOfTheMacCounts)
{
    for (std::size_t i = 0; i < 3; ++i) {
        Mac mac = kSupportedMac;
        mac[i] ^= 0x80;
        EXPECT_FALSE(Answer(MakeRequest(mac, CDhcpMessage::kDhcpDiscover))) << "prefix byte " << i;
    }
    trace.clear();
    EXPECT_FALSE(Answer(MakeRequest(Mac{0xAB, 0xCD, 0xEF, 0x0A, 0x0B, 0xFE}, CDhcpMessage::kDhcpDiscover)));
    EXPECT_EQ(trace, "[RECV] Got message from non-supported MAC (ab:cd:ef:0a:0b:fe)\n");
}

struct UnansweredCase {
    const char* name;
    std::optional<std::uint8_t> messageType;
};

class DhcpServerUnansweredTest : public DhcpServerTest, public ::testing::WithParamInterface<UnansweredCase> { };

// Regression: a message that is neither DISCOVER nor REQUEST must not be
// answered with whatever type the reply record held from the last request
// (here an OFFER).
TEST_P(DhcpServerUnansweredTest, GetsNoReplyEvenAfterAnOffer)
{
    ASSERT_TRUE(Answer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)));
    trace.clear();
    EXPECT_FALSE(Answer(MakeRequest(kSupportedMac, GetParam().messageType)));
    EXPECT_EQ(trace, "");
}

INSTANTIATE_TEST_SUITE_P(Types, DhcpServerUnansweredTest,
    ::testing::Values(UnansweredCase{"NoOption53", std::nullopt}, UnansweredCase{"Type0", std::uint8_t{0}},
        UnansweredCase{"Offer", std::uint8_t{2}}, UnansweredCase{"Decline", std::uint8_t{4}},
        UnansweredCase{"Ack", std::uint8_t{5}}, UnansweredCase{"Nak", std::uint8_t{6}},
        UnansweredCase{"Release", std::uint8_t{7}}, UnansweredCase{"Inform", std::uint8_t{8}},
        UnansweredCase{"Type255", std::uint8_t{255}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DhcpServerTest, PlainBootpRequestGetsNoReply)
{
    Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover);
    m[236] = 0;
    EXPECT_FALSE(Answer(m));
}

TEST_F(DhcpServerTest, DroppedDatagramLeavesNoTrace)
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt);
    m[240] = 53;
    m[241] = 2;
    m[242] = 1;
    m[243] = 1;
    m[244] = 255;
    EXPECT_FALSE(Answer(m));
    Bytes shortOne = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover);
    shortOne.resize(235);
    EXPECT_FALSE(Answer(shortOne));
    EXPECT_EQ(trace, "");
}

TEST_F(DhcpServerTest, LongHardwareAddressIsEchoedAsSixBytesOnly)
{
    Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover);
    m[2] = 16;
    for (std::size_t i = 34; i < 44; ++i)
        m[i] = 0xA5;
    ASSERT_TRUE(Answer(m));
    EXPECT_EQ(server->Reply().wire[2], 16) << "hlen echoed";
    EXPECT_EQ(ReplyBytes(28, 16), std::string("\x00\x30\x11\x22\x33\x44", 6) + std::string(10, '\0'));
}

TEST_F(DhcpServerTest, OpAndHtypeAreNotChecked)
{
    Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover);
    m[0] = 2;
    m[1] = 6;
    ASSERT_TRUE(Answer(m));
    EXPECT_EQ(server->Reply().wire[0], 2);
    EXPECT_EQ(server->Reply().wire[1], 6);
}

TEST_F(DhcpServerTest, ReplyEchoesXidOnlyAndZeroesTheRest)
{
    Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpRequest, Address{10, 200, 1, 68});
    const std::uint8_t xid[] = {0x00, 0xFF, 0x80, 0x01};
    std::memcpy(&m[4], xid, 4);
    ASSERT_TRUE(Answer(m));
    EXPECT_EQ(ReplyBytes(4, 4), std::string(reinterpret_cast<const char*>(xid), 4)) << "xid";
    EXPECT_EQ(server->Reply().wire[3], 0) << "hops";
    EXPECT_EQ(ReplyBytes(8, 2), std::string(2, '\0')) << "secs";
    EXPECT_EQ(ReplyBytes(10, 2), std::string(2, '\0')) << "flags";
    EXPECT_EQ(ReplyBytes(12, 4), std::string(4, '\0')) << "ciaddr";
    EXPECT_EQ(ReplyBytes(20, 4), std::string(4, '\0')) << "siaddr";
    EXPECT_EQ(ReplyBytes(24, 4), std::string(4, '\0')) << "giaddr";
    EXPECT_EQ(ReplyBytes(44, 192), std::string(192, '\0')) << "sname, file";
}

struct AddressCase {
    const char* name;
    Mac mac;
    Address offered;
    const char* offerLine;
    const char* ackLine;
};

class DhcpServerAddressTest : public DhcpServerTest, public ::testing::WithParamInterface<AddressCase> { };

// Regression for the last two rows: a MAC ending in 00 or FF was offered
// the subnet's network or broadcast address, which no host may use.
TEST_P(DhcpServerAddressTest, OffersTenTwoHundredOneAndAUsableHostNumber)
{
    const std::string offered(reinterpret_cast<const char*>(GetParam().offered.data()), 4);
    ASSERT_TRUE(Answer(MakeRequest(GetParam().mac, CDhcpMessage::kDhcpDiscover)));
    EXPECT_EQ(ReplyBytes(16, 4), offered);
    ASSERT_TRUE(Answer(MakeRequest(GetParam().mac, CDhcpMessage::kDhcpRequest, GetParam().offered)));
    EXPECT_EQ(ReplyType(), CDhcpMessage::kDhcpAck);
    EXPECT_EQ(ReplyBytes(16, 4), offered);
    EXPECT_NE(trace.find(GetParam().offerLine), std::string::npos) << trace;
    EXPECT_NE(trace.find(GetParam().ackLine), std::string::npos) << trace;
}

INSTANTIATE_TEST_SUITE_P(Macs, DhcpServerAddressTest,
    ::testing::Values(AddressCase{"Ends44", Mac{0x00, 0x30, 0x11, 0x22, 0x33, 0x44}, Address{10, 200, 1, 68},
                          "[SEND] DHCP_OFFER.\n\n", "[SEND] DHCP_ACK 10.200.1.68\n\n"},
        AddressCase{"OtherModuleEnds44", Mac{0x00, 0x30, 0x11, 0xAA, 0xBB, 0x44}, Address{10, 200, 1, 68},
            "[SEND] DHCP_OFFER.\n\n", "[SEND] DHCP_ACK 10.200.1.68\n\n"},
        AddressCase{"Ends00", Mac{0x00, 0x30, 0x11, 0x01, 0x02, 0x00}, Address{10, 200, 1, 1},
            "[SEND] DHCP_OFFER. 10.200.1.1 in place of 10.200.1.0, the subnet's network address\n\n",
            "[SEND] DHCP_ACK 10.200.1.1 in place of 10.200.1.0, the subnet's network address\n\n"},
        AddressCase{"EndsFF", Mac{0x00, 0x30, 0x11, 0x01, 0x02, 0xFF}, Address{10, 200, 1, 254},
            "[SEND] DHCP_OFFER. 10.200.1.254 in place of 10.200.1.255, the subnet's broadcast address\n\n",
            "[SEND] DHCP_ACK 10.200.1.254 in place of 10.200.1.255, the subnet's broadcast address\n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr Address kThisComputer = {192, 168, 7, 1};

constexpr std::uint32_t HostOrder(const Address& a)
{
    return std::uint32_t{a[0]} << 24 | std::uint32_t{a[1]} << 16 | std::uint32_t{a[2]} << 8 | a[3];
}

struct ServerIdCase {
    const char* name;
    Mac mac;
    std::optional<Address> serverId;
    bool answered;
};

class DhcpServerServerIdTest : public DhcpServerTest, public ::testing::WithParamInterface<ServerIdCase> { };

// Regression for the "OtherServer" rows: a REQUEST meant for the site's own
// DHCP server was refused with a NAK, breaking that client's DHCP.
TEST_P(DhcpServerServerIdTest, AnswersOnlyRequestsThatMayBeForThisServer)
{
    server->SetLocalAddressTest([](std::uint32_t address) { return address == HostOrder(kThisComputer); });
    const bool answered = Answer(MakeRequest(GetParam().mac, CDhcpMessage::kDhcpRequest, kOfferedForSupportedMac,
        kClientMessageLength, GetParam().serverId));
    EXPECT_EQ(answered, GetParam().answered);
    if (answered)
        EXPECT_EQ(ReplyType(), CDhcpMessage::kDhcpAck);
    else
        EXPECT_EQ(trace, "");
}

INSTANTIATE_TEST_SUITE_P(ServerIds, DhcpServerServerIdTest,
    ::testing::Values(ServerIdCase{"None", kSupportedMac, std::nullopt, true},
        ServerIdCase{"Unspecified", kSupportedMac, Address{0, 0, 0, 0}, true},
        ServerIdCase{"ThisComputer", kSupportedMac, kThisComputer, true},
        ServerIdCase{"OtherServer", kSupportedMac, Address{192, 168, 7, 2}, false},
        ServerIdCase{"OtherServerUnsupportedMac", Mac{0x00, 0x30, 0x12, 0, 0, 1}, Address{192, 168, 7, 2}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Without a stand-in the server asks the system which addresses are its own.
TEST_F(DhcpServerTest, ComputerOwnAddressesComeFromTheSystem)
{
    const auto request = [](const Address& serverId) {
        return MakeRequest(kSupportedMac, CDhcpMessage::kDhcpRequest, std::nullopt, kClientMessageLength, serverId);
    };
    EXPECT_TRUE(Answer(request(Address{127, 0, 0, 1})));
    EXPECT_FALSE(Answer(request(Address{192, 0, 2, 1}))); // documentation range, assigned nowhere
}

TEST_F(DhcpServerTest, LogCutsOverlongLinesWithinItsBuffer)
{
    const std::string longText(5000, 'x');
    server->Log("%s", longText.c_str());
    EXPECT_EQ(trace, std::string(CDhcpServer::kTraceLineSize - 1, 'x'));
}

TEST_F(DhcpServerTest, WithoutSinkTheTraceIsDiscarded)
{
    server->SetTraceSink(nullptr);
    EXPECT_TRUE(Answer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)));
    EXPECT_EQ(trace, "");
}

TEST_F(DhcpServerTest, PollWithoutSocketFindsNothing)
{
    EXPECT_FALSE(server->IsOpen());
    EXPECT_EQ(server->Poll(), 0);
}

} // namespace
