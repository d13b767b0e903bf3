#include "modules/ethernetconfigcheck.h"

#include <algorithm>

namespace modules {

namespace {

constexpr std::uint32_t kLastByteMask = 0xFFu;
constexpr std::uint32_t kRefusedLastByte = 255;

// Locale-free on purpose: isalnum() would accept letters of the user's
// locale that the modules do not.
bool IsAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

bool isLegalHostName(std::string_view hostName)
{
    return std::all_of(hostName.begin(), hostName.end(), IsAsciiLetterOrDigit);
}

bool isAcceptableIpAddress(std::uint32_t ipAddr)
{
    return (ipAddr & kLastByteMask) != kRefusedLastByte;
}

} // namespace modules
