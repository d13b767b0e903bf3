#include "dhcp/dhcpmessage.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kOptionHeaderSize = 2; // code byte, length byte
// The most a reply carries: 53, 1, 54, 51 and the end option.
constexpr std::size_t kLongestReplyOptions = (kOptionHeaderSize + CDhcpMessage::kMessageTypeOptionLength)
    + 3 * (kOptionHeaderSize + CDhcpMessage::kAddressOptionLength) + 1;
static_assert(CDhcpMessage::kFirstOptionOffset + kLongestReplyOptions <= CDhcpMessage::kReplyLength,
    "every reply option fits in the 300 bytes");

// Copies a field of the same size as `to` from `wire` at `offset`.
template <std::size_t N>
void CopyFrom(const std::uint8_t* wire, std::size_t offset, std::uint8_t (&to)[N])
{
    std::memcpy(to, wire + offset, N);
}

template <std::size_t N>
void CopyTo(std::uint8_t* wire, std::size_t offset, const std::uint8_t (&from)[N])
{
    std::memcpy(wire + offset, from, N);
}

} // namespace

bool CDhcpMessage::Parse()
{
    // Length comes from the receive; a negative value is a failed receive
    // and anything above the buffer would make every read below unsafe.
    if (Length < 0 || static_cast<std::size_t>(Length) < kFixedPartLength
        || static_cast<std::size_t>(Length) > kWireBufferSize)
        return false;
    const auto end = static_cast<std::size_t>(Length);

    ReadFixedPart();
    OptionsLength = Length - static_cast<std::int32_t>(kFixedPartLength);
    const std::size_t areaLength = end - kFixedPartLength;
    std::memset(options, 0, sizeof options);
    std::memcpy(options, wire + kCookieOffset, std::min(areaLength, kOptionsKept));
    ClearOptionSlots();

    const bool hasCookie =
        areaLength >= kCookieSize && std::memcmp(wire + kCookieOffset, kMagicCookie, kCookieSize) == 0;
    if (!hasCookie)
        return true; // plain BOOTP: no options
    return WalkOptions(end);
}

void CDhcpMessage::ReadFixedPart()
{
    op = wire[kOpOffset];
    htype = wire[kHtypeOffset];
    hlen = wire[kHlenOffset];
    hops = wire[kHopsOffset];
    CopyFrom(wire, kXidOffset, xid);
    CopyFrom(wire, kSecsOffset, secs);
    CopyFrom(wire, kCiaddrOffset, ciaddr);
    CopyFrom(wire, kYiaddrOffset, yiaddr);
    CopyFrom(wire, kSiaddrOffset, siaddr);
    CopyFrom(wire, kGiaddrOffset, giaddr);
    CopyFrom(wire, kChaddrOffset, chaddr);
    CopyFrom(wire, kSnameOffset, sname);
    CopyFrom(wire, kFileOffset, file);
}

void CDhcpMessage::ClearOptionSlots()
{
    MsgTypeValid = 0;
    MsgType = 0;
    SubnetMaskValid = 0;
    std::memset(SubnetMask, 0, sizeof SubnetMask);
    ServerIdValid = 0;
    std::memset(ServerId, 0, sizeof ServerId);
    RequestedIpValid = 0;
    std::memset(RequestedIp, 0, sizeof RequestedIp);
    LeaseTimeValid = 0;
    std::memset(LeaseTime, 0, sizeof LeaseTime);
}

// `end` is the datagram's length. The length byte of an option is checked
// before its value is read; an option whose length byte or value lies past
// `end` is cut off and ends the walk without dropping the datagram.
bool CDhcpMessage::WalkOptions(std::size_t end)
{
    std::size_t at = kFirstOptionOffset;
    while (at < end) {
        const std::uint8_t code = wire[at];
        if (code == kOptionPad) {
            ++at;
            continue;
        }
        if (code == kOptionEnd || at + 1 >= end)
            break;
        const std::uint8_t length = wire[at + 1];
        const std::size_t value = at + kOptionHeaderSize;
        std::uint8_t* slot = nullptr;
        std::uint8_t* valid = nullptr;
        switch (code) {
        case kOptionMessageType:
            if (length != kMessageTypeOptionLength)
                return false;
            slot = &MsgType;
            valid = &MsgTypeValid;
            break;
        case kOptionSubnetMask:
        case kOptionRequestedIp:
        case kOptionServerId:
            if (length != kAddressOptionLength)
                return false;
            slot = code == kOptionSubnetMask ? SubnetMask : code == kOptionRequestedIp ? RequestedIp : ServerId;
            valid = code == kOptionSubnetMask ? &SubnetMaskValid
                : code == kOptionRequestedIp  ? &RequestedIpValid
                                              : &ServerIdValid;
            break;
        default:
            break;
        }
        if (value + length > end)
            break;
        if (slot != nullptr) {
            std::memcpy(slot, wire + value, length);
            *valid = 1;
        }
        at = value + length;
    }
    return true;
}

std::size_t CDhcpMessage::PutOption(std::size_t at, std::uint8_t code, const std::uint8_t (&value)[kAddressSize])
{
    static_assert(kLeaseTimeSize == kAddressSize && kLeaseTimeOptionLength == kAddressOptionLength);
    wire[at++] = code;
    wire[at++] = kAddressOptionLength;
    CopyTo(wire, at, value);
    return at + kAddressSize;
}

std::size_t CDhcpMessage::WriteFixedPart()
{
    wire[kOpOffset] = op;
    wire[kHtypeOffset] = htype;
    wire[kHlenOffset] = hlen;
    wire[kHopsOffset] = hops;
    CopyTo(wire, kXidOffset, xid);
    CopyTo(wire, kSecsOffset, secs);
    std::memset(wire + kFlagsOffset, 0, kFlagsSize);
    CopyTo(wire, kCiaddrOffset, ciaddr);
    CopyTo(wire, kYiaddrOffset, yiaddr);
    CopyTo(wire, kSiaddrOffset, siaddr);
    CopyTo(wire, kGiaddrOffset, giaddr);
    CopyTo(wire, kChaddrOffset, chaddr);
    CopyTo(wire, kSnameOffset, sname);
    CopyTo(wire, kFileOffset, file);
    std::memcpy(wire + kCookieOffset, kMagicCookie, kCookieSize);
    return kFirstOptionOffset;
}

void CDhcpMessage::Build()
{
    // Zero first: whatever a previous message left in the buffer must not
    // show through the padding.
    std::memset(wire, 0, kReplyLength);
    std::size_t at = WriteFixedPart();
    if (MsgTypeValid) {
        wire[at++] = kOptionMessageType;
        wire[at++] = kMessageTypeOptionLength;
        wire[at++] = MsgType;
    }
    if (SubnetMaskValid)
        at = PutOption(at, kOptionSubnetMask, SubnetMask);
    // 54 and 51 come after 53 and 1, so the bytes of a reply that carries
    // only those two stay where they always were.
    if (ServerIdValid)
        at = PutOption(at, kOptionServerId, ServerId);
    if (LeaseTimeValid)
        at = PutOption(at, kOptionLeaseTime, LeaseTime);
    wire[at] = kOptionEnd;
    Length = static_cast<std::int32_t>(kReplyLength);
    OptionsLength = static_cast<std::int32_t>(kReplyLength - kFixedPartLength);
}
