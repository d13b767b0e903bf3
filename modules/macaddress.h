#ifndef MODULES_MACADDRESS_H
#define MODULES_MACADDRESS_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/qort.h"

namespace modules {

// Six bytes in written order, as in QORT_ModuleScanResponseType::MacId.
using MacAddress = std::array<std::uint8_t, QORT_MAC_SIZE>;

// "00-30-11-0A-BC-0F": two upper-case hexadecimal digits per byte.
std::string formatMac(const MacAddress& mac);

MacAddress macOfRecord(const QORT_ModuleScanResponseType& record);
// The module a Configure or Wink request is addressed to.
MacAddress macOfRequest(const QORT_ConfigureRequestType& request);

// Characters of a MAC column text that are read back: six two-digit
// numbers and five dashes.
inline constexpr std::size_t kMacTextReadLimit = 17;

// Reads a MAC back from a list row's text as "%x-%x-%x-%x-%x-%x" would,
// looking at no more than the first kMacTextReadLimit characters; each number
// gives its low 8 bits. No value when fewer than six numbers can be read,
// so a row without a readable MAC never yields made-up bytes.
std::optional<MacAddress> parseRowMac(std::string_view text);

// The strict form people type and files hold: six two-digit hexadecimal
// numbers joined by '-' or ':' (one of them throughout), any case:
// 00-30-11-0A-BC-0F or 00:30:11:0a:bc:0f.
std::optional<MacAddress> parseMacText(std::string_view text);

} // namespace modules

#endif
