// libFuzzer target for what safe commissioning reads from the network: a
// receive of the kernel's neighbour dump (read through libnl), an ARP
// packet from the segment, a DHCP server's answer to the probe. Built and
// run by scripts/fuzz (clang, ASan+UBSan); the first input byte picks the
// reader.
#include "commissioning/addressinuse.h"
#include "commissioning/dhcpprobe.h"

#include <cstdlib>

namespace {

enum Reader { kNeighbourDump, kArpPacket, kDhcpOffer, kReaderCount };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    constexpr std::uint32_t kIp = (10u << 24) | (213u << 16) | 77u;
    constexpr unsigned kIfindex = 2;
    constexpr std::uint32_t kXid = 0x01020304;
    const modules::MacAddress own = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    switch (data[0] % kReaderCount) {
    case kNeighbourDump:
        commissioning::readNeighbourDump(data + 1, size - 1, kIfindex, kIp);
        break;
    case kArpPacket:
        // Our own probe coming back is never somebody else.
        if (const auto holder = commissioning::arpHolder(data + 1, size - 1, kIp, own); holder && *holder == own)
            std::abort();
        break;
    default:
        commissioning::readOffer(data + 1, size - 1, kIp, kXid, own);
        break;
    }
    return 0;
}
