#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace modules {

// The values the Ethernet configuration dialog exchanges with its caller.
// The caller fills the inputs before the modal run and reads the outputs
// after it; the dialog itself never talks to the protocol library.
//
// Addresses are a.b.c.d stored as a<<24 | b<<16 | c<<8 | d, the same form as
// the library's records. A Valid byte counts only when it equals 1.

// Every text field: at most 29 characters and its NUL.
constexpr std::size_t kConfigTextSize = 30;
constexpr std::size_t kConfigTextMaxChars = kConfigTextSize - 1;

// DhcpChoice: index of the checked radio button of the DHCP group.
constexpr std::int32_t kDhcpChoiceNone = -1;
constexpr std::int32_t kDhcpChoiceOn = 0;
constexpr std::int32_t kDhcpChoiceOff = 1;

using ConfigText = char[kConfigTextSize];

struct EthernetConfigFields {
    std::int32_t PasswordProtected = 0; // input: 0 makes the Password edit read-only
    ConfigText NewPassword = {};        // output
    ConfigText Password = {};           // output: the current password typed
    ConfigText HostName = {};           // input (when HostNameValid is 1) and output
    std::uint32_t SubnetMask = 0;       // input and output
    std::uint32_t IpAddr = 0;
    std::uint32_t Gateway = 0;
    std::uint32_t Dns1 = 0;
    std::uint32_t Dns2 = 0;
    std::uint8_t HostNameValid = 0; // inputs: 1 = the value is known
    std::uint8_t SubnetMaskValid = 0;
    std::uint8_t IpAddrValid = 0;
    std::uint8_t GatewayValid = 0;
    std::uint8_t Dns1Valid = 0;
    std::uint8_t Dns2Valid = 0;
    std::string Title;                         // input: the window caption
    std::int32_t DhcpChoice = kDhcpChoiceNone; // input and output
    std::int32_t ChangePassword = 0;           // output: 1 when "Change password" is checked
};

// Stores text in a field: empty text gives an empty field, longer text is
// cut to its first 29 bytes without notice. The field is always
// NUL-terminated afterwards.
void storeConfigText(ConfigText& field, std::string_view text);

// The text of a field, up to its NUL or its end, whichever comes first, so a
// field that somebody filled without a terminator is never read past.
std::string_view configTextView(const ConfigText& field);

} // namespace modules
