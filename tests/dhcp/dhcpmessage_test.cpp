// CDhcpMessage: parsing received datagrams and building replies.

#include "dhcp/dhcpmessage.h"
#include "tests/dhcp/dhcptestpackets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using namespace dhcptest;

// A request carrying every option the server reads, a pad and an unknown
// option; the end offset of each option is what the truncation test needs.
Bytes FullOptionRequest()
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt, std::nullopt);
    const std::uint8_t options[] = {
        53, 1, 3,                // 240: message type REQUEST, ends at 243
        0,                       // 243: pad
        50, 4, 10, 200, 1, 0x44, // 244: requested IP, ends at 250
        54, 4, 10, 213, 0, 1,    // 250: server identifier, ends at 256
        1, 4, 255, 255, 0, 0,    // 256: subnet mask, ends at 262
        55, 3, 1, 3, 6,          // 262: parameter request list, ends at 267
        255,                     // 267: end
    };
    std::fill(m.begin() + 240, m.end(), 0);
    std::memcpy(&m[240], options, sizeof options);
    return m;
}

constexpr std::size_t kMsgTypeEnd = 243;
constexpr std::size_t kRequestedIpEnd = 250;
constexpr std::size_t kServerIdEnd = 256;
constexpr std::size_t kSubnetMaskEnd = 262;

class DhcpMessageTest : public ::testing::Test {
protected:
    // The record is large (over 2 KiB of buffers): keep it off the stack
    // frames of the test bodies.
    std::unique_ptr<CDhcpMessage> message = std::make_unique<CDhcpMessage>();
};

TEST_F(DhcpMessageTest, NewRecordIsAllZero)
{
    EXPECT_EQ(message->Length, 0);
    EXPECT_EQ(message->OptionsLength, 0);
    EXPECT_EQ(message->MsgTypeValid, 0);
    EXPECT_EQ(message->SubnetMaskValid, 0);
    EXPECT_EQ(message->ServerIdValid, 0);
    EXPECT_EQ(message->RequestedIpValid, 0);
    for (std::uint8_t b : message->wire)
        ASSERT_EQ(b, 0);
}

TEST_F(DhcpMessageTest, ParseCopiesFixedFieldsFromTheirOffsets)
{
    Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover);
    m[16] = 1;
    m[17] = 2;
    m[18] = 3;
    m[19] = 4; // yiaddr
    Load(*message, m);
    ASSERT_TRUE(message->Parse());

    EXPECT_EQ(message->op, 1);
    EXPECT_EQ(message->htype, 1);
    EXPECT_EQ(message->hlen, 6);
    EXPECT_EQ(message->hops, 3);
    EXPECT_EQ(0, std::memcmp(message->xid, kXid.data(), 4));
    EXPECT_EQ(message->secs[0], 0x00);
    EXPECT_EQ(message->secs[1], 0x2A);
    const std::uint8_t ciaddr[] = {192, 168, 0, 9}, yiaddr[] = {1, 2, 3, 4};
    const std::uint8_t siaddr[] = {192, 168, 0, 1}, giaddr[] = {172, 16, 0, 1};
    EXPECT_EQ(0, std::memcmp(message->ciaddr, ciaddr, 4));
    EXPECT_EQ(0, std::memcmp(message->yiaddr, yiaddr, 4));
    EXPECT_EQ(0, std::memcmp(message->siaddr, siaddr, 4));
    EXPECT_EQ(0, std::memcmp(message->giaddr, giaddr, 4));
    EXPECT_EQ(0, std::memcmp(message->chaddr, kSupportedMac.data(), 6));
    EXPECT_EQ(message->sname[0], 's');
    EXPECT_EQ(message->file[0], 'f');
    EXPECT_EQ(message->Length, 300);
    EXPECT_EQ(message->OptionsLength, 64);
    EXPECT_EQ(0, std::memcmp(message->options, &m[236], 64));
    EXPECT_EQ(message->MsgTypeValid, 1);
    EXPECT_EQ(message->MsgType, CDhcpMessage::kDhcpDiscover);
}

TEST_F(DhcpMessageTest, ParseReadsTheFourUnderstoodOptions)
{
    Load(*message, FullOptionRequest());
    ASSERT_TRUE(message->Parse());
    const std::uint8_t requested[] = {10, 200, 1, 0x44}, server[] = {10, 213, 0, 1}, mask[] = {255, 255, 0, 0};
    EXPECT_EQ(message->MsgTypeValid, 1);
    EXPECT_EQ(message->MsgType, CDhcpMessage::kDhcpRequest);
    EXPECT_EQ(message->RequestedIpValid, 1);
    EXPECT_EQ(0, std::memcmp(message->RequestedIp, requested, 4));
    EXPECT_EQ(message->ServerIdValid, 1);
    EXPECT_EQ(0, std::memcmp(message->ServerId, server, 4));
    EXPECT_EQ(message->SubnetMaskValid, 1);
    EXPECT_EQ(0, std::memcmp(message->SubnetMask, mask, 4));
}

struct LengthCase {
    const char* name;
    std::int32_t length;
    bool accepted;
};

class DhcpMessageLengthTest : public DhcpMessageTest, public ::testing::WithParamInterface<LengthCase> { };

// The length comes from the receive, not from the data; nothing outside the
// 2048-byte buffer may be read whatever it says.
TEST_P(DhcpMessageLengthTest, ParseAcceptsOnlyLengthsWithinFixedPartAndBuffer)
{
    Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover, std::nullopt, CDhcpMessage::kWireBufferSize);
    Load(*message, m, 0);
    message->Length = GetParam().length;
    EXPECT_EQ(message->Parse(), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Lengths, DhcpMessageLengthTest,
    ::testing::Values(LengthCase{"Negative", -1, false}, LengthCase{"MostNegative", INT32_MIN, false},
        LengthCase{"Empty", 0, false}, LengthCase{"OneByte", 1, false}, LengthCase{"OneShortOfFixedPart", 235, false},
        LengthCase{"FixedPartOnly", 236, true}, LengthCase{"CookieCutOff", 239, true},
        LengthCase{"WholeBuffer", 2048, true}, LengthCase{"OneOverBuffer", 2049, false},
        LengthCase{"Huge", INT32_MAX, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DhcpMessageTest, ShorterThanFirstOptionParsesWithoutOptions)
{
    for (std::int32_t length = 236; length < 240; ++length) {
        Load(*message, FullOptionRequest(), static_cast<std::size_t>(length));
        ASSERT_TRUE(message->Parse()) << "length " << length;
        EXPECT_EQ(message->OptionsLength, length - 236);
        EXPECT_EQ(message->MsgTypeValid, 0) << "length " << length;
    }
}

// Every cut of a good request: an option is seen exactly when all of its
// bytes lie inside the datagram; a cut option ends the walk, never drops
// the datagram, and bytes beyond Length (still in the buffer) are not read.
TEST_F(DhcpMessageTest, EveryTruncationOfAGoodRequestSeesOnlyWholeOptions)
{
    const Bytes full = FullOptionRequest();
    for (std::size_t length = CDhcpMessage::kFixedPartLength; length <= full.size(); ++length) {
        Load(*message, full, length);
        ASSERT_TRUE(message->Parse()) << "length " << length;
        EXPECT_EQ(message->MsgTypeValid, length >= kMsgTypeEnd ? 1 : 0) << "length " << length;
        EXPECT_EQ(message->RequestedIpValid, length >= kRequestedIpEnd ? 1 : 0) << "length " << length;
        EXPECT_EQ(message->ServerIdValid, length >= kServerIdEnd ? 1 : 0) << "length " << length;
        EXPECT_EQ(message->SubnetMaskValid, length >= kSubnetMaskEnd ? 1 : 0) << "length " << length;
    }
}

TEST_F(DhcpMessageTest, PlainBootpWithoutCookieHasNoOptions)
{
    Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover, Address{10, 200, 1, 0x44});
    m[236] = 0;
    m[237] = 0;
    m[238] = 0;
    m[239] = 0;
    Load(*message, m);
    ASSERT_TRUE(message->Parse());
    EXPECT_EQ(message->MsgTypeValid, 0);
    EXPECT_EQ(message->RequestedIpValid, 0);
}

TEST_F(DhcpMessageTest, WrongCookieByteMeansPlainBootp)
{
    for (std::size_t i = 0; i < CDhcpMessage::kCookieSize; ++i) {
        Bytes m = MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover);
        m[236 + i] ^= 0x01;
        Load(*message, m);
        ASSERT_TRUE(message->Parse()) << "cookie byte " << i;
        EXPECT_EQ(message->MsgTypeValid, 0) << "cookie byte " << i;
    }
}

struct BadOptionCase {
    const char* name;
    std::uint8_t code;
    std::uint8_t length;
};

class DhcpMessageBadOptionTest : public DhcpMessageTest, public ::testing::WithParamInterface<BadOptionCase> { };

TEST_P(DhcpMessageBadOptionTest, WrongLengthOfAnUnderstoodOptionDropsTheDatagram)
{
    // Room for the longest value, so that the option is whole, not cut off.
    Bytes m = MakeRequest(kSupportedMac, std::nullopt, std::nullopt, 600);
    std::fill(m.begin() + 240, m.end(), 0);
    m[240] = GetParam().code;
    m[241] = GetParam().length;
    m[242 + GetParam().length] = 255;
    Load(*message, m);
    EXPECT_FALSE(message->Parse());
}

INSTANTIATE_TEST_SUITE_P(Options, DhcpMessageBadOptionTest,
    ::testing::Values(BadOptionCase{"MessageTypeLength0", 53, 0}, BadOptionCase{"MessageTypeLength2", 53, 2},
        BadOptionCase{"MessageTypeLength255", 53, 255}, BadOptionCase{"SubnetMaskLength3", 1, 3},
        BadOptionCase{"SubnetMaskLength5", 1, 5}, BadOptionCase{"RequestedIpLength0", 50, 0},
        BadOptionCase{"RequestedIpLength16", 50, 16}, BadOptionCase{"ServerIdLength6", 54, 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DhcpMessageTest, UnknownOptionRunningPastTheEndEndsTheWalk)
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt);
    std::fill(m.begin() + 240, m.end(), 0);
    m[240] = 43; // vendor specific, claims 255 bytes of 58 left
    m[241] = 255;
    m[250] = 53;
    m[251] = 1;
    m[252] = 1; // inside its claimed value: not an option
    Load(*message, m);
    ASSERT_TRUE(message->Parse());
    EXPECT_EQ(message->MsgTypeValid, 0);
}

TEST_F(DhcpMessageTest, NothingAfterTheEndOptionIsRead)
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt);
    std::fill(m.begin() + 240, m.end(), 0);
    m[240] = 255;
    m[241] = 53;
    m[242] = 2;
    m[243] = 1;
    m[244] = 1; // would drop the datagram if read
    Load(*message, m);
    ASSERT_TRUE(message->Parse());
    EXPECT_EQ(message->MsgTypeValid, 0);
}

TEST_F(DhcpMessageTest, OptionsBeyondTheKeptFirst512BytesAreStillRead)
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt, std::nullopt, 1500);
    std::fill(m.begin() + 240, m.end(), 0);
    m[236 + 600] = 53;
    m[237 + 600] = 1;
    m[238 + 600] = 1;
    m[239 + 600] = 255;
    m[240] = 0xAB; // kept: within the first 512 bytes of the area
    Load(*message, m);
    ASSERT_TRUE(message->Parse());
    EXPECT_EQ(message->OptionsLength, 1500 - 236);
    EXPECT_EQ(message->options[4], 0xAB);
    // 0xAB 0x00 is an unknown option of length 0, then pads up to option 53.
    EXPECT_EQ(message->MsgTypeValid, 1);
    EXPECT_EQ(message->MsgType, CDhcpMessage::kDhcpDiscover);
}

TEST_F(DhcpMessageTest, OptionFarInALongDatagramIsFound)
{
    Bytes m = MakeRequest(kSupportedMac, std::nullopt, std::nullopt, 2048);
    std::fill(m.begin() + 240, m.end(), 0); // all pads
    m[2045] = 53;
    m[2046] = 1;
    m[2047] = 3;
    Load(*message, m);
    ASSERT_TRUE(message->Parse());
    EXPECT_EQ(message->MsgTypeValid, 1);
    EXPECT_EQ(message->MsgType, CDhcpMessage::kDhcpRequest);
}

TEST_F(DhcpMessageTest, ReparsingClearsTheOptionSlotsOfTheLastMessage)
{
    Load(*message, FullOptionRequest());
    ASSERT_TRUE(message->Parse());
    Load(*message, MakeRequest(kSupportedMac, std::nullopt));
    ASSERT_TRUE(message->Parse());
    EXPECT_EQ(message->MsgTypeValid, 0);
    EXPECT_EQ(message->RequestedIpValid, 0);
    EXPECT_EQ(message->ServerIdValid, 0);
    EXPECT_EQ(message->SubnetMaskValid, 0);
}

TEST_F(DhcpMessageTest, BuildWritesFixedPartCookieOptionsAndZeroPadding)
{
    std::memset(message->wire, 0xEE, sizeof message->wire); // a previous, longer message
    message->op = 2;
    message->htype = 1;
    message->hlen = 6;
    message->xid[0] = 0x12;
    message->secs[1] = 7;
    message->yiaddr[0] = 10;
    message->chaddr[15] = 0x99;
    message->sname[63] = 'n';
    message->file[127] = 'f';
    message->MsgTypeValid = 1;
    message->MsgType = CDhcpMessage::kDhcpAck;
    message->SubnetMaskValid = 1;
    message->SubnetMask[0] = 255;

    message->Build();

    EXPECT_EQ(message->Length, 300);
    EXPECT_EQ(message->OptionsLength, 64);
    const std::uint8_t* w = message->wire;
    EXPECT_EQ(w[0], 2);
    EXPECT_EQ(w[4], 0x12);
    EXPECT_EQ(w[9], 7);
    EXPECT_EQ(w[10], 0) << "flags";
    EXPECT_EQ(w[11], 0) << "flags";
    EXPECT_EQ(w[16], 10);
    EXPECT_EQ(w[43], 0x99);
    EXPECT_EQ(w[107], 'n');
    EXPECT_EQ(w[235], 'f');
    const std::uint8_t tail[] = {99, 130, 83, 99, 53, 1, 5, 1, 4, 255, 0, 0, 0, 255};
    EXPECT_EQ(0, std::memcmp(w + 236, tail, sizeof tail));
    for (std::size_t i = 250; i < 300; ++i)
        EXPECT_EQ(w[i], 0) << "padding at " << i;
}

TEST_F(DhcpMessageTest, BuildLeavesOutOptionsThatAreNotValid)
{
    message->Build();
    EXPECT_EQ(message->wire[240], 255);
    EXPECT_EQ(message->wire[241], 0);
}

TEST_F(DhcpMessageTest, BuiltMessageParsesBackToTheSameFields)
{
    message->op = 2;
    message->htype = 1;
    message->hlen = 6;
    std::memcpy(message->xid, kXid.data(), 4);
    std::memcpy(message->chaddr, kSupportedMac.data(), 6);
    message->MsgTypeValid = 1;
    message->MsgType = CDhcpMessage::kDhcpOffer;
    message->SubnetMaskValid = 1;
    const std::uint8_t mask[] = {255, 255, 255, 0};
    std::memcpy(message->SubnetMask, mask, 4);
    message->Build();

    auto parsed = std::make_unique<CDhcpMessage>();
    std::memcpy(parsed->wire, message->wire, 300);
    parsed->Length = message->Length;
    ASSERT_TRUE(parsed->Parse());
    EXPECT_EQ(parsed->op, 2);
    EXPECT_EQ(0, std::memcmp(parsed->xid, kXid.data(), 4));
    EXPECT_EQ(0, std::memcmp(parsed->chaddr, kSupportedMac.data(), 6));
    EXPECT_EQ(parsed->MsgType, CDhcpMessage::kDhcpOffer);
    EXPECT_EQ(parsed->SubnetMaskValid, 1);
    EXPECT_EQ(0, std::memcmp(parsed->SubnetMask, mask, 4));
    EXPECT_EQ(parsed->RequestedIpValid, 0);
}

} // namespace
