#pragma once

#include <cstdint>
#include <string_view>

namespace modules {

// The two checks "Set" runs before the dialog may end, and the fixed texts
// it shows when one fails. Nothing else in the dialog is checked: mask,
// gateway, DNS, DHCP choice and passwords go out as typed.

inline constexpr std::string_view kIllegalHostNameMessage = "Illegal hostname! Only a-z, A-Z and 0-9 allowed.";
inline constexpr std::string_view kIpLastByte255Message = "Last digit of IP address can not be 255.";

// True when every byte is an ASCII letter or digit. Empty passes, and the
// length is not limited here. Spaces, hyphens, dots, NULs and every byte of
// 128 or more are refused.
bool isLegalHostName(std::string_view hostName);

// False when the address's last dotted number (its least significant byte)
// is 255. A blank address control reads 0 and passes.
bool isAcceptableIpAddress(std::uint32_t ipAddr);

} // namespace modules
