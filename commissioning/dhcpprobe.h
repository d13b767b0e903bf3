#ifndef COMMISSIONING_DHCPPROBE_H
#define COMMISSIONING_DHCPPROBE_H

#include "modules/macaddress.h"
#include "platform/networkadapters.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Wakeup;
}

// Is another DHCP server on the segment? Modules with DHCP on may take its
// offer instead of ours. One DHCPDISCOVER per usable adapter from UDP 68,
// with a locally administered client MAC (the bit no vendor's MAC, and so no
// module's, carries), and every offer within the wait is listed. Nothing is
// requested: no lease is taken.
//
// Front ends (doctor; the DHCP server's start, on a thread of its own):
//   const auto probe = commissioning::probeDhcpServers(platform::NetworkAdapters::usable());
//   if (!probe.skipped.empty()) say it; else for each offer print offerLine(offer)

namespace commissioning {

inline constexpr std::chrono::milliseconds kDhcpOfferWait{2000};
inline constexpr std::uint16_t kDhcpServerPort = 67;
inline constexpr std::uint16_t kDhcpClientPort = 68;

struct DhcpOffer {
    std::uint32_t server = 0; // its server identifier, else the sender's address
    std::string adapter;      // the adapter the offer came in on
    std::uint32_t offered = 0;

    bool operator==(const DhcpOffer&) const = default;
};

struct DhcpProbe {
    std::vector<DhcpOffer> offers; // each server once per adapter
    std::string skipped;           // not empty: the check did not run, and why
};

// Ends early when stop is signalled (then with the offers so far).
DhcpProbe probeDhcpServers(const std::vector<platform::NetworkAdapter>& adapters,
    std::chrono::milliseconds wait = kDhcpOfferWait, const platform::Wakeup* stop = nullptr);

// "DHCP server A on ADAPTER offered ADDRESS"
std::string offerLine(const DhcpOffer& offer);

// The pure parts. A unicast, locally administered MAC from random bits.
modules::MacAddress probeClientMac(std::uint64_t randomBits);
// The DISCOVER, asking for a broadcast answer (the client MAC is nobody's,
// so an answer sent to it would reach no one).
std::vector<std::uint8_t> discoverMessage(std::uint32_t xid, const modules::MacAddress& client);
// An OFFER answering that DISCOVER: the server and the offered address
// (adapter left empty); nothing for any other datagram.
std::optional<DhcpOffer> readOffer(const std::uint8_t* data, std::size_t size, std::uint32_t sender, std::uint32_t xid,
    const modules::MacAddress& client);

} // namespace commissioning

#endif
