#ifndef TESTS_DHCP_DHCPCLIENTSOCKET_H
#define TESTS_DHCP_DHCPCLIENTSOCKET_H

// The client side of the socket tests: a socket on the DHCP client port in
// the same (isolated) namespace as the server. Linux loops a limited
// broadcast back to local sockets, so the server's replies to
// 255.255.255.255:68 arrive here.

#include "dhcp/dhcpserver.h"
#include "platform/udpsocket.h"
#include "tests/dhcp/dhcptestpackets.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace dhcptest {

// The server broadcasts its replies: outside the namespaces made by
// scripts/isolated-net they would leave through the machine's own network.
inline bool InIsolatedNetwork()
{
    const char* isolated = std::getenv("SORVINDA_ISOLATED");
    return isolated != nullptr && std::strcmp(isolated, "1") == 0;
}

constexpr auto kReplyWait = std::chrono::seconds(2);
constexpr auto kWaitStep = std::chrono::milliseconds(5);

class DhcpClientSocket {
public:
    bool Open()
    {
        return socket_.open() && socket_.enableBroadcast() && socket_.bind(CDhcpServer::kClientPort)
            && socket_.setNonBlocking();
    }

    bool SendToServer(const Bytes& datagram)
    {
        return socket_.sendTo(
            platform::UdpSocket::kLoopbackAddress, CDhcpServer::kServerPort, datagram.data(), datagram.size());
    }

    // The next reply, waiting at most `wait`; nothing when none came.
    std::optional<Bytes> Receive(std::chrono::milliseconds wait = kReplyWait)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        Bytes buffer(CDhcpMessage::kWireBufferSize);
        do {
            const auto r = socket_.receiveFrom(buffer.data(), buffer.size());
            if (r.status == platform::UdpSocket::ReceiveStatus::Received) {
                buffer.resize(r.length);
                return buffer;
            }
            std::this_thread::sleep_for(kWaitStep);
        } while (std::chrono::steady_clock::now() < deadline);
        return std::nullopt;
    }

private:
    platform::UdpSocket socket_;
};

// Calls server.Poll() until it answers, at most `wait` long; false when it
// never sent a reply.
inline bool PollUntilAnswered(CDhcpServer& server, std::chrono::milliseconds wait = kReplyWait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    do {
        if (server.Poll() == 1)
            return true;
        std::this_thread::sleep_for(kWaitStep);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// True when nothing else holds the server port: the way to see from outside
// that the server's socket is closed.
inline bool ServerPortIsFree()
{
    platform::UdpSocket probe;
    return probe.open() && probe.bind(CDhcpServer::kServerPort);
}

} // namespace dhcptest

#endif
