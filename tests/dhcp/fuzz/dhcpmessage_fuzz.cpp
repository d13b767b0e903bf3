// libFuzzer target for what the recovery server does with a received
// datagram: CDhcpMessage::Parse and the server's answer to it. Built and
// run by scripts/fuzz (clang, ASan+UBSan); it opens no socket.
//
// ASan cannot see a read that stays inside the record but outside the
// datagram, so every input is parsed twice, with different bytes after
// its end, and both results must agree.

#include "dhcp/dhcpmessage.h"
#include "dhcp/dhcpserver.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace {

constexpr std::uint8_t kFillA = 0x00;
constexpr std::uint8_t kFillB = 0xFF;

std::int32_t ReceivedLength(std::size_t size)
{
    // A datagram longer than the buffer reaches Parse only with its real
    // length (the receive reports truncation), never cut to the buffer.
    return static_cast<std::int32_t>(std::min<std::size_t>(size, std::numeric_limits<std::int32_t>::max()));
}

void LoadDatagram(CDhcpMessage& message, const std::uint8_t* data, std::size_t size, std::uint8_t fill)
{
    std::memset(message.wire, fill, sizeof message.wire);
    std::memcpy(message.wire, data, std::min(size, sizeof message.wire));
    message.Length = ReceivedLength(size);
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool SameOptions(const CDhcpMessage& a, const CDhcpMessage& b)
{
    return a.MsgTypeValid == b.MsgTypeValid && a.MsgType == b.MsgType && a.SubnetMaskValid == b.SubnetMaskValid
        && std::memcmp(a.SubnetMask, b.SubnetMask, 4) == 0 && a.ServerIdValid == b.ServerIdValid
        && std::memcmp(a.ServerId, b.ServerId, 4) == 0 && a.RequestedIpValid == b.RequestedIpValid
        && std::memcmp(a.RequestedIp, b.RequestedIp, 4) == 0 && std::memcmp(a.chaddr, b.chaddr, sizeof a.chaddr) == 0
        && a.OptionsLength == b.OptionsLength;
}

std::uint32_t HostOrder(const std::uint8_t (&address)[CDhcpMessage::kAddressSize])
{
    return std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 | std::uint32_t{address[2]} << 8
        | address[3];
}

bool IsFuzzLocalAddress(std::uint32_t address)
{
    return (address & 1) == 0;
}

// Three kinds of adapter a datagram may come in on, chosen by its length:
// one with an address (which the fuzz rule counts as local), one without,
// and an unknown one.
constexpr unsigned kAddressedAdapter = 1, kAddresslessAdapter = 2;
constexpr std::uint8_t kAdapterAddress[CDhcpMessage::kAddressSize] = {10, 213, 0, 2};

unsigned AdapterOf(std::size_t size)
{
    return static_cast<unsigned>(size % 3); // 0: CDhcpServer::kUnknownAdapter
}

std::optional<std::uint32_t> FuzzAdapterAddress(unsigned index)
{
    if (index == kAddressedAdapter)
        return HostOrder(kAdapterAddress);
    return std::nullopt;
}

// The options of every reply: 53 and 1 first (bytes 240-248), then 54 when
// the adapter has an address, 51 unless a NAK, the end, and zeros to 300.
void RequireReplyOptions(const CDhcpMessage& reply, unsigned adapter)
{
    const std::uint8_t* at = reply.wire + CDhcpMessage::kFirstOptionOffset;
    const std::uint8_t type = at[2];
    const std::uint8_t first[] = {
        CDhcpMessage::kOptionMessageType, 1, type, CDhcpMessage::kOptionSubnetMask, 4, 255, 255, 255, 0};
    Require(std::memcmp(at, first, sizeof first) == 0);
    at += sizeof first;
    if (adapter == kAddressedAdapter) {
        Require(at[0] == CDhcpMessage::kOptionServerId && at[1] == 4);
        Require(std::memcmp(at + 2, kAdapterAddress, sizeof kAdapterAddress) == 0);
        at += 6;
    }
    if (type != CDhcpMessage::kDhcpNak) {
        const std::uint8_t lease[] = {CDhcpMessage::kOptionLeaseTime, 4, 0, 1, 0x51, 0x80};
        Require(std::memcmp(at, lease, sizeof lease) == 0);
        at += sizeof lease;
    }
    Require(*at++ == CDhcpMessage::kOptionEnd);
    Require(std::all_of(at, reply.wire + CDhcpMessage::kReplyLength, [](std::uint8_t b) { return b == 0; }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static auto a = std::make_unique<CDhcpMessage>();
    static auto b = std::make_unique<CDhcpMessage>();
    LoadDatagram(*a, data, size, kFillA);
    LoadDatagram(*b, data, size, kFillB);
    const bool parsedA = a->Parse();
    const bool parsedB = b->Parse();
    Require(parsedA == parsedB);
    Require(!parsedA || SameOptions(*a, *b));
    Require(!parsedA || (size >= CDhcpMessage::kFixedPartLength && size <= CDhcpMessage::kWireBufferSize));

    // The server, reused across inputs like the real one. A fixed rule for
    // "this computer's address" keeps runs repeatable and reaches both sides
    // of the server-identifier test.
    static auto server = [] {
        auto made = std::make_unique<CDhcpServer>();
        made->SetLocalAddressTest([](std::uint32_t address) { return IsFuzzLocalAddress(address); });
        made->SetAdapterAddressLookup(FuzzAdapterAddress);
        return made;
    }();
    LoadDatagram(server->Request(), data, size, kFillA);
    if (server->ProcessRequest(AdapterOf(size))) {
        const CDhcpMessage& reply = server->Reply();
        // Never answer a REQUEST meant for another server.
        Require(!(a->MsgType == CDhcpMessage::kDhcpRequest && a->ServerIdValid && HostOrder(a->ServerId) != 0
            && !IsFuzzLocalAddress(HostOrder(a->ServerId))));
        // Never offer the subnet's network or broadcast address.
        const std::uint8_t host = reply.wire[CDhcpMessage::kYiaddrOffset + 3];
        Require(host != 0x00 && host != 0xFF);
        Require(reply.Length == static_cast<std::int32_t>(CDhcpMessage::kReplyLength));
        Require(reply.wire[CDhcpMessage::kOpOffset] == CDhcpMessage::kOpReply);
        const std::uint8_t type = reply.wire[CDhcpMessage::kFirstOptionOffset + 2];
        Require(type == CDhcpMessage::kDhcpOffer || type == CDhcpMessage::kDhcpAck || type == CDhcpMessage::kDhcpNak);
        Require(std::memcmp(reply.wire + CDhcpMessage::kChaddrOffset, data + CDhcpMessage::kChaddrOffset, 3) == 0);
        RequireReplyOptions(reply, AdapterOf(size));
    }
    return 0;
}
