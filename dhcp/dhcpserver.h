#ifndef DHCP_DHCPSERVER_H
#define DHCP_DHCPSERVER_H

#include "dhcp/dhcpmessage.h"
#include "platform/localaddress.h"
#include "platform/networkadapters.h"
#include "platform/udpsocket.h"
#include "platform/wakeup.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The recovery DHCP server: stateless, it answers only modules whose MAC
// address begins with 00-30-11 and always offers them 10.200.1.x, x being
// the MAC address's last byte; a last byte of 00 or FF, which would give the
// subnet's network or broadcast address, gets 10.200.1.1 or 10.200.1.254.
// Every reply is a 300-byte broadcast to 255.255.255.255 port 68, whatever
// the request's flags or relay say, sent out of the adapter the request
// came in on only (a limited broadcast would otherwise leave through the
// default route's adapter, which on a laptop is rarely the cable to the
// modules). A REQUEST whose server identifier names another computer is
// left to that server.
//
// Every reply names this server (option 54, the address of the adapter the
// request came in on, which is also the reply's source address), and an
// OFFER or ACK gives a lease time (option 51): RFC 2131 requires both, and
// strict clients refuse an offer without them. Both follow the mask option,
// so the first bytes of the options area are the same in every reply.
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
    // Host numbers of 10.200.1.0/24 that no host may use, and the nearest
    // usable ones offered in their place.
    static constexpr std::uint8_t kNetworkHostNumber = 0x00;
    static constexpr std::uint8_t kBroadcastHostNumber = 0xFF;
    static constexpr std::uint8_t kNetworkSubstitute = 1;
    static constexpr std::uint8_t kBroadcastSubstitute = 254;
    // One formatted trace line; longer lines are cut, never overflow.
    static constexpr std::size_t kTraceLineSize = 1024;
    // Lease time of an OFFER and an ACK, in seconds: one day. The address is
    // needed only until the technician sets the module static, yet the
    // lease must outlast a working day without the server: a client renews
    // at half the lease time, so a module served in the morning keeps its
    // address all day, also after the server is switched off. A module left
    // on DHCP gives the recovery address up within a day when no recovery
    // server answers. Shorter than 2^31 ms, which some embedded stacks'
    // timers cannot hold, and finite, unlike 0xFFFFFFFF, which would keep a
    // forgotten module on 10.200.1.x for good.
    static constexpr std::uint32_t kLeaseTimeSeconds = 24 * 60 * 60;
    // No adapter has this index: the request's adapter is unknown.
    static constexpr unsigned kUnknownAdapter = 0;

    // Receives every formatted trace line (or piece of one: a REQUEST line
    // is written in two calls). Without a sink the trace is discarded.
    using TraceSink = std::function<void(const char* text)>;
    // Whether an IPv4 address (host order) is this computer's own.
    using LocalAddressTest = std::function<bool(std::uint32_t address)>;
    // The IPv4 address (host order) this server has on an adapter, given by
    // index; empty when the adapter has none.
    using AdapterAddressLookup = std::function<std::optional<std::uint32_t>(unsigned adapterIndex)>;

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
    // REQUEST from a supported MAC is answered, and a REQUEST only when its
    // server identifier is absent, 0.0.0.0 or an address of this computer.
    // The reply's server identifier is the address of the adapter the
    // datagram came in on; a reply goes without one only when that adapter
    // is unknown or has no IPv4 address.
    bool ProcessRequest(unsigned adapterIndex = kUnknownAdapter);

    // The host number offered to a MAC whose last byte is macLastByte.
    static std::uint8_t OfferedHostNumber(std::uint8_t macLastByte);
    // This server's address on the adapter with this index, as the system
    // lists it now (one listing of the adapters per reply, so an address
    // changed while the server runs counts at once).
    static std::optional<std::uint32_t> AddressOfAdapter(unsigned adapterIndex);
    // The choice itself, over given records: the adapter's address inside
    // the offered network 10.200.1.0/24 when it has one (a module renews its
    // lease by unicast to the identifier, and reaches that address without
    // a router), otherwise its first IPv4 address; empty when it has none.
    static std::optional<std::uint32_t> ChooseAdapterAddress(
        const std::vector<platform::InterfaceRecord>& records, unsigned adapterIndex);

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetTraceSink(TraceSink sink) { m_TraceSink = std::move(sink); }
    // Replaces the look-up of this computer's addresses (tests); set before
    // the worker starts, like the trace sink.
    void SetLocalAddressTest(LocalAddressTest test) { m_IsLocalAddress = std::move(test); }
    // Replaces the look-up of the adapters' addresses (tests); set before
    // the worker starts.
    void SetAdapterAddressLookup(AdapterAddressLookup lookup) { m_AdapterAddress = std::move(lookup); }

    CDhcpMessage& Request() { return m_Request; }
    const CDhcpMessage& Reply() const { return m_Reply; }
    bool IsOpen() const { return m_Socket.isOpen(); }
    // errno of the socket's last failed call.
    int LastError() const { return m_Socket.lastError(); }

private:
    static bool IsSupportedMac(const std::uint8_t* chaddr);
    bool IsRequestForAnotherServer() const;
    void PrepareReply(unsigned adapterIndex);
    bool ChooseReplyType();
    std::string SubstitutionNote() const;

    CDhcpMessage m_Reply;
    CDhcpMessage m_Request;
    platform::UdpSocket m_Socket;
    TraceSink m_TraceSink;
    LocalAddressTest m_IsLocalAddress = platform::isLocalAddress;
    AdapterAddressLookup m_AdapterAddress = AddressOfAdapter;
};

#endif
