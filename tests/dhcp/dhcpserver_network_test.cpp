// CDhcpServer over a real socket on port 67 (isolated namespaces only).

#include "dhcp/dhcpserver.h"
#include "tests/dhcp/dhcpclientsocket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

namespace {

using namespace dhcptest;

class DhcpServerNetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
        ASSERT_TRUE(client.Open());
        ASSERT_TRUE(server->Init()) << "errno " << server->LastError();
    }

    void TearDown() override { server->Close(); }

    std::unique_ptr<CDhcpServer> server = std::make_unique<CDhcpServer>();
    DhcpClientSocket client;
};

TEST_F(DhcpServerNetworkTest, DiscoverIsAnsweredWithA300ByteBroadcastOffer)
{
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)));
    ASSERT_TRUE(PollUntilAnswered(*server));
    const auto reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->size(), CDhcpMessage::kReplyLength);
    EXPECT_EQ(Bytes(reply->begin() + 16, reply->begin() + 20), Bytes({10, 200, 1, 68}));
    EXPECT_EQ((*reply)[242], CDhcpMessage::kDhcpOffer);
}

TEST_F(DhcpServerNetworkTest, NothingWaitingMeansZero)
{
    EXPECT_EQ(server->Poll(), 0);
}

TEST_F(DhcpServerNetworkTest, UnsupportedMacIsNotAnswered)
{
    ASSERT_TRUE(client.SendToServer(MakeRequest(Mac{0x00, 0x30, 0x12, 0, 0, 1}, CDhcpMessage::kDhcpDiscover)));
    EXPECT_FALSE(PollUntilAnswered(*server, std::chrono::milliseconds(300)));
    EXPECT_FALSE(client.Receive(std::chrono::milliseconds(100)).has_value());
}

// Regression: recvfrom cuts a longer datagram silently to the buffer; such a
// datagram must be dropped whole, and must not block the ones behind it.
TEST_F(DhcpServerNetworkTest, DatagramLongerThanTheBufferIsDroppedWhole)
{
    Bytes tooLong =
        MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover, std::nullopt, CDhcpMessage::kWireBufferSize + 1);
    ASSERT_TRUE(client.SendToServer(tooLong));
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpRequest)));
    ASSERT_TRUE(PollUntilAnswered(*server));
    const auto reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ((*reply)[242], CDhcpMessage::kDhcpAck) << "the first reply answers the second datagram";
    EXPECT_FALSE(client.Receive(std::chrono::milliseconds(100)).has_value());
}

TEST_F(DhcpServerNetworkTest, DatagramOfExactlyTheBufferSizeIsAnswered)
{
    ASSERT_TRUE(client.SendToServer(
        MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover, std::nullopt, CDhcpMessage::kWireBufferSize)));
    EXPECT_TRUE(PollUntilAnswered(*server));
}

// Regression: an empty datagram must be consumed, not left at the head of
// the queue where a "bytes waiting" query would report nothing for ever.
TEST_F(DhcpServerNetworkTest, EmptyDatagramDoesNotJamTheQueue)
{
    ASSERT_TRUE(client.SendToServer(Bytes{}));
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)));
    EXPECT_TRUE(PollUntilAnswered(*server));
}

TEST_F(DhcpServerNetworkTest, ClosedServerReadsNothingAndFreesThePort)
{
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)));
    EXPECT_TRUE(server->Close());
    EXPECT_FALSE(server->IsOpen());
    EXPECT_EQ(server->Poll(), 0);
    EXPECT_TRUE(ServerPortIsFree());
}

TEST_F(DhcpServerNetworkTest, InitAgainOpensAFreshSocket)
{
    server->Close();
    ASSERT_TRUE(server->Init());
    ASSERT_TRUE(client.SendToServer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)));
    EXPECT_TRUE(PollUntilAnswered(*server));
}

TEST(DhcpServerPortTest, InitFailsWhileAnotherSocketHoldsPort67)
{
    ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
    platform::UdpSocket holder;
    ASSERT_TRUE(holder.open() && holder.bind(CDhcpServer::kServerPort));
    CDhcpServer server;
    EXPECT_FALSE(server.Init());
    EXPECT_EQ(server.LastError(), EADDRINUSE);
    EXPECT_FALSE(server.IsOpen()) << "a half-made socket is closed at once";
    EXPECT_EQ(server.Poll(), 0);
    holder.close();
    EXPECT_TRUE(server.Init()) << "the port is free again";
}

} // namespace
