#ifndef DHCP_DHCPSERVER_H
#define DHCP_DHCPSERVER_H

#include "dhcp/dhcpmessage.h"
#include "platform/udpsocket.h"
#include "platform/wakeup.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

// The recovery DHCP server: stateless, it answers only modules whose MAC
// address begins with 00-30-11 and always offers them 10.200.1.x, x being
// the MAC address's last byte. Every reply is a 300-byte broadcast to
// 255.255.255.255 port 68, whatever the request's flags or relay say, sent
// out of the adapter the request came in on only (a limited broadcast
// would otherwise leave through the default route's adapter, which on a
// laptop is rarely the cable to the modules).
//
// Threads: Init and Close run on the thread that starts and stops the
// server, Poll on the worker; the two never overlap (the worker is joined
// before Close). The trace sink is set before the worker starts.
class CDhcpServer {
public:
    static constexpr std::uint16_t kServerPort = 67;
    static constexpr std::uint16_t kClientPort = 68;
    static constexpr std::uint8_t kSupportedMacPrefix[3] = {0x00, 0x30, 0x11};
    // The offered address is these three bytes and the MAC's last byte.
    static constexpr std::uint8_t kOfferedNetwork[3] = {10, 200, 1};
    static constexpr std::uint8_t kOfferedSubnetMask[4] = {255, 255, 255, 0};
    static constexpr std::size_t kMacLastByte = 5;
    // One formatted trace line; longer lines are cut, never overflow.
    static constexpr std::size_t kTraceLineSize = 1024;

    // Receives every formatted trace line (or piece of one: a REQUEST line
    // is written in two calls). Without a sink the trace is discarded.
    using TraceSink = std::function<void(const char* text)>;

    CDhcpServer() = default;
    virtual ~CDhcpServer() = default;
    CDhcpServer(const CDhcpServer&) = delete;
    CDhcpServer& operator=(const CDhcpServer&) = delete;

    // Opens a fresh UDP socket bound to port 67 on all local addresses,
    // broadcast allowed, non-blocking, each request tagged with the adapter
    // it arrived on. On failure no socket stays open and
    // LastError() tells why (EACCES without the right to bind port 67,
    // EADDRINUSE when another DHCP server holds it).
    bool Init();
    // Closes the socket; harmless when none is open.
    bool Close();
    // Handles at most one waiting datagram: 1 when a reply was sent; 0 when
    // nothing waited, there is no socket, the datagram was dropped (also one
    // longer than the 2048-byte buffer) or sending failed.
    int Poll();
    // Blocks until a datagram waits for Poll, `wakeup` is signalled or
    // `timeout` passes (negative: no end). Without a socket only the
    // wake-up and the timeout end it. True when a datagram waits.
    bool WaitForRequest(const platform::Wakeup& wakeup, std::chrono::milliseconds timeout);

    // The datagram in Request().wire, Request().Length bytes long, is parsed
    // and, when it deserves an answer, the reply is built into Reply().
    // Returns true when that reply is to be sent. Only a DISCOVER or a
    // REQUEST from a supported MAC is answered.
    bool ProcessRequest();

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetTraceSink(TraceSink sink) { m_TraceSink = std::move(sink); }

    CDhcpMessage& Request() { return m_Request; }
    const CDhcpMessage& Reply() const { return m_Reply; }
    bool IsOpen() const { return m_Socket.isOpen(); }
    // errno of the socket's last failed call.
    int LastError() const { return m_Socket.lastError(); }

private:
    static bool IsSupportedMac(const std::uint8_t* chaddr);
    void PrepareReply();
    bool ChooseReplyType();

    CDhcpMessage m_Reply;
    CDhcpMessage m_Request;
    platform::UdpSocket m_Socket;
    TraceSink m_TraceSink;
};

#endif
