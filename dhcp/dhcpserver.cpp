#include "dhcp/dhcpserver.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr unsigned kBitsPerByte = 8;

// Four bytes in wire order to a host-order value, and back.
std::uint32_t HostOrder(const std::uint8_t (&bytes)[CDhcpMessage::kAddressSize])
{
    std::uint32_t value = 0;
    for (const std::uint8_t byte : bytes)
        value = value << kBitsPerByte | byte;
    return value;
}

void PutHostOrder(std::uint32_t value, std::uint8_t (&bytes)[CDhcpMessage::kAddressSize])
{
    for (std::size_t i = CDhcpMessage::kAddressSize; i-- > 0; value >>= kBitsPerByte)
        bytes[i] = static_cast<std::uint8_t>(value);
}

} // namespace

bool CDhcpServer::Init()
{
    // A socket that failed half-way is closed at once: nothing else would
    // ever use it, and keeping it would hold port 67 for nothing.
    const bool ready = m_Socket.open() && m_Socket.enableBroadcast()
        && m_Socket.bind(kServerPort)
        // Poll must never block: the worker tests the running flag between
        // polls, and stopping waits for it.
        && m_Socket.setNonBlocking()
        // The adapter of each request, to answer out of that one only.
        && m_Socket.enablePacketInfo();
    if (!ready)
        m_Socket.close();
    return ready;
}

bool CDhcpServer::Close()
{
    m_Socket.close();
    return true;
}

int CDhcpServer::Poll()
{
    if (!m_Socket.isOpen())
        return 0;
    // A non-blocking receive doubles as the "anything waiting?" query, and
    // unlike a byte count it also consumes an empty datagram instead of
    // leaving it at the head of the queue for ever.
    const auto received = m_Socket.receiveFrom(m_Request.wire, sizeof m_Request.wire);
    if (received.status != platform::UdpSocket::ReceiveStatus::Received)
        return 0; // nothing waiting, a receive error, or longer than the buffer
    m_Request.Length = static_cast<std::int32_t>(received.length);
    if (!ProcessRequest(received.adapterIndex))
        return 0;
    // Out of the asking adapter only (IP_PKTINFO naming it), from the
    // address the reply names as its server identifier, so that a client
    // which checks one against the other finds them equal. Without an
    // identifier the kernel takes the adapter's own address.
    constexpr std::uint32_t kAdaptersOwnAddress = 0;
    const std::uint32_t source = m_Reply.ServerIdValid ? HostOrder(m_Reply.ServerId) : kAdaptersOwnAddress;
    const bool sent = m_Socket.sendToVia(received.adapterIndex, source, platform::UdpSocket::kLimitedBroadcastAddress,
        kClientPort, m_Reply.wire, static_cast<std::size_t>(m_Reply.Length));
    return sent ? 1 : 0;
}

bool CDhcpServer::WaitForRequest(const platform::Wakeup& wakeup, std::chrono::milliseconds timeout)
{
    return m_Socket.waitReadable(wakeup, timeout) == platform::UdpSocket::WaitResult::Readable;
}

bool CDhcpServer::IsSupportedMac(const std::uint8_t* chaddr)
{
    return std::memcmp(chaddr, kSupportedMacPrefix, sizeof kSupportedMacPrefix) == 0;
}

// A REQUEST names the server whose offer the client took (option 54). One
// that names another computer is a client talking to the site's own DHCP
// server: answering it (with a NAK, as its address is not ours to give)
// would break that client's normal DHCP while this server runs. The
// identifier this server sends is an address of the asking adapter, so a
// client that took our offer names this computer. 0.0.0.0 names no server:
// a client sends it after an offer without a server identifier (this
// server's offers have one unless the adapter had no IPv4 address).
bool CDhcpServer::IsRequestForAnotherServer() const
{
    if (!m_Request.MsgTypeValid || m_Request.MsgType != CDhcpMessage::kDhcpRequest || !m_Request.ServerIdValid)
        return false;
    const std::uint32_t named = HostOrder(m_Request.ServerId);
    if (named == platform::UdpSocket::kAnyAddress)
        return false;
    return !(m_IsLocalAddress && m_IsLocalAddress(named));
}

bool CDhcpServer::ProcessRequest(unsigned adapterIndex)
{
    if (!m_Request.Parse())
        return false;
    // Not for this server at all: no reply and no trace, whatever the MAC.
    if (IsRequestForAnotherServer())
        return false;
    const std::uint8_t* mac = m_Request.chaddr;
    if (!IsSupportedMac(mac)) {
        Log("[RECV] Got message from non-supported MAC (%02x:%02x:%02x:%02x:%02x:%02x)\n", mac[0], mac[1], mac[2],
            mac[3], mac[4], mac[5]);
        return false;
    }
    PrepareReply(adapterIndex);
    if (!ChooseReplyType())
        return false;
    m_Reply.Build();
    return true;
}

// The reply's fixed fields, the mask and the server identifier; the fixed
// fields not set here stay zero.
void CDhcpServer::PrepareReply(unsigned adapterIndex)
{
    m_Reply.op = CDhcpMessage::kOpReply;
    m_Reply.htype = m_Request.htype;
    m_Reply.hlen = m_Request.hlen;
    m_Reply.hops = 0;
    std::memcpy(m_Reply.xid, m_Request.xid, sizeof m_Reply.xid);
    std::memcpy(m_Reply.yiaddr, kOfferedNetwork, sizeof kOfferedNetwork);
    m_Reply.yiaddr[sizeof kOfferedNetwork] = OfferedHostNumber(m_Request.chaddr[kMacLastByte]);
    // Only an Ethernet address is echoed, whatever hlen claims.
    std::memset(m_Reply.chaddr, 0, sizeof m_Reply.chaddr);
    std::memcpy(m_Reply.chaddr, m_Request.chaddr, CDhcpMessage::kMacSize);
    m_Reply.MsgTypeValid = 0;
    m_Reply.MsgType = 0;
    std::memcpy(m_Reply.SubnetMask, kOfferedSubnetMask, sizeof kOfferedSubnetMask);
    m_Reply.SubnetMaskValid = 1;
    const std::optional<std::uint32_t> identifier =
        adapterIndex != kUnknownAdapter && m_AdapterAddress ? m_AdapterAddress(adapterIndex) : std::nullopt;
    m_Reply.ServerIdValid = identifier ? 1 : 0;
    PutHostOrder(identifier.value_or(0), m_Reply.ServerId);
    m_Reply.LeaseTimeValid = 0;
}

std::optional<std::uint32_t> CDhcpServer::AddressOfAdapter(unsigned adapterIndex)
{
    return ChooseAdapterAddress(platform::NetworkAdapters::records(), adapterIndex);
}

std::optional<std::uint32_t> CDhcpServer::ChooseAdapterAddress(
    const std::vector<platform::InterfaceRecord>& records, unsigned adapterIndex)
{
    std::uint8_t network[CDhcpMessage::kAddressSize] = {};
    std::memcpy(network, kOfferedNetwork, sizeof kOfferedNetwork);
    std::uint8_t mask[CDhcpMessage::kAddressSize] = {};
    std::memcpy(mask, kOfferedSubnetMask, sizeof kOfferedSubnetMask);
    const std::uint32_t offeredNetwork = HostOrder(network), offeredMask = HostOrder(mask);
    std::optional<std::uint32_t> first;
    for (const platform::InterfaceRecord& record : records) {
        if (record.index != adapterIndex || !record.hasIpv4)
            continue;
        if ((record.ipv4 & offeredMask) == offeredNetwork)
            return record.ipv4;
        if (!first)
            first = record.ipv4;
    }
    return first;
}

std::uint8_t CDhcpServer::OfferedHostNumber(std::uint8_t macLastByte)
{
    // 10.200.1.0 and 10.200.1.255 are the subnet's own addresses under mask
    // 255.255.255.0 and no host may use them; the nearest usable address
    // keeps the module in the subnet the technician works in.
    if (macLastByte == kNetworkHostNumber)
        return kNetworkSubstitute;
    if (macLastByte == kBroadcastHostNumber)
        return kBroadcastSubstitute;
    return macLastByte;
}

// Empty unless the offered address stands in for the MAC's own; then the
// text that says which address it replaces and why, for the SEND line.
std::string CDhcpServer::SubstitutionNote() const
{
    const std::uint8_t macByte = m_Request.chaddr[kMacLastByte];
    if (OfferedHostNumber(macByte) == macByte)
        return {};
    char note[kTraceLineSize];
    // Sized for the longest note: the count is not needed.
    static_cast<void>(
        std::snprintf(note, sizeof note, " in place of %d.%d.%d.%d, the subnet's %s address", kOfferedNetwork[0],
            kOfferedNetwork[1], kOfferedNetwork[2], macByte, macByte == kNetworkHostNumber ? "network" : "broadcast"));
    return note;
}

// Sets the reply's message type and writes the trace. False for every
// request that is neither a DISCOVER nor a REQUEST (DECLINE, RELEASE,
// INFORM, no option 53): those get no reply at all, since a reply must never
// carry a message type that was not chosen for this request.
bool CDhcpServer::ChooseReplyType()
{
    if (!m_Request.MsgTypeValid)
        return false;
    const std::uint8_t* offered = m_Reply.yiaddr;
    const std::string note = SubstitutionNote();
    if (m_Request.MsgType == CDhcpMessage::kDhcpDiscover) {
        Log("[RECV] DHCP_DISCOVER\n");
        if (note.empty())
            Log("[SEND] DHCP_OFFER.\n\n");
        else
            Log("[SEND] DHCP_OFFER. %d.%d.%d.%d%s\n\n", offered[0], offered[1], offered[2], offered[3], note.c_str());
        m_Reply.MsgType = CDhcpMessage::kDhcpOffer;
    } else if (m_Request.MsgType == CDhcpMessage::kDhcpRequest) {
        const std::uint8_t* wanted = m_Request.RequestedIp;
        Log("[RECV] DHCP_REQUEST ");
        if (m_Request.RequestedIpValid)
            Log("%d.%d.%d.%d\n", wanted[0], wanted[1], wanted[2], wanted[3]);
        else
            Log("\n");
        // The offered address depends on the MAC alone, so a REQUEST for
        // any other address is refused; a REQUEST naming none is accepted.
        if (m_Request.RequestedIpValid && std::memcmp(wanted, offered, CDhcpMessage::kAddressSize) != 0) {
            Log("[SEND] DHCP_NAK (Correct IP should be %d.%d.%d.%d)\n\n", offered[0], offered[1], offered[2],
                offered[3]);
            m_Reply.MsgType = CDhcpMessage::kDhcpNak;
        } else {
            Log("[SEND] DHCP_ACK %d.%d.%d.%d%s\n\n", offered[0], offered[1], offered[2], offered[3], note.c_str());
            m_Reply.MsgType = CDhcpMessage::kDhcpAck;
        }
    } else {
        return false;
    }
    m_Reply.MsgTypeValid = 1;
    // A NAK grants nothing, so it carries no lease time (RFC 2131, table 3).
    m_Reply.LeaseTimeValid = m_Reply.MsgType != CDhcpMessage::kDhcpNak ? 1 : 0;
    PutHostOrder(kLeaseTimeSeconds, m_Reply.LeaseTime);
    return true;
}

void CDhcpServer::Log(const char* format, ...)
{
    if (!m_TraceSink)
        return;
    char line[kTraceLineSize];
    va_list values;
    va_start(values, format);
    // A trace line longer than the buffer is cut, which is all a trace needs.
    static_cast<void>(std::vsnprintf(line, sizeof line, format, values));
    va_end(values);
    m_TraceSink(line);
}
