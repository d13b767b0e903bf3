#include "commissioning/verification.h"

#include "commissioning/addressfields.h"
#include "modules/columntexts.h"
#include "platform/textescape.h"

#include <cstring>
#include <optional>

namespace commissioning {
namespace {

std::string line(const char* field, const std::string& seen, const std::string& sent)
{
    return std::string("not verified: ") + field + " is " + seen + ", sent " + sent;
}

std::optional<std::string> reportedText(const QORT_ModuleScanResponseType& seen, const AddressField& field)
{
    if (seen.*field.valid != kValid)
        return std::nullopt;
    return modules::formatDottedAddress(seen.*field.value);
}

std::string onOffText(std::uint8_t value)
{
    return value == kOn ? "on" : value == kOff ? "off" : "neither on nor off";
}

// Quoted and escaped: a module's name may hold any byte, and the line goes
// to a terminal.
std::string quotedName(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return "\"" + platform::escapeBytes({field, ::strnlen(field, QORT_TEXT_FIELD_SIZE)}) + "\"";
}

} // namespace

std::vector<std::string> unverifiedFields(
    const QORT_ConfigureRequestType& sent, const QORT_ModuleScanResponseType& seen)
{
    const bool dhcpTurnedOn = sent.Dhcp == kOn;
    std::vector<std::string> lines;
    for (const AddressField& field : kAddressFields) {
        const std::uint32_t value = sent.*field.sent;
        if (value == QORT_ADDR_NOT_GIVEN || (dhcpTurnedOn && field.setByDhcp))
            continue;
        const std::string sentText = modules::formatDottedAddress(value);
        const std::string seenText = reportedText(seen, field).value_or(kNotReported);
        if (seenText != sentText)
            lines.push_back(line(field.label, seenText, sentText));
    }
    // A module that keeps no host name reports none; the empty name every
    // request to it carries is then no difference.
    const std::string sentName = quotedName(sent.HostName);
    const std::string seenName = seen.HostNameValid == kValid ? quotedName(seen.HostName) : kNotReported;
    const bool nameless = seen.HostNameValid != kValid && sent.HostName[0] == '\0';
    if (seenName != sentName && !nameless)
        lines.push_back(line("host name", seenName, sentName));
    if (sent.Dhcp == kOn || sent.Dhcp == kOff) {
        const std::string seenDhcp = seen.DhcpValid == kValid ? onOffText(seen.Dhcp) : kNotReported;
        if (seenDhcp != onOffText(sent.Dhcp))
            lines.push_back(line("DHCP", seenDhcp, onOffText(sent.Dhcp)));
    }
    return lines;
}

} // namespace commissioning
