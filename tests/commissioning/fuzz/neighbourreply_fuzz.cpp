// libFuzzer target for what the address-in-use check reads from outside:
// a receive of the kernel's neighbour dump (read through libnl) and an ARP
// packet from the segment. Built and run by scripts/fuzz (clang,
// ASan+UBSan); the first input byte picks the reader.
#include "commissioning/addressinuse.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    constexpr std::uint32_t kIp = (10u << 24) | (213u << 16) | 77u;
    constexpr unsigned kIfindex = 2;
    const devicelist::MacAddress own = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    if (data[0] % 2 == 0) {
        commissioning::ReadNeighbourDump(data + 1, size - 1, kIfindex, kIp);
    } else if (const auto holder = commissioning::ArpHolder(data + 1, size - 1, kIp, own)) {
        // Our own probe coming back is never somebody else.
        if (*holder == own)
            std::abort();
    }
    return 0;
}
