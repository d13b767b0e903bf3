#include "commissioning/scanview.h"

#include "modules/columntexts.h"
#include "modules/macaddress.h"
#include "platform/textescape.h"

#include <cctype>
#include <cstring>

namespace commissioning {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::uint8_t kOn = 1;
constexpr std::uint8_t kOff = 0;
constexpr std::size_t kMacTextSize = 17; // "00-30-11-0A-BC-0F"
constexpr std::size_t kMacGroupStride = 3;

// A record's text field: up to its NUL, never past its end (the library
// leaves absent fields unterminated).
std::string RecordText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return std::string(field, ::strnlen(field, QORT_TEXT_FIELD_SIZE));
}

std::optional<bool> OnOff(std::uint8_t valid, std::uint8_t value)
{
    // A reported value that is neither on nor off is no fact to print.
    if (valid == 0 || (value != kOn && value != kOff))
        return std::nullopt;
    return value == kOn;
}

ScanField AddressField(const char* name, std::uint8_t valid, std::uint32_t address)
{
    if (valid == 0)
        return {name, std::nullopt, {}};
    const std::string text = modules::formatDottedAddress(address);
    return {name, text, text};
}

ScanField OnOffField(const char* name, std::uint8_t valid, std::uint8_t value)
{
    const std::optional<bool> state = OnOff(valid, value);
    if (!state)
        return {name, std::nullopt, {}};
    return {name, *state, *state ? "on" : "off"};
}

ScanField TextField(const char* name, std::uint8_t valid, const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    if (valid == 0)
        return {name, std::nullopt, {}};
    const std::string text = RecordText(field);
    return {name, text, platform::escapeControlBytes(text)};
}

ScanField PlainField(const char* name, bool valid, const std::string& text)
{
    if (!valid)
        return {name, std::nullopt, {}};
    return {name, text, text};
}

bool IsUpperHexDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0 || (c >= 'A' && c <= 'F');
}

const Json& MemberOr(const Json& object, const std::string& name, const Json& absent)
{
    const auto found = object.find(name);
    return found == object.end() ? absent : *found;
}

} // namespace

std::vector<ScanField> scanFields(const QORT_ModuleScanResponseType& r)
{
    const std::string mac = modules::formatMac(modules::macOfRecord(r));
    return {{kMacName, mac, mac}, AddressField("ip", r.IpAddrValid, r.IpAddr),
        AddressField("mask", r.SubnetMaskValid, r.SubnetMask), AddressField("gateway", r.GatewayValid, r.Gateway),
        OnOffField("dhcp", r.DhcpValid, r.Dhcp), OnOffField("password", r.PswdValid, r.Pswd),
        TextField("hostname", r.HostNameValid, r.HostName), AddressField("dns1", r.Dns1Valid, r.Dns1),
        AddressField("dns2", r.Dns2Valid, r.Dns2), TextField("type", r.FbTypeValid, r.FbType),
        PlainField("version", r.ModuleVersionValid != 0,
            modules::formatModuleVersion(r.ModuleVersionMajor, r.ModuleVersionMinor, r.ModuleVersionBuild)),
        PlainField("protocol", r.ProtocolVersionValid != 0,
            std::to_string(r.ProtocolVersionMajor) + "." + std::to_string(r.ProtocolVersionMinor))};
}

Json moduleJson(const QORT_ModuleScanResponseType& record, const WarningCodes& warnings)
{
    Json object = Json::object();
    for (ScanField& field : scanFields(record))
        if (field.value)
            object[field.name] = std::move(*field.value);
    object[kWarningsName] = warnings;
    return object;
}

bool isMacText(std::string_view text)
{
    if (text.size() != kMacTextSize)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % kMacGroupStride == kMacGroupStride - 1;
        if (separator ? text[i] != '-' : !IsUpperHexDigit(text[i]))
            return false;
    }
    return true;
}

std::optional<ScanView> readScanView(std::string_view text, std::string& error)
{
    const Json list = Json::parse(text, nullptr, false);
    if (list.is_discarded() || !list.is_array()) {
        error = "not a JSON array";
        return std::nullopt;
    }
    ScanView view;
    for (const Json& module : list) {
        if (!module.is_object() || !module.contains(kMacName) || !module[kMacName].is_string()
            || !isMacText(module[kMacName].get_ref<const std::string&>())) {
            error = "an entry without a MAC";
            return std::nullopt;
        }
        const std::string& mac = module[kMacName].get_ref<const std::string&>();
        if (!view.emplace(mac, module).second) {
            error = "MAC " + mac + " twice";
            return std::nullopt;
        }
    }
    return view;
}

std::vector<std::string> changedFields(const Json& before, const Json& after)
{
    static const Json absent;
    std::vector<std::string> names;
    for (const auto& [name, value] : before.items())
        if (name != kWarningsName && MemberOr(after, name, absent) != value)
            names.push_back(name);
    for (const auto& [name, value] : after.items())
        if (name != kWarningsName && !before.contains(name))
            names.push_back(name);
    return names;
}

} // namespace commissioning
