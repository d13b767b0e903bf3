#include "commissioning/dhcpprobe.h"

#include "dhcp/dhcpmessage.h"
#include "modules/columntexts.h"
#include "platform/udpsocket.h"
#include "platform/wakeup.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

namespace commissioning {
namespace {

using Clock = std::chrono::steady_clock;
using Message = CDhcpMessage;

constexpr std::uint8_t kEthernet = 1;
constexpr std::uint8_t kBroadcastFlagByte = 0x80; // high bit of the flags field
constexpr std::uint8_t kLocallyAdministered = 0x02;
constexpr std::uint8_t kMulticast = 0x01;
constexpr unsigned kBitsPerByte = 8;

void putXid(std::uint8_t (&field)[Message::kXidSize], std::uint32_t xid)
{
    for (std::size_t i = 0; i < Message::kXidSize; ++i)
        field[i] = static_cast<std::uint8_t>(xid >> (kBitsPerByte * (Message::kXidSize - 1 - i)));
}

std::uint32_t AddressOf(const std::uint8_t (&field)[Message::kAddressSize])
{
    std::uint32_t value = 0;
    for (std::uint8_t byte : field)
        value = (value << kBitsPerByte) | byte;
    return value;
}

std::string skipReason(int error)
{
    switch (platform::UdpSocket::errorKind(error)) {
    case platform::UdpSocket::ErrorKind::AccessDenied:
        return "skipped: binding UDP port 68 needs root or CAP_NET_BIND_SERVICE";
    case platform::UdpSocket::ErrorKind::AddressInUse:
        return "skipped: UDP port 68 is held by another program (a DHCP client?)";
    case platform::UdpSocket::ErrorKind::Other:
        break;
    }
    return "skipped: UDP port 68 cannot be bound: " + platform::UdpSocket::errorText(error);
}

std::string adapterName(const std::vector<platform::NetworkAdapter>& adapters, unsigned index)
{
    const auto found = std::find_if(adapters.begin(), adapters.end(),
        [index](const platform::NetworkAdapter& adapter) { return adapter.index == index; });
    return found == adapters.end() ? "adapter " + std::to_string(index) : found->name;
}

std::uint64_t RandomBits()
{
    std::random_device device;
    return (std::uint64_t{device()} << (kBitsPerByte * sizeof(unsigned))) | device();
}

} // namespace

modules::MacAddress probeClientMac(std::uint64_t randomBits)
{
    modules::MacAddress mac{};
    for (std::uint8_t& byte : mac) {
        byte = static_cast<std::uint8_t>(randomBits);
        randomBits >>= kBitsPerByte;
    }
    mac[0] = static_cast<std::uint8_t>((mac[0] | kLocallyAdministered) & ~kMulticast);
    return mac;
}

std::vector<std::uint8_t> discoverMessage(std::uint32_t xid, const modules::MacAddress& client)
{
    Message message;
    message.op = Message::kOpRequest;
    message.htype = kEthernet;
    message.hlen = Message::kMacSize;
    putXid(message.xid, xid);
    std::copy(client.begin(), client.end(), message.chaddr);
    message.MsgTypeValid = 1;
    message.MsgType = Message::kDhcpDiscover;
    message.Build();
    message.wire[Message::kFlagsOffset] = kBroadcastFlagByte;
    return {message.wire, message.wire + message.Length};
}

std::optional<DhcpOffer> readOffer(const std::uint8_t* data, std::size_t size, std::uint32_t sender, std::uint32_t xid,
    const modules::MacAddress& client)
{
    auto message = std::make_unique<Message>(); // its wire buffer is large for a stack
    if (size > sizeof message->wire)
        return std::nullopt;
    std::memcpy(message->wire, data, size);
    message->Length = static_cast<std::int32_t>(size);
    std::uint8_t expectedXid[Message::kXidSize];
    putXid(expectedXid, xid);
    if (!message->Parse() || message->op != Message::kOpReply || !message->MsgTypeValid
        || message->MsgType != Message::kDhcpOffer || std::memcmp(message->xid, expectedXid, sizeof expectedXid) != 0
        || !std::equal(client.begin(), client.end(), message->chaddr))
        return std::nullopt;
    return DhcpOffer{message->ServerIdValid ? AddressOf(message->ServerId) : sender, {}, AddressOf(message->yiaddr)};
}

DhcpProbe probeDhcpServers(
    const std::vector<platform::NetworkAdapter>& adapters, std::chrono::milliseconds wait, const platform::Wakeup* stop)
{
    platform::UdpSocket socket;
    if (!socket.open() || !socket.enableBroadcast() || !socket.enablePacketInfo() || !socket.enableAddressReuse()
        || !socket.bind(kDhcpClientPort))
        return {{}, skipReason(socket.lastError())};
    const std::uint32_t xid = static_cast<std::uint32_t>(RandomBits());
    const modules::MacAddress client = probeClientMac(RandomBits());
    const std::vector<std::uint8_t> discover = discoverMessage(xid, client);
    for (const platform::NetworkAdapter& adapter : adapters)
        socket.sendToVia(adapter.index, adapter.ipv4, platform::UdpSocket::kLimitedBroadcastAddress, kDhcpServerPort,
            discover.data(), discover.size());

    DhcpProbe probe;
    const platform::Wakeup noStop;
    const Clock::time_point deadline = Clock::now() + wait;
    std::vector<std::uint8_t> buffer(Message::kWireBufferSize);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0
            || socket.waitReadable(stop ? *stop : noStop, left) != platform::UdpSocket::WaitResult::Readable)
            break;
        const auto received = socket.receiveFrom(buffer.data(), buffer.size());
        if (received.status != platform::UdpSocket::ReceiveStatus::Received)
            continue;
        auto offer = readOffer(buffer.data(), received.length, received.senderAddress, xid, client);
        if (!offer)
            continue;
        offer->adapter = adapterName(adapters, received.adapterIndex);
        if (std::none_of(probe.offers.begin(), probe.offers.end(), [&offer](const DhcpOffer& known) {
                return known.server == offer->server && known.adapter == offer->adapter;
            }))
            probe.offers.push_back(*offer);
    }
    return probe;
}

std::string offerLine(const DhcpOffer& offer)
{
    return "DHCP server " + modules::formatDottedAddress(offer.server) + " on " + offer.adapter + " offered "
        + modules::formatDottedAddress(offer.offered);
}

} // namespace commissioning
