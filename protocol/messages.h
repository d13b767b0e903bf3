#ifndef PROTOCOL_MESSAGES_H
#define PROTOCOL_MESSAGES_H

// The texts of the module protocol: building requests, telling replies
// apart and parsing them. Pure functions without state or sockets; the
// engine calls them with its lock held.
//
// Received texts are passed as string_views that end where the text ends
// (at its first NUL or at the end of the datagram). No function reads
// outside the view, and none needs a terminating NUL.

#include "protocol/qort.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qort {

constexpr std::uint16_t kProtocolPort = 3250;
// Replies longer than this are discarded whole.
constexpr std::size_t kMaxReplyLength = 1500;
// Longest text copied into a record's 128-byte field; a NUL follows it.
constexpr std::size_t kMaxTextValueLength = QORT_TEXT_FIELD_SIZE - 1;

using MacAddress = std::array<std::uint8_t, QORT_MAC_SIZE>;

namespace wire {
constexpr std::string_view kScanRequest = "Module Scan";
constexpr std::string_view kWinkPrefix = "To: ";
constexpr std::string_view kWinkSuffix = ";WINK;";
constexpr std::string_view kConfigurePrefix = "Configure: ";
constexpr std::string_view kPieceEnd = ";";
constexpr std::string_view kPasswordKey = "Password: ";
constexpr std::string_view kNewPasswordKey = "New Password = ";
constexpr std::string_view kIpKey = "IP = ";
constexpr std::string_view kSubnetMaskKey = "SN = ";
constexpr std::string_view kGatewayKey = "GW = ";
constexpr std::string_view kDhcpOffPiece = "DHCP = OFF;";
constexpr std::string_view kDhcpOnPiece = "DHCP = ON;";
constexpr std::string_view kHostNameKey = "HN = ";
constexpr std::string_view kDns1Key = "DNS1 = ";
constexpr std::string_view kDns2Key = "DNS2 = ";

constexpr std::size_t kMacTextLength = 17;            // "XX-XX-XX-XX-XX-XX"
constexpr std::size_t kLongestAddressTextLength = 15; // "255.255.255.255"

constexpr std::uint8_t kDhcpOff = 0;
constexpr std::uint8_t kDhcpOn = 1;
constexpr std::uint8_t kChangePassword = 1;

constexpr std::size_t pieceLength(std::string_view key, std::size_t valueLength)
{
    return key.size() + valueLength + kPieceEnd.size();
}

// The longest Configure text a record can produce: every piece present,
// every text field at its full 127 characters, every address at its widest.
constexpr std::size_t kLongestConfigureTextLength = pieceLength(kConfigurePrefix, kMacTextLength)
    + pieceLength(kPasswordKey, kMaxTextValueLength) + pieceLength(kNewPasswordKey, kMaxTextValueLength)
    + pieceLength(kIpKey, kLongestAddressTextLength) + pieceLength(kSubnetMaskKey, kLongestAddressTextLength)
    + pieceLength(kGatewayKey, kLongestAddressTextLength)
    + (kDhcpOffPiece.size() > kDhcpOnPiece.size() ? kDhcpOffPiece.size() : kDhcpOnPiece.size())
    + pieceLength(kHostNameKey, kMaxTextValueLength) + pieceLength(kDns1Key, kLongestAddressTextLength)
    + pieceLength(kDns2Key, kLongestAddressTextLength);

constexpr std::size_t kWinkTextLength = kWinkPrefix.size() + kMacTextLength + kWinkSuffix.size();
} // namespace wire

// A request text in a buffer sized for the longest request there is, so
// that building one never cuts it short. Sent with its terminating NUL.
class RequestText {
public:
    static constexpr std::size_t kCapacity = wire::kLongestConfigureTextLength + 1;

    // False (and nothing appended) when the text would not fit with its NUL.
    bool append(std::string_view piece);
    std::string_view text() const { return {bytes_.data(), length_}; }
    // The datagram: the text followed by its NUL.
    const char* data() const { return bytes_.data(); }
    std::size_t sizeWithNul() const { return length_ + 1; }

private:
    std::array<char, kCapacity> bytes_{};
    std::size_t length_ = 0;
};

static_assert(wire::kWinkTextLength < RequestText::kCapacity);
static_assert(wire::kScanRequest.size() < RequestText::kCapacity);

enum class ReplyKind {
    Reconfigured,    // "Reconfigured:" - a module applied a Configure request
    InvalidPassword, // "Invalid Password:" - a module refused one
    OwnScanEcho,     // "Module Scan" - our own scan delivered back to us
    ScanReply,       // anything else
};

RequestText buildScanRequest();
RequestText buildWinkRequest(const QORT_ConfigureRequestType& request);
// Empty when a text field the request would carry lacks its NUL within
// its 128 bytes: such a record breaks the caller's contract, and sending a
// guess at the text (a cut password, say) could misconfigure a module.
std::optional<RequestText> buildConfigureRequest(const QORT_ConfigureRequestType& request);

ReplyKind classifyReply(std::string_view text);
QORT_ModuleScanResponseType parseScanReply(std::string_view text);
MacAddress parseInvalidPasswordReply(std::string_view text);
// The MAC after "Reconfigured:" (blanks before it skipped); bytes it does
// not give read 0xFF, as for an invalid-password answer.
MacAddress parseReconfiguredReply(std::string_view text);

} // namespace qort

#endif
