// platform::UdpSocket over the loopback interface. Runs in an isolated
// network namespace (NETWORK test), so nothing leaves the machine.
#include "platform/udpsocket.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::UdpSocket;
using Status = UdpSocket::ReceiveStatus;
using namespace std::chrono_literals;

constexpr std::size_t kCapacity = 16;
constexpr auto kReceiveDeadline = 2s;

class UdpSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(receiver.open());
        ASSERT_TRUE(receiver.bind(0, UdpSocket::kLoopbackAddress));
        ASSERT_TRUE(receiver.setNonBlocking());
        port = receiver.localPort();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(sender.open());
    }

    void send(const std::string& bytes)
    {
        ASSERT_TRUE(sender.sendTo(UdpSocket::kLoopbackAddress, port, bytes.data(), bytes.size()));
    }

    // Bounded wait for the next datagram (or non-WouldBlock status).
    UdpSocket::ReceiveResult receive(void* buffer, std::size_t capacity)
    {
        const auto deadline = std::chrono::steady_clock::now() + kReceiveDeadline;
        for (;;) {
            auto result = receiver.receiveFrom(buffer, capacity);
            if (result.status != Status::WouldBlock || std::chrono::steady_clock::now() > deadline)
                return result;
            std::this_thread::sleep_for(1ms);
        }
    }

    UdpSocket receiver;
    UdpSocket sender;
    std::uint16_t port = 0;
};

TEST_F(UdpSocketTest, EmptyNonBlockingSocketWouldBlock)
{
    std::array<char, kCapacity> buffer{};
    EXPECT_EQ(receiver.receiveFrom(buffer.data(), buffer.size()).status, Status::WouldBlock);
}

TEST_F(UdpSocketTest, DatagramArrivesWholeWithSender)
{
    send("hello");
    std::array<char, kCapacity> buffer{};
    const auto result = receive(buffer.data(), buffer.size());
    ASSERT_EQ(result.status, Status::Received);
    EXPECT_EQ(std::string(buffer.data(), result.length), "hello");
    EXPECT_EQ(result.senderAddress, UdpSocket::kLoopbackAddress);
    EXPECT_EQ(result.senderPort, sender.localPort());
}

TEST_F(UdpSocketTest, ReceiveLengthsAroundCapacity)
{
    struct Case {
        std::size_t length;
        Status status;
    };
    const Case cases[] = {
        {0, Status::Received},
        {1, Status::Received},
        {kCapacity - 1, Status::Received},
        {kCapacity, Status::Received},
        {kCapacity + 1, Status::Truncated},
        {1500, Status::Truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        send(std::string(c.length, 'x'));
        std::array<char, kCapacity + 1> buffer{};
        buffer[kCapacity] = '#';
        const auto result = receive(buffer.data(), kCapacity);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.length, c.length) << "the real length is reported, also when cut";
        EXPECT_EQ(buffer[kCapacity], '#') << "nothing written past the capacity";
    }
}

TEST_F(UdpSocketTest, TruncatedDatagramIsConsumedAndNextOneFollows)
{
    send(std::string(kCapacity + 10, 'x'));
    send("next");
    std::array<char, kCapacity> buffer{};
    EXPECT_EQ(receive(buffer.data(), buffer.size()).status, Status::Truncated);
    const auto result = receive(buffer.data(), buffer.size());
    ASSERT_EQ(result.status, Status::Received);
    EXPECT_EQ(std::string(buffer.data(), result.length), "next");
}

TEST_F(UdpSocketTest, OptionsOnOpenSocket)
{
    EXPECT_TRUE(sender.enableBroadcast());
    EXPECT_TRUE(sender.enableAddressReuse());
    constexpr int kRequested = 1 << 20;
    EXPECT_TRUE(sender.setReceiveBufferSize(kRequested));
    EXPECT_GT(sender.receiveBufferSize(), 0);
}

TEST_F(UdpSocketTest, SecondBindOfSamePortFails)
{
    UdpSocket other;
    ASSERT_TRUE(other.open());
    EXPECT_FALSE(other.bind(port, UdpSocket::kLoopbackAddress));
    EXPECT_NE(other.lastError(), 0);
}

TEST(UdpSocketLifetime, OperationsOnClosedSocketFail)
{
    UdpSocket socket;
    EXPECT_FALSE(socket.isOpen());
    std::array<char, kCapacity> buffer{};
    EXPECT_FALSE(socket.enableBroadcast());
    EXPECT_FALSE(socket.bind(0));
    EXPECT_FALSE(socket.setNonBlocking());
    EXPECT_FALSE(socket.sendTo(UdpSocket::kLoopbackAddress, 9, "x", 1));
    EXPECT_EQ(socket.receiveFrom(buffer.data(), buffer.size()).status, Status::Error);
    EXPECT_EQ(socket.receiveBufferSize(), -1);
}

TEST(UdpSocketLifetime, MoveTransfersOwnershipAndCloseIsIdempotent)
{
    UdpSocket first;
    ASSERT_TRUE(first.open());
    UdpSocket second(std::move(first));
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(second.isOpen());
    UdpSocket third;
    third = std::move(second);
    EXPECT_TRUE(third.isOpen());
    third.close();
    third.close();
    EXPECT_FALSE(third.isOpen());
}

} // namespace
