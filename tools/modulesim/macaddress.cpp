#include "tools/modulesim/macaddress.h"

#include <cstdio>

namespace modulesim {

namespace {

constexpr std::size_t kMaxDigitsPerByte = 2;
constexpr char kSeparator = '-';

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<MacAddress> MacAddress::parse(std::string_view text)
{
    MacAddress mac;
    std::size_t pos = 0;
    for (std::size_t index = 0; index < kSize; ++index) {
        if (index > 0) {
            if (pos >= text.size() || text[pos] != kSeparator)
                return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && digits < kMaxDigitsPerByte && hexDigitValue(text[pos]) >= 0) {
            value = value * 16 + static_cast<unsigned>(hexDigitValue(text[pos]));
            ++pos;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        mac.bytes[index] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size())
        return std::nullopt;
    return mac;
}

std::string MacAddress::toString() const
{
    char text[3 * kSize];
    static_cast<void>(std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", bytes[0], bytes[1], bytes[2],
        bytes[3], bytes[4], bytes[5]));
    return text;
}

} // namespace modulesim
