#include "commissioning/change.h"

#include "commissioning/addressfields.h"
#include "modules/columntexts.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/ethernetconfigfields.h"
#include "platform/textescape.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace commissioning {
namespace {

std::string_view fieldText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return {field, ::strnlen(field, QORT_TEXT_FIELD_SIZE)};
}

std::string quotedName(std::string_view name)
{
    return "\"" + platform::escapeBytes(name) + "\"";
}

std::string onOff(std::uint8_t value)
{
    return value == kOn ? "on" : "off";
}

bool reportsDhcpOn(const QORT_ModuleScanResponseType& found)
{
    return found.DhcpValid == kValid && found.Dhcp == kOn;
}

void addAddressChanges(const QORT_ModuleScanResponseType& found, const QORT_ConfigureRequestType& request,
    std::vector<FieldChange>& fields)
{
    for (const AddressField& setting : kAddressFields) {
        const std::uint32_t sent = request.*setting.sent;
        if (sent == QORT_ADDR_NOT_GIVEN)
            continue;
        const bool reported = found.*setting.valid == kValid;
        if (!reported || found.*setting.value != sent)
            fields.push_back(
                {setting.name, reported ? modules::formatDottedAddress(found.*setting.value) : kNotReported,
                    modules::formatDottedAddress(sent)});
    }
}

// Every request carries a host name; an empty one to a module that keeps
// none is no change (the verification reads it the same way).
void addNameChange(const QORT_ModuleScanResponseType& found, const QORT_ConfigureRequestType& request,
    std::vector<FieldChange>& fields)
{
    const std::string_view sent = fieldText(request.HostName);
    if (found.HostNameValid != kValid) {
        if (!sent.empty())
            fields.push_back({"hostname", kNotReported, quotedName(sent)});
        return;
    }
    const std::string_view reported = fieldText(found.HostName);
    if (reported != sent)
        fields.push_back({"hostname", quotedName(reported), quotedName(sent)});
}

void addDhcpChange(const QORT_ModuleScanResponseType& found, const QORT_ConfigureRequestType& request,
    std::vector<FieldChange>& fields)
{
    if (request.Dhcp != kOn && request.Dhcp != kOff)
        return;
    const bool reported = found.DhcpValid == kValid && (found.Dhcp == kOn || found.Dhcp == kOff);
    if (!reported || found.Dhcp != request.Dhcp)
        fields.push_back({"dhcp", reported ? onOff(found.Dhcp) : kNotReported, onOff(request.Dhcp)});
}

bool setByDhcp(const FieldChange& change)
{
    return std::any_of(std::begin(kAddressFields), std::end(kAddressFields),
        [&change](const AddressField& setting) { return setting.setByDhcp && change.field == setting.name; });
}

} // namespace

Change changeOf(const QORT_ModuleScanResponseType& found, const QORT_ConfigureRequestType& request)
{
    Change change{found, request, {}};
    addAddressChanges(found, request, change.fields);
    addNameChange(found, request, change.fields);
    addDhcpChange(found, request, change.fields);
    return change;
}

bool writesSomething(const Change& change)
{
    const bool dhcpStaysOn = reportsDhcpOn(change.found) && change.request.Dhcp == kOn;
    return std::any_of(change.fields.begin(), change.fields.end(),
        [dhcpStaysOn](const FieldChange& field) { return !(dhcpStaysOn && setByDhcp(field)); });
}

bool changesField(const Change& change, const char* field)
{
    return std::any_of(
        change.fields.begin(), change.fields.end(), [field](const FieldChange& f) { return f.field == field; });
}

std::string changeText(const Change& change)
{
    std::string text;
    for (const FieldChange& field : change.fields)
        text += (text.empty() ? "" : ", ") + field.field + " " + field.before + " -> " + field.after;
    return text;
}

std::optional<std::string> writeProblem(const Change& change)
{
    const std::string_view name = fieldText(change.request.HostName);
    if (changesField(change, "hostname") && !modules::isLegalHostName(name))
        return "hostname " + quotedName(name) + ": " + std::string(modules::kIllegalHostNameMessage);
    if (changesField(change, "hostname") && name.size() > modules::kConfigTextMaxChars)
        return "hostname " + quotedName(name) + " is longer than " + std::to_string(modules::kConfigTextMaxChars)
            + " characters";
    if (changesField(change, "ip") && !modules::isAcceptableIpAddress(change.request.IpAddr))
        return "ip " + modules::formatDottedAddress(change.request.IpAddr) + ": "
            + std::string(modules::kIpLastByte255Message);
    return std::nullopt;
}

bool cutsReportedName(const Change& change)
{
    if (change.found.HostNameValid != kValid)
        return false;
    const std::string_view reported = fieldText(change.found.HostName);
    const std::string_view sent = fieldText(change.request.HostName);
    return reported.size() > modules::kConfigTextMaxChars && reported.substr(0, sent.size()) == sent
        && sent.size() == modules::kConfigTextMaxChars;
}

std::optional<std::uint32_t> addressToAsk(const Change& change)
{
    if (!changesField(change, "ip") || change.request.IpAddr == 0)
        return std::nullopt;
    return change.request.IpAddr;
}

AuditEntry auditEntry(const Change& change, const std::string& program, WriteResult result)
{
    return AuditEntry{program, change.found, change.request, result};
}

} // namespace commissioning
