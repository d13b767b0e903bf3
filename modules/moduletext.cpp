#include "modules/moduletext.h"

#include <array>
#include <cstddef>

namespace modules {
namespace {

constexpr unsigned char kAsciiEnd = 0x80;
constexpr unsigned char kWindows1252TableStart = 0x80;
constexpr unsigned char kWindows1252TableEnd = 0xA0; // from here on the byte is its Latin-1 character
constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;

// 0x80..0x9F of Windows-1252; an unassigned byte keeps its own number.
constexpr std::array<char32_t, kWindows1252TableEnd - kWindows1252TableStart> kWindows1252High = {0x20AC, 0x0081,
    0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D,
    0x017E, 0x0178};

// The length of the sequence a lead byte starts and the smallest code point
// it may carry; 0 for a byte that cannot lead.
struct Lead {
    std::size_t length;
    char32_t minimum;
    char32_t bits;
};

Lead leadOf(unsigned char byte)
{
    if (byte < kAsciiEnd)
        return {1, 0, byte};
    if ((byte & 0xE0) == 0xC0)
        return {2, 0x80, static_cast<char32_t>(byte & 0x1F)};
    if ((byte & 0xF0) == 0xE0)
        return {3, 0x800, static_cast<char32_t>(byte & 0x0F)};
    if ((byte & 0xF8) == 0xF0)
        return {4, 0x10000, static_cast<char32_t>(byte & 0x07)};
    return {0, 0, 0};
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

bool isValidUtf8(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const Lead lead = leadOf(static_cast<unsigned char>(bytes[i]));
        if (lead.length == 0 || i + lead.length > bytes.size())
            return false;
        char32_t c = lead.bits;
        for (std::size_t k = 1; k < lead.length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < lead.minimum || c > kMaxCodePoint || (c >= kSurrogateFirst && c <= kSurrogateLast))
            return false;
        i += lead.length;
    }
    return true;
}

char32_t windows1252Character(unsigned char byte)
{
    if (byte >= kWindows1252TableStart && byte < kWindows1252TableEnd)
        return kWindows1252High[byte - kWindows1252TableStart];
    return byte;
}

std::string moduleTextToUtf8(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char byte : bytes)
        appendUtf8(out, windows1252Character(static_cast<unsigned char>(byte)));
    return out;
}

bool showsBytes(std::string_view utf8, std::string_view bytes)
{
    return moduleTextToUtf8(bytes) == utf8;
}

} // namespace modules
