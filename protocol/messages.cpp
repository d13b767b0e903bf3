#include "protocol/messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qort {

namespace {

// Keys of a scan reply. Each includes its " = ": a pair written without
// those spaces is not recognised.
constexpr std::string_view kProtocolVersionKey = "protocol version = ";
constexpr std::string_view kFbTypeKey = "fb type = ";
constexpr std::string_view kModuleVersionKey = "module version = ";
constexpr std::string_view kMacKey = "mac = ";
constexpr std::string_view kIpKey = "ip = ";
constexpr std::string_view kSubnetMaskKey = "sn = ";
constexpr std::string_view kGatewayKey = "gw = ";
constexpr std::string_view kDhcpKey = "dhcp = ";
constexpr std::string_view kPswdKey = "pswd = ";
constexpr std::string_view kHostNameKey = "hn = ";
constexpr std::string_view kDns1Key = "dns1 = ";
constexpr std::string_view kDns2Key = "dns2 = ";

constexpr std::string_view kReconfiguredPrefix = "Reconfigured:";
constexpr std::string_view kInvalidPasswordPrefix = "Invalid Password:";
// The MAC of an "Invalid Password:" reply follows exactly one space.
constexpr std::string_view kInvalidPasswordKey = "Invalid Password: ";

constexpr std::string_view kOn = "on";
constexpr std::string_view kOff = "off";
constexpr std::uint8_t kNeitherOnNorOff = 0xFF;

constexpr char kDot = '.';
constexpr char kMacSeparator = '-';
constexpr char kValueEnd = ';';
constexpr std::uint8_t kAbsentByte = 0xFF;
constexpr unsigned kDecimalBase = 10;
constexpr unsigned kHexBase = 16;

constexpr std::size_t kAddressParts = 4;
constexpr std::size_t kVersionParts = 3;
constexpr std::size_t kProtocolVersionParts = 2;
constexpr unsigned kBitsPerByte = 8;

constexpr char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool isDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

// White space as the C locale knows it.
constexpr bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigitValue(char c)
{
    if (isDecimalDigit(c))
        return c - '0';
    const char lower = asciiLower(c);
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

bool equalNoCase(char a, char b)
{
    return asciiLower(a) == asciiLower(b);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), equalNoCase);
}

// Position just behind the first occurrence of key anywhere in text, letters
// compared without case; npos when the key does not occur.
std::size_t findValue(std::string_view text, std::string_view key)
{
    const auto match = std::search(text.begin(), text.end(), key.begin(), key.end(), equalNoCase);
    if (match == text.end())
        return std::string_view::npos;
    return static_cast<std::size_t>(match - text.begin()) + key.size();
}

std::size_t skipBlanks(std::string_view text, std::size_t position)
{
    while (position < text.size() && isBlank(text[position]))
        ++position;
    return position;
}

// Reads an optional sign at position; true when it was '-'.
bool readSign(std::string_view text, std::size_t& position)
{
    if (position < text.size() && (text[position] == '+' || text[position] == '-'))
        return text[position++] == '-';
    return false;
}

// A decimal number: blanks skipped, optional sign, digits up to the first
// non-digit; no digits give 0. Arithmetic wraps modulo 2^64, so the low
// bits the callers keep are those of the written number however long it
// is, and a negative number keeps its two's-complement low bits.
std::uint64_t readDecimal(std::string_view text, std::size_t position)
{
    position = skipBlanks(text, position);
    const bool negative = readSign(text, position);
    std::uint64_t value = 0;
    for (; position < text.size() && isDecimalDigit(text[position]); ++position)
        value = value * kDecimalBase + static_cast<std::uint64_t>(text[position] - '0');
    return negative ? 0 - value : value;
}

// The numbers of a dotted value: the first at `position`, each later one
// behind the next '.' searched from where the previous number began. That
// search may run past the value's ';' into later pairs. When no further
// '.' exists in the rest of the text the remaining numbers read as 0.
template <std::size_t Count>
std::array<std::uint64_t, Count> readDotted(std::string_view text, std::size_t position)
{
    std::array<std::uint64_t, Count> numbers{};
    for (std::size_t i = 0; i < Count; ++i) {
        if (i > 0) {
            const std::size_t dot = text.find(kDot, position);
            if (dot == std::string_view::npos)
                break;
            position = dot + 1;
        }
        numbers[i] = readDecimal(text, position);
    }
    return numbers;
}

std::uint8_t lowByte(std::uint64_t value)
{
    return static_cast<std::uint8_t>(value);
}

std::uint32_t readAddress(std::string_view text, std::size_t position)
{
    std::uint32_t address = 0;
    for (const std::uint64_t number : readDotted<kAddressParts>(text, position))
        address = (address << kBitsPerByte) | lowByte(number);
    return address;
}

// One hexadecimal number as "%x" scans it: blanks, optional sign, optional
// "0x", at least one digit. Empty when no digit is there.
std::optional<std::uint64_t> readHex(std::string_view text, std::size_t& position)
{
    std::size_t at = skipBlanks(text, position);
    const bool negative = readSign(text, at);
    // "0x" counts as a prefix only when a digit follows; "0xg" reads as 0.
    const bool hasPrefix =
        at + 2 < text.size() && text[at] == '0' && asciiLower(text[at + 1]) == 'x' && hexDigitValue(text[at + 2]) >= 0;
    if (hasPrefix)
        at += 2;
    if (at >= text.size() || hexDigitValue(text[at]) < 0)
        return std::nullopt;
    std::uint64_t value = 0;
    for (; at < text.size() && hexDigitValue(text[at]) >= 0; ++at)
        value = value * kHexBase + static_cast<std::uint64_t>(hexDigitValue(text[at]));
    position = at;
    return negative ? 0 - value : value;
}

// "%x-%x-%x-%x-%x-%x": six hexadecimal numbers joined by a literal '-',
// low 8 bits each. Reading stops at the first text that does not fit;
// bytes not reached keep what mac held.
void readMac(std::string_view text, std::size_t position, std::uint8_t* mac)
{
    for (std::size_t i = 0; i < QORT_MAC_SIZE; ++i) {
        if (i > 0) {
            if (position >= text.size() || text[position] != kMacSeparator)
                return;
            ++position;
        }
        const auto number = readHex(text, position);
        if (!number)
            return;
        mac[i] = lowByte(*number);
    }
}

// Text up to the next ';' (or the end of the reply), at most 127
// characters, then a NUL. Bytes behind the NUL keep what field held.
void copyTextValue(std::string_view text, std::size_t position, char (&field)[QORT_TEXT_FIELD_SIZE])
{
    std::string_view value = text.substr(position);
    value = value.substr(0, std::min(value.find(kValueEnd), kMaxTextValueLength));
    std::memcpy(field, value.data(), value.size());
    field[value.size()] = '\0';
}

std::uint8_t readOnOff(std::string_view text, std::size_t position)
{
    const std::string_view value = text.substr(position);
    if (startsWithNoCase(value, kOff))
        return 0;
    if (startsWithNoCase(value, kOn))
        return 1;
    return kNeitherOnNorOff;
}

QORT_ModuleScanResponseType emptyResponse()
{
    QORT_ModuleScanResponseType response;
    std::memset(&response, kAbsentByte, sizeof response);
    response.ProtocolVersionValid = 0;
    response.FbTypeValid = 0;
    response.ModuleVersionValid = 0;
    response.MacIdValid = 0;
    response.IpAddrValid = 0;
    response.SubnetMaskValid = 0;
    response.GatewayValid = 0;
    response.DhcpValid = 0;
    response.PswdValid = 0;
    response.HostNameValid = 0;
    response.Dns1Valid = 0;
    response.Dns2Valid = 0;
    return response;
}

void parseProtocolVersion(std::string_view text, QORT_ModuleScanResponseType& response)
{
    const std::size_t value = findValue(text, kProtocolVersionKey);
    if (value == std::string_view::npos)
        return;
    const auto numbers = readDotted<kProtocolVersionParts>(text, value);
    response.ProtocolVersionMajor = lowByte(numbers[0]);
    response.ProtocolVersionMinor = lowByte(numbers[1]);
    response.ProtocolVersionValid = 1;
}

void parseModuleVersion(std::string_view text, QORT_ModuleScanResponseType& response)
{
    const std::size_t value = findValue(text, kModuleVersionKey);
    if (value == std::string_view::npos)
        return;
    const auto numbers = readDotted<kVersionParts>(text, value);
    response.ModuleVersionMajor = lowByte(numbers[0]);
    response.ModuleVersionMinor = lowByte(numbers[1]);
    response.ModuleVersionBuild = static_cast<std::uint16_t>(numbers[2]);
    response.ModuleVersionValid = 1;
}

void parseText(std::string_view text, std::string_view key, char (&field)[QORT_TEXT_FIELD_SIZE], std::uint8_t& valid)
{
    const std::size_t value = findValue(text, key);
    if (value == std::string_view::npos)
        return;
    copyTextValue(text, value, field);
    valid = 1;
}

void parseMac(std::string_view text, QORT_ModuleScanResponseType& response)
{
    const std::size_t value = findValue(text, kMacKey);
    if (value == std::string_view::npos)
        return;
    readMac(text, value, response.MacId);
    response.MacIdValid = 1;
}

void parseAddress(std::string_view text, std::string_view key, std::uint32_t& address, std::uint8_t& valid)
{
    const std::size_t value = findValue(text, key);
    if (value == std::string_view::npos)
        return;
    address = readAddress(text, value);
    valid = 1;
}

void parseOnOff(std::string_view text, std::string_view key, std::uint8_t& flag, std::uint8_t& valid)
{
    const std::size_t value = findValue(text, key);
    if (value == std::string_view::npos)
        return;
    flag = readOnOff(text, value);
    valid = 1;
}

// Formats into a small stack buffer; the formats used here have a known
// widest output, which the callers' buffers hold.
template <std::size_t Size, typename... Args>
std::string_view format(std::array<char, Size>& buffer, const char* pattern, Args... args)
{
    const int length = std::snprintf(buffer.data(), buffer.size(), pattern, args...);
    if (length < 0 || static_cast<std::size_t>(length) >= buffer.size())
        return {};
    return {buffer.data(), static_cast<std::size_t>(length)};
}

using MacTextBuffer = std::array<char, wire::kMacTextLength + 1>;
using AddressTextBuffer = std::array<char, wire::kLongestAddressTextLength + 1>;

std::string_view macText(MacTextBuffer& buffer, const std::uint8_t* mac)
{
    return format(buffer, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

std::string_view addressText(AddressTextBuffer& buffer, std::uint32_t address)
{
    return format(buffer, "%u.%u.%u.%u", (address >> 24) & 0xFFu, (address >> 16) & 0xFFu, (address >> 8) & 0xFFu,
        address & 0xFFu);
}

// The field's text when its NUL lies inside the field.
std::optional<std::string_view> terminatedText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    const void* nul = std::memchr(field, '\0', QORT_TEXT_FIELD_SIZE);
    if (nul == nullptr)
        return std::nullopt;
    return std::string_view(field, static_cast<std::size_t>(static_cast<const char*>(nul) - field));
}

bool appendPiece(RequestText& request, std::string_view key, std::string_view value)
{
    return request.append(key) && request.append(value) && request.append(wire::kPieceEnd);
}

bool appendAddressPiece(RequestText& request, std::string_view key, std::uint32_t address)
{
    if (address == QORT_ADDR_NOT_GIVEN)
        return true;
    AddressTextBuffer buffer;
    return appendPiece(request, key, addressText(buffer, address));
}

bool appendDhcpPiece(RequestText& request, std::uint8_t dhcp)
{
    if (dhcp == wire::kDhcpOff)
        return request.append(wire::kDhcpOffPiece);
    if (dhcp == wire::kDhcpOn)
        return request.append(wire::kDhcpOnPiece);
    return true;
}

} // namespace

bool RequestText::append(std::string_view piece)
{
    // One byte stays free for the NUL.
    if (piece.size() >= kCapacity - length_)
        return false;
    std::memcpy(bytes_.data() + length_, piece.data(), piece.size());
    length_ += piece.size();
    bytes_[length_] = '\0';
    return true;
}

RequestText buildScanRequest()
{
    RequestText request;
    request.append(wire::kScanRequest);
    return request;
}

RequestText buildWinkRequest(const QORT_ConfigureRequestType& request)
{
    RequestText wink;
    MacTextBuffer mac;
    wink.append(wire::kWinkPrefix);
    wink.append(macText(mac, request.MacId));
    wink.append(wire::kWinkSuffix);
    return wink;
}

std::optional<RequestText> buildConfigureRequest(const QORT_ConfigureRequestType& request)
{
    const bool changesPassword = request.ChangePassword == wire::kChangePassword;
    const auto password = terminatedText(request.Password);
    const auto newPassword = changesPassword ? terminatedText(request.NewPassword) : std::string_view();
    const auto hostName = terminatedText(request.HostName);
    if (!password || !newPassword || !hostName)
        return std::nullopt;

    RequestText text;
    MacTextBuffer mac;
    bool fits = appendPiece(text, wire::kConfigurePrefix, macText(mac, request.MacId));
    if (!password->empty())
        fits = fits && appendPiece(text, wire::kPasswordKey, *password);
    if (changesPassword)
        fits = fits && appendPiece(text, wire::kNewPasswordKey, *newPassword);
    fits = fits && appendAddressPiece(text, wire::kIpKey, request.IpAddr);
    fits = fits && appendAddressPiece(text, wire::kSubnetMaskKey, request.SubnetMask);
    fits = fits && appendAddressPiece(text, wire::kGatewayKey, request.Gateway);
    fits = fits && appendDhcpPiece(text, request.Dhcp);
    // The host-name piece is always sent; an empty name clears the module's.
    fits = fits && appendPiece(text, wire::kHostNameKey, *hostName);
    fits = fits && appendAddressPiece(text, wire::kDns1Key, request.Dns1);
    fits = fits && appendAddressPiece(text, wire::kDns2Key, request.Dns2);
    // The buffer is sized for the longest request (see RequestText), so this
    // only guards against a future piece outgrowing that bound.
    if (!fits)
        return std::nullopt;
    return text;
}

ReplyKind classifyReply(std::string_view text)
{
    if (startsWithNoCase(text, kReconfiguredPrefix))
        return ReplyKind::Reconfigured;
    if (startsWithNoCase(text, kInvalidPasswordPrefix))
        return ReplyKind::InvalidPassword;
    if (startsWithNoCase(text, wire::kScanRequest))
        return ReplyKind::OwnScanEcho;
    return ReplyKind::ScanReply;
}

QORT_ModuleScanResponseType parseScanReply(std::string_view text)
{
    QORT_ModuleScanResponseType response = emptyResponse();
    parseProtocolVersion(text, response);
    parseText(text, kFbTypeKey, response.FbType, response.FbTypeValid);
    parseModuleVersion(text, response);
    parseMac(text, response);
    parseAddress(text, kIpKey, response.IpAddr, response.IpAddrValid);
    parseAddress(text, kSubnetMaskKey, response.SubnetMask, response.SubnetMaskValid);
    parseAddress(text, kGatewayKey, response.Gateway, response.GatewayValid);
    parseOnOff(text, kDhcpKey, response.Dhcp, response.DhcpValid);
    parseOnOff(text, kPswdKey, response.Pswd, response.PswdValid);
    parseText(text, kHostNameKey, response.HostName, response.HostNameValid);
    parseAddress(text, kDns1Key, response.Dns1, response.Dns1Valid);
    parseAddress(text, kDns2Key, response.Dns2, response.Dns2Valid);
    return response;
}

MacAddress parseInvalidPasswordReply(std::string_view text)
{
    MacAddress mac;
    mac.fill(kAbsentByte);
    const std::size_t value = findValue(text, kInvalidPasswordKey);
    if (value != std::string_view::npos)
        readMac(text, value, mac.data());
    return mac;
}

MacAddress parseReconfiguredReply(std::string_view text)
{
    MacAddress mac;
    mac.fill(kAbsentByte);
    std::size_t value = kReconfiguredPrefix.size();
    while (value < text.size() && (text[value] == ' ' || text[value] == '\t'))
        ++value;
    if (value < text.size())
        readMac(text, value, mac.data());
    return mac;
}

} // namespace qort
