#include "commissioning/auditlog.h"

#include "commissioning/addressfields.h"
#include "commissioning/utctime.h"
#include "modules/columntexts.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace commissioning {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::uint8_t kDhcpLeftOut = 0xFF;
constexpr unsigned kDottedParts = 4;
constexpr unsigned kDottedPartDigits = 3;
constexpr unsigned kByteMax = 255;
constexpr unsigned kBitsPerByte = 8;

// Member names shared by the writer and the reader.
constexpr const char* kMac = "mac";
constexpr const char* kBefore = "before";
constexpr const char* kResult = "result";

constexpr const char* kDhcp = "dhcp";
constexpr const char* kHostName = "hostname";

std::string fieldText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return std::string(field, ::strnlen(field, QORT_TEXT_FIELD_SIZE));
}

void storeFieldText(char (&field)[QORT_TEXT_FIELD_SIZE], const std::string& text)
{
    std::memset(field, 0, QORT_TEXT_FIELD_SIZE);
    std::memcpy(field, text.data(), std::min(text.size(), std::size_t{QORT_TEXT_FIELD_SIZE - 1}));
}

Json reportedValues(const QORT_ModuleScanResponseType& record)
{
    Json values = Json::object();
    for (const AddressField& member : kAddressFields)
        if (record.*member.valid == kValid)
            values[member.name] = modules::formatDottedAddress(record.*member.value);
    if (record.DhcpValid == kValid && (record.Dhcp == kOn || record.Dhcp == kOff))
        values[kDhcp] = record.Dhcp == kOn;
    if (record.HostNameValid == kValid)
        values[kHostName] = fieldText(record.HostName);
    return values;
}

Json sentValues(const QORT_ConfigureRequestType& request)
{
    Json values = Json::object();
    for (const AddressField& member : kAddressFields)
        if (request.*member.sent != QORT_ADDR_NOT_GIVEN)
            values[member.name] = modules::formatDottedAddress(request.*member.sent);
    if (request.Dhcp == kOn || request.Dhcp == kOff)
        values[kDhcp] = request.Dhcp == kOn;
    values[kHostName] = fieldText(request.HostName);
    return values;
}

// "a.b.c.d", each part 0-255 in decimal without leading zeros, as the scan's
// JSON writes an address; anything else is no address.
std::optional<std::uint32_t> ParseDotted(const Json& value)
{
    if (!value.is_string())
        return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    const char* at = text.data();
    const char* const end = at + text.size();
    std::uint32_t address = 0;
    for (unsigned part = 0; part < kDottedParts; ++part) {
        if (part > 0 && (at == end || *at++ != '.'))
            return std::nullopt;
        unsigned byte = 0;
        const auto [next, error] = std::from_chars(at, end, byte);
        const auto digits = static_cast<unsigned>(next - at);
        if (error != std::errc{} || digits == 0 || digits > kDottedPartDigits || byte > kByteMax
            || (digits > 1 && *at == '0'))
            return std::nullopt;
        address = address << kBitsPerByte | byte;
        at = next;
    }
    if (at != end)
        return std::nullopt;
    return address;
}

QORT_ModuleScanResponseType emptyRecord(const modules::MacAddress& mac)
{
    // As the library leaves fields a module did not name: all bytes 0xFF.
    QORT_ModuleScanResponseType record;
    std::memset(&record, 0xFF, sizeof record);
    record.ProtocolVersionValid = record.FbTypeValid = record.ModuleVersionValid = record.PswdValid = 0;
    record.IpAddrValid = record.SubnetMaskValid = record.GatewayValid = record.Dns1Valid = record.Dns2Valid = 0;
    record.DhcpValid = record.HostNameValid = 0;
    std::copy(mac.begin(), mac.end(), record.MacId);
    record.MacIdValid = kValid;
    return record;
}

// A `before` object back into a record; nothing when a member is of the
// wrong kind, so that undo never writes a value it made up.
std::optional<QORT_ModuleScanResponseType> recordOfValues(const Json& values, const modules::MacAddress& mac)
{
    if (!values.is_object())
        return std::nullopt;
    QORT_ModuleScanResponseType record = emptyRecord(mac);
    for (const AddressField& member : kAddressFields) {
        if (!values.contains(member.name))
            continue;
        const std::optional<std::uint32_t> address = ParseDotted(values[member.name]);
        if (!address)
            return std::nullopt;
        record.*member.value = *address;
        record.*member.valid = kValid;
    }
    if (values.contains(kDhcp)) {
        if (!values[kDhcp].is_boolean())
            return std::nullopt;
        record.Dhcp = values[kDhcp].get<bool>() ? kOn : kOff;
        record.DhcpValid = kValid;
    }
    if (values.contains(kHostName)) {
        if (!values[kHostName].is_string()
            || values[kHostName].get_ref<const std::string&>().size() >= QORT_TEXT_FIELD_SIZE)
            return std::nullopt;
        storeFieldText(record.HostName, values[kHostName].get_ref<const std::string&>());
        record.HostNameValid = kValid;
    }
    return record;
}

bool isVerifiedLineOf(const Json& line, const std::string& macText)
{
    return line.is_object() && line.contains(kMac) && line[kMac] == macText && line.contains(kResult)
        && line[kResult] == resultText(WriteResult::Verified) && line.contains(kBefore);
}

} // namespace

const char* resultText(WriteResult result)
{
    switch (result) {
    case WriteResult::Verified:
        return "verified";
    case WriteResult::NotVerified:
        return "not-verified";
    case WriteResult::InvalidPassword:
        return "invalid-password";
    case WriteResult::NoAnswer:
        return "no-answer";
    case WriteResult::Refused:
        return "refused";
    case WriteResult::Sent:
        return "sent";
    case WriteResult::Interrupted:
        return "interrupted";
    }
    return "unknown";
}

std::string auditLine(const AuditEntry& entry, std::time_t when, const std::string& user)
{
    modules::MacAddress mac{};
    std::copy(std::begin(entry.sent.MacId), std::end(entry.sent.MacId), mac.begin());
    Json line = Json::object();
    line["time"] = utcTimeText(when);
    line["user"] = user;
    line["program"] = entry.program;
    line[kMac] = modules::formatMac(mac);
    line[kBefore] = reportedValues(entry.before);
    line["after"] = sentValues(entry.sent);
    line[kResult] = resultText(entry.result);
    // Bytes that are not UTF-8 (a host name) become U+FFFD instead of
    // losing the line.
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<QORT_ModuleScanResponseType> findUndoValues(std::string_view text, const modules::MacAddress& mac)
{
    const std::string macText = modules::formatMac(mac);
    std::optional<QORT_ModuleScanResponseType> newest;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const Json line = Json::parse(text.substr(start, end - start), nullptr, false);
        start = end + 1;
        if (!line.is_discarded() && isVerifiedLineOf(line, macText))
            if (auto values = recordOfValues(line[kBefore], mac))
                newest = values;
    }
    return newest;
}

QORT_ConfigureRequestType undoRequest(
    const QORT_ModuleScanResponseType& values, const QORT_ModuleScanResponseType& current)
{
    QORT_ConfigureRequestType request{};
    std::copy(std::begin(values.MacId), std::end(values.MacId), request.MacId);
    for (const AddressField& member : kAddressFields)
        request.*member.sent = values.*member.valid == kValid ? values.*member.value : QORT_ADDR_NOT_GIVEN;
    request.Dhcp = values.DhcpValid == kValid ? values.Dhcp : kDhcpLeftOut;
    if (values.HostNameValid == kValid)
        storeFieldText(request.HostName, fieldText(values.HostName));
    else if (current.HostNameValid == kValid)
        storeFieldText(request.HostName, fieldText(current.HostName));
    return request;
}

std::optional<QORT_ModuleScanResponseType> AuditLog::undoValues(const modules::MacAddress& mac) const
{
    std::ifstream in(file_, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return findUndoValues(text.str(), mac);
}

} // namespace commissioning
