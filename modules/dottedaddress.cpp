#include "modules/dottedaddress.h"

#include <charconv>
#include <cstdint>

#include "modules/leadingnumber.h"

namespace modules {
namespace {

constexpr char kGroupSeparator = '.';
constexpr int kGroupCount = 4;
constexpr int kSeparatorCount = kGroupCount - 1;
constexpr int kLargestGroupValue = 255;
constexpr std::size_t kLargestGroupDigits = 3;
constexpr int kBitsPerGroup = 8;
constexpr std::uint32_t kGroupMask = 0xFFu;

// Reads one dotted text group by group without ever indexing past its end.
class GroupReader {
public:
    explicit GroupReader(std::string_view text)
        : text_(text)
    {
    }

    int ReadNumber() const { return leadingNumber(text_.substr(pos_)); }

    void SkipPastNextSeparator()
    {
        const std::size_t dot = text_.find(kGroupSeparator, pos_);
        pos_ = dot == std::string_view::npos ? text_.size() : dot + 1;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::uint32_t AppendGroup(std::uint32_t value, int number)
{
    return (value << kBitsPerGroup) | (static_cast<std::uint32_t>(number) & kGroupMask);
}

} // namespace

bool isDottedAddress(std::string_view text)
{
    int separators = 0;
    for (const char c : text) {
        if (c == kGroupSeparator) {
            ++separators;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return separators == kSeparatorCount;
}

int compareDottedAddresses(std::string_view a, std::string_view b)
{
    GroupReader readerA(a);
    GroupReader readerB(b);
    std::uint32_t valueA = 0;
    std::uint32_t valueB = 0;
    for (int group = 0; group < kGroupCount; ++group) {
        const bool last = group == kGroupCount - 1;
        const int numberA = readerA.ReadNumber();
        if (numberA > kLargestGroupValue) {
            return -1;
        }
        if (!last) {
            readerA.SkipPastNextSeparator();
        }
        const int numberB = readerB.ReadNumber();
        if (numberB > kLargestGroupValue) {
            return 1;
        }
        if (!last) {
            readerB.SkipPastNextSeparator();
        }
        valueA = AppendGroup(valueA, numberA);
        valueB = AppendGroup(valueB, numberB);
    }
    if (valueA < valueB)
        return -1;
    if (valueA > valueB)
        return 1;
    return 0;
}

std::optional<std::uint32_t> parseDottedAddress(std::string_view text)
{
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int part = 0; part < kGroupCount; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < kLargestGroupDigits + 1)
            ++pos;
        int value = 0;
        if (pos == start || pos - start > kLargestGroupDigits)
            return std::nullopt;
        std::from_chars(text.data() + start, text.data() + pos, value);
        if (value > kLargestGroupValue)
            return std::nullopt;
        address = address << kBitsPerGroup | static_cast<std::uint32_t>(value);
    }
    if (pos != text.size())
        return std::nullopt;
    return address;
}

} // namespace modules
