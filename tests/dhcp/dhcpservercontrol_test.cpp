// DhcpServerControl: switching the server on and off with its worker
// thread (isolated namespaces; also run under ThreadSanitizer).

#include "dhcp/dhcpservercontrol.h"
#include "tests/dhcp/dhcpclientsocket.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace dhcptest;
using Change = DhcpServerControl::Change;

class DhcpServerControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
        ASSERT_TRUE(client.Open());
    }

    // True when a DISCOVER sent now is answered by the worker.
    bool ServerAnswers()
    {
        if (!client.SendToServer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpDiscover)))
            return false;
        const auto reply = client.Receive();
        return reply.has_value() && reply->size() == CDhcpMessage::kReplyLength;
    }

    std::unique_ptr<DhcpServerControl> control = std::make_unique<DhcpServerControl>();
    DhcpClientSocket client;
};

TEST_F(DhcpServerControlTest, StartsStoppedAndOwnsNoSocket)
{
    EXPECT_FALSE(control->IsRunning());
    EXPECT_TRUE(ServerPortIsFree());
}

TEST_F(DhcpServerControlTest, StartStopStartAgainOpensAFreshSocketEachTime)
{
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(control->Apply(true), Change::Started) << "round " << round;
        EXPECT_TRUE(control->IsRunning());
        EXPECT_FALSE(ServerPortIsFree());
        EXPECT_TRUE(ServerAnswers()) << "round " << round;
        ASSERT_EQ(control->Apply(false), Change::Stopped) << "round " << round;
        EXPECT_FALSE(control->IsRunning());
        EXPECT_TRUE(ServerPortIsFree()) << "the socket is closed once Stop returns";
    }
}

TEST_F(DhcpServerControlTest, ApplyingTheCurrentStateChangesNothing)
{
    EXPECT_EQ(control->Apply(false), Change::None);
    EXPECT_FALSE(control->IsRunning());
    ASSERT_EQ(control->Apply(true), Change::Started);
    EXPECT_EQ(control->Apply(true), Change::None);
    EXPECT_TRUE(control->IsRunning());
    EXPECT_TRUE(ServerAnswers()) << "still the same running server";
}

TEST_F(DhcpServerControlTest, StartWhileRunningKeepsTheOneWorker)
{
    ASSERT_TRUE(control->Start());
    EXPECT_TRUE(control->Start());
    EXPECT_TRUE(ServerAnswers());
    control->Stop();
    EXPECT_TRUE(ServerPortIsFree());
}

// A failed start still marks the server running (so the dialog shows the
// box checked); the worker idles without socket until the ordinary stop.
TEST_F(DhcpServerControlTest, PortHeldElsewhereGivesStartFailedThenStopsCleanly)
{
    auto holder = std::make_unique<platform::UdpSocket>();
    ASSERT_TRUE(holder->open() && holder->bind(CDhcpServer::kServerPort));
    EXPECT_EQ(control->Apply(true), Change::StartFailed);
    EXPECT_TRUE(control->IsRunning());
    EXPECT_FALSE(control->Server().IsOpen());
    EXPECT_EQ(control->Apply(false), Change::Stopped);
    EXPECT_FALSE(control->IsRunning());

    holder.reset();
    EXPECT_EQ(control->Apply(true), Change::Started) << "the port is free again";
    EXPECT_TRUE(ServerAnswers());
}

TEST_F(DhcpServerControlTest, DestroyingARunningControlStopsTheServer)
{
    ASSERT_EQ(control->Apply(true), Change::Started);
    control.reset();
    EXPECT_TRUE(ServerPortIsFree());
}

TEST_F(DhcpServerControlTest, TraceReachesTheSinkFromTheWorker)
{
    std::string trace;
    control->Server().SetTraceSink([&trace](const char* text) { trace += text; });
    ASSERT_TRUE(control->Start());
    ASSERT_TRUE(ServerAnswers());
    control->Stop(); // joins the worker: `trace` is complete and no longer written
    EXPECT_EQ(trace, "[RECV] DHCP_DISCOVER\n[SEND] DHCP_OFFER.\n\n");
}

} // namespace
