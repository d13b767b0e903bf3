#include "commissioning/scanwarnings.h"

#include "commissioning/addressfields.h"
#include "commissioning/verification.h"
#include "modules/columntexts.h"
#include "modules/moduletext.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <set>

namespace commissioning {
namespace {

constexpr std::uint32_t kNoAddress = 0; // 0.0.0.0: a module without an address yet

bool hasAddress(const QORT_ModuleScanResponseType& record)
{
    return record.IpAddrValid == kValid && record.IpAddr != kNoAddress;
}

bool dhcpOn(const QORT_ModuleScanResponseType& record)
{
    return record.DhcpValid == kValid && record.Dhcp == kOn;
}

// Every IP with the MACs that report it.
std::map<std::uint32_t, std::set<modules::MacAddress>> MacsByIp(const std::vector<QORT_ModuleScanResponseType>& scan)
{
    std::map<std::uint32_t, std::set<modules::MacAddress>> macs;
    for (const QORT_ModuleScanResponseType& record : scan)
        if (hasAddress(record))
            macs[record.IpAddr].insert(modules::macOfRecord(record));
    return macs;
}

bool outsideEverySubnet(const QORT_ModuleScanResponseType& record, const std::vector<AdapterSubnet>& subnets)
{
    return hasAddress(record) && !dhcpOn(record) && !subnetHolding(subnets, record.IpAddr);
}

// The adapter whose own address the module reports.
std::optional<AdapterSubnet> ownAddressHolder(
    const QORT_ModuleScanResponseType& record, const std::vector<AdapterSubnet>& subnets)
{
    if (!hasAddress(record))
        return std::nullopt;
    const auto own = std::find_if(subnets.begin(), subnets.end(),
        [&record](const AdapterSubnet& subnet) { return subnet.address == record.IpAddr; });
    return own == subnets.end() ? std::nullopt : std::optional<AdapterSubnet>(*own);
}

void addOnce(WarningCodes& codes, const char* code)
{
    if (std::find(codes.begin(), codes.end(), code) == codes.end())
        codes.emplace_back(code);
}

std::string dotted(std::uint32_t address)
{
    return modules::formatDottedAddress(address);
}

std::string joined(const std::vector<std::string>& parts, const char* separator)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

std::string sharesText(const QORT_ModuleScanResponseType& record, const std::set<modules::MacAddress>& holders)
{
    std::vector<std::string> others;
    for (const modules::MacAddress& mac : holders)
        if (mac != modules::macOfRecord(record))
            others.push_back(modules::formatMac(mac));
    return "Shares " + dotted(record.IpAddr) + " with " + joined(others, ", ");
}

std::string recordName(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return modules::moduleTextToUtf8({field, ::strnlen(field, QORT_TEXT_FIELD_SIZE)});
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string onOff(std::uint8_t value)
{
    return value == kOn ? "on" : "off";
}

// "IP 10.213.0.91": a field and the value a request sends.
struct SentValue {
    std::string label;
    std::string sent;
    std::optional<std::string> before; // as the module reported it before the write
    std::optional<std::string> seen;   // as it reports it now
};

std::vector<SentValue> sentValues(const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& sent,
    const QORT_ModuleScanResponseType& seen)
{
    const bool dhcpTurnedOn = sent.Dhcp == kOn;
    std::vector<SentValue> values;
    const auto reported = [](const QORT_ModuleScanResponseType& r, const AddressField& f) {
        return r.*f.valid == kValid ? std::optional<std::string>(dotted(r.*f.value)) : std::nullopt;
    };
    for (const AddressField& field : kAddressFields) {
        const std::uint32_t value = sent.*field.sent;
        if (value == QORT_ADDR_NOT_GIVEN || (dhcpTurnedOn && field.setByDhcp))
            continue;
        values.push_back({field.label, dotted(value), reported(before, field), reported(seen, field)});
    }
    const auto name = [](const QORT_ModuleScanResponseType& r) {
        return r.HostNameValid == kValid ? std::optional<std::string>(quoted(recordName(r.HostName))) : std::nullopt;
    };
    values.push_back({"host name", quoted(recordName(sent.HostName)), name(before), name(seen)});
    if (sent.Dhcp == kOn || sent.Dhcp == kOff) {
        const auto dhcp = [](const QORT_ModuleScanResponseType& r) {
            return r.DhcpValid == kValid ? std::optional<std::string>(onOff(r.Dhcp)) : std::nullopt;
        };
        values.push_back({"DHCP", onOff(sent.Dhcp), dhcp(before), dhcp(seen)});
    }
    return values;
}

std::string sentPart(const SentValue& value)
{
    return "Sent " + value.label + " " + value.sent;
}

} // namespace

std::map<modules::MacAddress, WarningCodes> scanWarnings(
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets)
{
    const auto macsByIp = MacsByIp(scan);
    std::map<modules::MacAddress, WarningCodes> warnings;
    for (const QORT_ModuleScanResponseType& record : scan) {
        WarningCodes& codes = warnings[modules::macOfRecord(record)];
        if (hasAddress(record) && macsByIp.at(record.IpAddr).size() > 1)
            addOnce(codes, kWarningDuplicateIp);
        if (ownAddressHolder(record, subnets))
            addOnce(codes, kWarningOwnAddress);
        if (outsideEverySubnet(record, subnets))
            addOnce(codes, kWarningOtherSubnet);
    }
    return warnings;
}

std::map<modules::MacAddress, std::vector<ScanNote>> scanNotes(
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets)
{
    const auto macsByIp = MacsByIp(scan);
    const std::map<modules::MacAddress, WarningCodes> codes = scanWarnings(scan, subnets);
    std::map<modules::MacAddress, std::vector<ScanNote>> notes;
    for (const QORT_ModuleScanResponseType& record : scan) {
        const modules::MacAddress mac = modules::macOfRecord(record);
        std::vector<ScanNote>& said = notes[mac];
        if (!said.empty())
            continue; // a module that answered twice is told of once
        for (const std::string& code : codes.at(mac)) {
            std::string text;
            if (code == kWarningDuplicateIp)
                text = sharesText(record, macsByIp.at(record.IpAddr));
            else if (code == kWarningOwnAddress)
                text = "Uses " + dotted(record.IpAddr) + ", the address of this computer ("
                    + ownAddressHolder(record, subnets)->adapter + "): give it another address";
            else
                text = "Not in any subnet of this computer (" + adapterSubnetsText(subnets)
                    + "): it can still be configured here";
            said.push_back({warningKind(code), text});
        }
    }
    return notes;
}

NoteKind warningKind(const std::string& code)
{
    return code == kWarningOtherSubnet ? NoteKind::Information : NoteKind::Warning;
}

std::string warningText(const std::string& code)
{
    if (code == kWarningDuplicateIp)
        return "Shares its IP with another module of this scan";
    if (code == kWarningOwnAddress)
        return "Uses an address of this computer";
    if (code == kWarningOtherSubnet)
        return "Not in any subnet of this computer: it can still be configured here";
    return code;
}

std::string adapterSubnetsText(const std::vector<AdapterSubnet>& subnets)
{
    if (subnets.empty())
        return "no adapter is up";
    std::vector<std::string> parts;
    parts.reserve(subnets.size());
    for (const AdapterSubnet& subnet : subnets)
        parts.push_back(
            subnet.adapter + " " + dotted(subnet.address) + "/" + std::to_string(std::popcount(subnet.mask)));
    return joined(parts, ", ");
}

std::vector<ScanNote> notVerifiedNotes(const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& sent,
    const QORT_ModuleScanResponseType& seen)
{
    std::vector<ScanNote> notes;
    if (unverifiedFields(sent, seen).empty())
        return notes;
    for (const SentValue& value : sentValues(before, sent, seen)) {
        if (value.seen == value.sent)
            continue;
        // A module that keeps no host name reports none; an empty one sent is no difference.
        if (value.label == "host name" && !value.seen && value.sent == quoted(""))
            continue;
        std::string reports;
        if (!value.seen)
            reports = "the module reports no " + value.label;
        else if (value.seen == value.before)
            reports = "the module still reports " + *value.seen;
        else
            reports = "the module reports " + *value.seen;
        notes.push_back({NoteKind::Failure, sentPart(value) + "; " + reports});
    }
    return notes;
}

ScanNote unansweredNote(const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& sent, bool answered)
{
    std::vector<std::string> changed;
    std::optional<std::string> ip;
    for (const SentValue& value : sentValues(before, sent, before)) {
        if (value.label == std::string("IP"))
            ip = sentPart(value);
        if (value.sent != value.before && !(value.label == "host name" && !value.before && value.sent == quoted("")))
            changed.push_back(value.label + " " + value.sent);
    }
    std::string what = changed.empty() ? ip.value_or("Sent the module's own values") : "Sent " + joined(changed, ", ");
    what += answered ? "; the module answered but did not show up in a rescan" : "; the module did not answer";
    return {NoteKind::Failure, what};
}

} // namespace commissioning
