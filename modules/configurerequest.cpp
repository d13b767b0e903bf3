#include "modules/configurerequest.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace modules {

namespace {

constexpr std::uint8_t kValid = 1;
constexpr std::uint8_t kDhcpRequestOff = 0;
constexpr std::uint8_t kDhcpRequestOn = 1;
constexpr std::uint8_t kDhcpRequestNotGiven = 2;

// A record's text field: up to its NUL, never past its end (the library
// leaves absent fields unterminated).
std::string_view RecordText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return {field, ::strnlen(field, QORT_TEXT_FIELD_SIZE)};
}

// Bounded copy into a request's text field: stops at the source's end, fills
// the rest with zero bytes and always leaves the last byte NUL, as the
// library requires of every text field it formats.
void CopyRequestText(char (&target)[QORT_TEXT_FIELD_SIZE], std::string_view text)
{
    std::memset(target, 0, QORT_TEXT_FIELD_SIZE);
    if (!text.empty()) // an empty view may have no storage at all
        std::memcpy(target, text.data(), std::min(text.size(), std::size_t{QORT_TEXT_FIELD_SIZE - 1}));
}

void CopyRequestText(char (&target)[QORT_TEXT_FIELD_SIZE], const ConfigText& source)
{
    CopyRequestText(target, configTextView(source));
}

// The given address, else the reported one, else left out.
std::uint32_t RequestAddress(
    const std::optional<std::uint32_t>& given, std::uint8_t recordValid, std::uint32_t recordValue)
{
    if (given)
        return *given;
    return recordValid == kValid ? recordValue : QORT_ADDR_NOT_GIVEN;
}

std::uint8_t RequestDhcp(const std::optional<bool>& given, const QORT_ModuleScanResponseType& found)
{
    if (given)
        return *given ? kDhcpRequestOn : kDhcpRequestOff;
    const bool reportedOnOrOff =
        found.DhcpValid == kValid && (found.Dhcp == kDhcpRequestOff || found.Dhcp == kDhcpRequestOn);
    return reportedOnOrOff ? found.Dhcp : kDhcpRequestNotGiven;
}

void PrefillAddress(std::uint8_t recordValid, std::uint32_t recordValue, std::uint8_t& valid, std::uint32_t& value)
{
    if (recordValid == kValid) {
        valid = kValid;
        value = recordValue;
    } else {
        valid = 0;
    }
}

} // namespace

void prefillConfigFields(const QORT_ModuleScanResponseType& found, EthernetConfigFields& fields)
{
    PrefillAddress(found.IpAddrValid, found.IpAddr, fields.IpAddrValid, fields.IpAddr);
    PrefillAddress(found.SubnetMaskValid, found.SubnetMask, fields.SubnetMaskValid, fields.SubnetMask);
    PrefillAddress(found.GatewayValid, found.Gateway, fields.GatewayValid, fields.Gateway);
    PrefillAddress(found.Dns1Valid, found.Dns1, fields.Dns1Valid, fields.Dns1);
    PrefillAddress(found.Dns2Valid, found.Dns2, fields.Dns2Valid, fields.Dns2);

    if (found.HostNameValid == kValid) {
        fields.HostNameValid = kValid;
        storeConfigText(fields.HostName, RecordText(found.HostName));
    } else {
        fields.HostNameValid = 0;
    }

    // Any non-zero DHCP value preselects "On" (also 0xFF, which the list shows
    // as "Off"); the list and the dialog deliberately read the value apart.
    fields.DhcpChoice = (found.DhcpValid == 0 || found.Dhcp == 0) ? kDhcpChoiceOff : kDhcpChoiceOn;
    fields.PasswordProtected = (found.PswdValid != 0 && found.Pswd != 0) ? 1 : 0;
}

QORT_ConfigureRequestType buildConfigureRequest(
    const QORT_ModuleScanResponseType& found, const EthernetConfigFields& fields)
{
    QORT_ConfigureRequestType request{};
    std::memcpy(request.MacId, found.MacId, QORT_MAC_SIZE);
    request.IpAddr = fields.IpAddr;
    request.SubnetMask = fields.SubnetMask;
    request.Gateway = fields.Gateway;
    request.Dns1 = fields.Dns1;
    request.Dns2 = fields.Dns2;
    request.Dhcp = fields.DhcpChoice == kDhcpChoiceOn ? kDhcpRequestOn : kDhcpRequestOff;
    copyRequestPasswords(request, fields);
    CopyRequestText(request.HostName, fields.HostName);
    return request;
}

void copyRequestPasswords(QORT_ConfigureRequestType& request, const EthernetConfigFields& fields)
{
    CopyRequestText(request.Password, fields.Password);
    if (fields.ChangePassword == 1) {
        request.ChangePassword = 1;
        CopyRequestText(request.NewPassword, fields.NewPassword);
    } else {
        request.ChangePassword = 0;
        std::memset(request.NewPassword, 0, QORT_TEXT_FIELD_SIZE);
    }
}

std::optional<QORT_ConfigureRequestType> buildCommandLineConfigureRequest(
    const QORT_ModuleScanResponseType& found, const GivenSettings& given)
{
    std::string_view hostName;
    if (given.hostName) {
        hostName = *given.hostName;
    } else if (found.HostNameValid == kValid) {
        hostName = RecordText(found.HostName);
        if (hostName.size() > kConfigTextMaxChars)
            return std::nullopt;
    }
    QORT_ConfigureRequestType request{};
    std::memcpy(request.MacId, found.MacId, QORT_MAC_SIZE);
    request.IpAddr = RequestAddress(given.ip, found.IpAddrValid, found.IpAddr);
    request.SubnetMask = RequestAddress(given.mask, found.SubnetMaskValid, found.SubnetMask);
    request.Gateway = RequestAddress(given.gateway, found.GatewayValid, found.Gateway);
    request.Dns1 = RequestAddress(given.dns1, found.Dns1Valid, found.Dns1);
    request.Dns2 = RequestAddress(given.dns2, found.Dns2Valid, found.Dns2);
    request.Dhcp = RequestDhcp(given.dhcp, found);
    CopyRequestText(request.HostName, hostName);
    return request;
}

} // namespace modules
