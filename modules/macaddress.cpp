#include "modules/macaddress.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace modules {
namespace {

constexpr char kMacSeparator = '-';
constexpr unsigned kHexBase = 16;
constexpr std::size_t kMacDigits = 2;
constexpr unsigned kByteModulus = 256;

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One "%x" conversion: white space, optional sign, optional 0x prefix, hex
// digits. Only the low 8 bits of the number are kept, so arithmetic modulo
// 256 gives the same byte for a number of any length.
std::optional<std::uint8_t> ReadHexByte(std::string_view text, std::size_t& pos)
{
    while (pos < text.size() && IsCSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos + 2 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')
        && HexDigitValue(text[pos + 2]) >= 0) {
        pos += 2;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    for (; pos < text.size() && HexDigitValue(text[pos]) >= 0; ++pos, ++digits) {
        value = (value * kHexBase + static_cast<unsigned>(HexDigitValue(text[pos]))) % kByteModulus;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (negative) {
        value = (kByteModulus - value) % kByteModulus;
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::string formatMac(const MacAddress& mac)
{
    char text[kMacTextReadLimit + 1];
    static_cast<void>(std::snprintf(
        text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]));
    return text;
}

MacAddress macOfRecord(const QORT_ModuleScanResponseType& record)
{
    MacAddress mac;
    std::memcpy(mac.data(), record.MacId, mac.size());
    return mac;
}

MacAddress macOfRequest(const QORT_ConfigureRequestType& request)
{
    MacAddress mac;
    std::memcpy(mac.data(), request.MacId, mac.size());
    return mac;
}

std::optional<MacAddress> parseRowMac(std::string_view text)
{
    text = text.substr(0, kMacTextReadLimit);
    MacAddress mac{};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != kMacSeparator) {
                return std::nullopt;
            }
            ++pos;
        }
        const std::optional<std::uint8_t> byte = ReadHexByte(text, pos);
        if (!byte) {
            return std::nullopt;
        }
        mac[i] = *byte;
    }
    return mac;
}

std::optional<MacAddress> parseMacText(std::string_view text)
{
    if (text.size() != kMacTextReadLimit)
        return std::nullopt;
    const char separator = text[kMacDigits];
    if (separator != '-' && separator != ':')
        return std::nullopt;
    MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * (kMacDigits + 1);
        if (i > 0 && text[at - 1] != separator)
            return std::nullopt;
        const auto result =
            std::from_chars(text.data() + at, text.data() + at + kMacDigits, mac[i], static_cast<int>(kHexBase));
        if (result.ec != std::errc() || result.ptr != text.data() + at + kMacDigits)
            return std::nullopt;
    }
    return mac;
}

} // namespace modules
