#include "cli/arguments.h"

#include <charconv>

namespace cli {
namespace {

constexpr int kAddressParts = 4;
constexpr std::size_t kMaxPartDigits = 3;
constexpr unsigned kMaxPart = 255;
constexpr std::size_t kMacTextLength = 17; // six pairs of digits and five separators
constexpr int kHexBase = 16;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::uint32_t> ParseIpv4(std::string_view text)
{
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int part = 0; part < kAddressParts; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < text.size() && IsDigit(text[pos]) && pos - start < kMaxPartDigits + 1)
            ++pos;
        unsigned value = 0;
        if (pos == start || pos - start > kMaxPartDigits)
            return std::nullopt;
        std::from_chars(text.data() + start, text.data() + pos, value);
        if (value > kMaxPart)
            return std::nullopt;
        address = address << 8 | value;
    }
    if (pos != text.size())
        return std::nullopt;
    return address;
}

std::optional<modules::MacAddress> ParseMac(std::string_view text)
{
    if (text.size() != kMacTextLength)
        return std::nullopt;
    const char separator = text[2];
    if (separator != '-' && separator != ':')
        return std::nullopt;
    modules::MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != separator)
            return std::nullopt;
        const auto result = std::from_chars(text.data() + at, text.data() + at + 2, mac[i], kHexBase);
        if (result.ec != std::errc() || result.ptr != text.data() + at + 2)
            return std::nullopt;
    }
    return mac;
}

} // namespace cli
