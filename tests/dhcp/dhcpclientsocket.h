#ifndef TESTS_DHCP_DHCPCLIENTSOCKET_H
#define TESTS_DHCP_DHCPCLIENTSOCKET_H

// What the DHCP tests (and the two-network test) share: a client message
// built the way a module's DHCP client sends it, a shell runner, and the
// client side of the socket tests, a socket on the
// client port in the same (isolated) namespace as the server. Linux loops a
// limited broadcast back to local sockets, so replies to 255.255.255.255:68
// arrive here.

#include "dhcp/dhcpserver.h"
#include "platform/udpsocket.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dhcptest {

using Mac = std::array<std::uint8_t, 6>;
using Address = std::array<std::uint8_t, 4>;
using Bytes = std::vector<std::uint8_t>;

inline constexpr Mac kSupportedMac = {0x00, 0x30, 0x11, 0x22, 0x33, 0x44};
inline constexpr std::size_t kClientMessageLength = 300;
constexpr auto kReplyWait = std::chrono::seconds(2);
constexpr auto kWaitStep = std::chrono::milliseconds(5);

// A request with non-zero hops, secs, flags (broadcast), ciaddr, siaddr,
// giaddr, sname and file, so that a reply that echoes them shows. Options:
// 53 (when given), 50 (when given), 54 (when given), 55 (skipped by the
// server), 255; zero padding up to `length`.
inline Bytes MakeRequest(const Mac& mac, std::optional<std::uint8_t> messageType,
    std::optional<Address> requestedIp = std::nullopt, std::size_t length = kClientMessageLength,
    std::optional<Address> serverId = std::nullopt)
{
    Bytes m(length, 0);
    const std::uint8_t fixed[] = {
        1, 1, 6, 3, 0xDE, 0xAD, 0xBE, 0xEF, 0, 42, 0x80, 0, 192, 168, 0, 9, 0, 0, 0, 0, 192, 168, 0, 1, 172, 16, 0, 1};
    std::memcpy(m.data(), fixed, sizeof fixed);
    std::memcpy(&m[28], mac.data(), mac.size());
    m[44] = 's'; // sname, not terminated on purpose
    m[108] = 'f';
    std::size_t at = 236;
    const auto put = [&](std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t b : bytes)
            m[at++] = b;
    };
    const auto putAddress = [&](std::uint8_t code, const Address& a) { put({code, 4, a[0], a[1], a[2], a[3]}); };
    put({99, 130, 83, 99});
    if (messageType)
        put({53, 1, *messageType});
    if (requestedIp)
        putAddress(50, *requestedIp);
    if (serverId)
        putAddress(54, *serverId);
    put({55, 3, 1, 3, 6, 255});
    return m;
}

// An environment variable, empty when unset.
inline std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Standard output and error of a shell command.
inline std::string RunShell(const std::string& command)
{
    std::string output;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char chunk[256];
    while (pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr)
        output += chunk;
    if (pipe != nullptr)
        ::pclose(pipe);
    return output;
}

// The server broadcasts its replies: outside the namespaces made by
// scripts/isolated-net they would leave through the machine's own network.
inline bool InIsolatedNetwork()
{
    const char* isolated = std::getenv("SORVINDA_ISOLATED");
    return isolated != nullptr && std::strcmp(isolated, "1") == 0;
}

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
                lastSender_ = r.senderAddress;
                buffer.resize(r.length);
                return buffer;
            }
            std::this_thread::sleep_for(kWaitStep);
        } while (std::chrono::steady_clock::now() < deadline);
        return std::nullopt;
    }

    // The source address of the last reply received (host order).
    std::uint32_t LastSender() const { return lastSender_; }

private:
    platform::UdpSocket socket_;
    std::uint32_t lastSender_ = 0;
};

// True when nothing else holds the server port: the way to see from outside
// that the server's socket is closed.
inline bool ServerPortIsFree()
{
    platform::UdpSocket probe;
    return probe.open() && probe.bind(CDhcpServer::kServerPort);
}

} // namespace dhcptest

#endif
