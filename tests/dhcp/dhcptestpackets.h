#ifndef TESTS_DHCP_DHCPTESTPACKETS_H
#define TESTS_DHCP_DHCPTESTPACKETS_H

// Known-good client messages for the DHCP tests, built the way a module's
// DHCP client sends them, and helpers to load them into a record.

#include "dhcp/dhcpmessage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace dhcptest {

using Mac = std::array<std::uint8_t, 6>;
using Address = std::array<std::uint8_t, 4>;
using Bytes = std::vector<std::uint8_t>;

inline constexpr Mac kSupportedMac = {0x00, 0x30, 0x11, 0x22, 0x33, 0x44};
inline constexpr Address kOfferedForSupportedMac = {10, 200, 1, 0x44};
inline constexpr std::array<std::uint8_t, 4> kXid = {0xDE, 0xAD, 0xBE, 0xEF};
// A client's usual size: fixed part, cookie, options, padding.
inline constexpr std::size_t kClientMessageLength = 300;

// A request with non-zero secs, flags (broadcast bit), ciaddr, siaddr,
// giaddr and hops, so that tests can see the reply does not echo them.
// Options in order: 53, then 50 when given, then 54 when given, then 55
// (parameter request list: skipped by the server), then 255; zero padding
// up to `length`.
inline Bytes MakeRequest(const Mac& mac, std::optional<std::uint8_t> messageType,
    std::optional<Address> requestedIp = std::nullopt, std::size_t length = kClientMessageLength,
    std::optional<Address> serverId = std::nullopt)
{
    Bytes m(length, 0);
    m[0] = 1;                           // op: request
    m[1] = 1;                           // htype: Ethernet
    m[2] = 6;                           // hlen
    m[3] = 3;                           // hops
    std::memcpy(&m[4], kXid.data(), 4); // xid
    m[8] = 0x00;
    m[9] = 0x2A; // secs 42
    m[10] = 0x80;
    m[11] = 0x00; // flags: broadcast
    const std::uint8_t ciaddr[4] = {192, 168, 0, 9};
    const std::uint8_t siaddr[4] = {192, 168, 0, 1};
    const std::uint8_t giaddr[4] = {172, 16, 0, 1};
    std::memcpy(&m[12], ciaddr, 4);
    std::memcpy(&m[20], siaddr, 4);
    std::memcpy(&m[24], giaddr, 4);
    std::memcpy(&m[28], mac.data(), mac.size());
    m[44] = 's';  // sname, not terminated on purpose
    m[108] = 'f'; // file
    const std::uint8_t cookie[4] = {99, 130, 83, 99};
    std::memcpy(&m[236], cookie, 4);
    std::size_t at = 240;
    if (messageType) {
        m[at++] = 53;
        m[at++] = 1;
        m[at++] = *messageType;
    }
    if (requestedIp) {
        m[at++] = 50;
        m[at++] = 4;
        std::memcpy(&m[at], requestedIp->data(), 4);
        at += 4;
    }
    if (serverId) {
        m[at++] = 54;
        m[at++] = 4;
        std::memcpy(&m[at], serverId->data(), 4);
        at += 4;
    }
    m[at++] = 55;
    m[at++] = 3;
    m[at++] = 1;
    m[at++] = 3;
    m[at++] = 6;
    m[at] = 255;
    return m;
}

// Puts `bytes` into the record's wire buffer as a received datagram of
// `length` bytes (by default all of them).
inline void Load(CDhcpMessage& message, const Bytes& bytes, std::optional<std::size_t> length = std::nullopt)
{
    std::memset(message.wire, 0, sizeof message.wire);
    std::memcpy(message.wire, bytes.data(), std::min(bytes.size(), sizeof message.wire));
    message.Length = static_cast<std::int32_t>(length.value_or(bytes.size()));
}

} // namespace dhcptest

#endif
