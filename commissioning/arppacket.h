#ifndef COMMISSIONING_ARPPACKET_H
#define COMMISSIONING_ARPPACKET_H

#include "modules/macaddress.h"

#include <algorithm>
#include <array>
#include <cstdint>

// The ARP packet for IPv4 over Ethernet, from its hardware-type field on
// (what an AF_PACKET datagram socket sends and receives).
namespace commissioning::arp {

constexpr std::size_t kSize = 28;
constexpr std::size_t kHardwareType = 0;
constexpr std::size_t kProtocolType = 2;
constexpr std::size_t kHardwareLength = 4;
constexpr std::size_t kProtocolLength = 5;
constexpr std::size_t kOperation = 6;
constexpr std::size_t kSenderMac = 8;
constexpr std::size_t kSenderIp = 14;
constexpr std::size_t kTargetIp = 24;
constexpr std::uint16_t kEthernet = 1;
constexpr std::uint16_t kIpv4 = 0x0800;
constexpr std::uint8_t kMacLength = 6;
constexpr std::uint8_t kIpLength = 4;
constexpr std::uint16_t kRequest = 1;

using Packet = std::array<std::uint8_t, kSize>;

inline std::uint16_t read16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

inline std::uint32_t read32(const std::uint8_t* at)
{
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

inline void write16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

// RFC 5227 probe: a request for ip with sender IP 0.0.0.0 and target MAC 0.
inline Packet probe(const modules::MacAddress& own, std::uint32_t ip)
{
    Packet packet{};
    write16(&packet[kHardwareType], kEthernet);
    write16(&packet[kProtocolType], kIpv4);
    packet[kHardwareLength] = kMacLength;
    packet[kProtocolLength] = kIpLength;
    write16(&packet[kOperation], kRequest);
    std::copy(own.begin(), own.end(), &packet[kSenderMac]);
    write16(&packet[kTargetIp], static_cast<std::uint16_t>(ip >> 16));
    write16(&packet[kTargetIp + 2], static_cast<std::uint16_t>(ip));
    return packet;
}

} // namespace commissioning::arp

#endif
