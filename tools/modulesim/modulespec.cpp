#include "tools/modulesim/modulespec.h"

#include <algorithm>
#include <fstream>

namespace modulesim {

namespace {

constexpr char kItemSeparator = ',';
constexpr char kOmitMark = '-';
constexpr char kCommentMark = '#';
constexpr std::string_view kForbiddenValueCharacters = ",;";

constexpr std::uint8_t kGeneratedMacPrefix[] = {0x00, 0x30, 0x11};
constexpr int kGeneratedFirstSubnet = 10;
constexpr int kGeneratedHostsPerSubnet = 250;
constexpr const char* kGeneratedMask = "255.255.0.0";
constexpr const char* kGeneratedGateway = "192.168.0.1";

enum class ValueKind { Text, DottedQuad, OnOff };

struct SpecKey {
    std::string_view name;
    ModuleField field;
    ValueKind kind;
};

constexpr SpecKey kSpecKeys[] = {
    {"protocol", ModuleField::ProtocolVersion, ValueKind::Text},
    {"fb", ModuleField::FbType, ValueKind::Text},
    {"version", ModuleField::ModuleVersion, ValueKind::Text},
    {"mac", ModuleField::Mac, ValueKind::Text},
    {"ip", ModuleField::Ip, ValueKind::DottedQuad},
    {"sn", ModuleField::SubnetMask, ValueKind::DottedQuad},
    {"gw", ModuleField::Gateway, ValueKind::DottedQuad},
    {"dhcp", ModuleField::Dhcp, ValueKind::OnOff},
    {"pswd", ModuleField::Pswd, ValueKind::OnOff},
    {"hn", ModuleField::HostName, ValueKind::Text},
    {"dns1", ModuleField::Dns1, ValueKind::DottedQuad},
    {"dns2", ModuleField::Dns2, ValueKind::DottedQuad},
};
constexpr std::string_view kPasswordKey = "password";
// Keys that switch a behaviour of the module on or off.
struct SwitchKey {
    std::string_view name;
    void (SimulatedModule::*set)(bool);
};
constexpr SwitchKey kSwitchKeys[] = {
    {"keep", &SimulatedModule::setKeepsValues},
    {"answer", &SimulatedModule::setAnswersConfigure},
};
constexpr std::string_view kMacKey = "mac";

std::string_view trim(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> splitItems(std::string_view spec)
{
    std::vector<std::string_view> items;
    std::size_t start = 0;
    while (start <= spec.size()) {
        const auto end = spec.find(kItemSeparator, start);
        const auto item =
            trim(spec.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (!item.empty())
            items.push_back(item);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return items;
}

const SpecKey* findKey(std::string_view name)
{
    for (const SpecKey& key : kSpecKeys)
        if (key.name == name)
            return &key;
    return nullptr;
}

std::optional<std::string> checkedValue(const SpecKey& key, std::string_view value, std::string& error)
{
    std::optional<std::string> result;
    switch (key.kind) {
    case ValueKind::DottedQuad:
        result = normaliseDottedQuad(value);
        break;
    case ValueKind::OnOff:
        result = normaliseOnOff(value);
        break;
    case ValueKind::Text:
        if (value.find_first_of(kForbiddenValueCharacters) == std::string_view::npos
            && value.size() <= SimulatedModule::kMaxTextLength)
            result = std::string(value);
        break;
    }
    if (!result)
        error = "bad value for " + std::string(key.name) + ": '" + std::string(value) + "'";
    return result;
}

std::optional<MacAddress> findMac(const std::vector<std::string_view>& items, std::string& error)
{
    for (std::string_view item : items) {
        const auto equals = item.find('=');
        if (equals == std::string_view::npos || trim(item.substr(0, equals)) != kMacKey)
            continue;
        if (auto mac = MacAddress::parse(trim(item.substr(equals + 1))))
            return mac;
        error = "bad MAC '" + std::string(trim(item.substr(equals + 1))) + "' (write it as 00-30-11-00-00-01)";
        return std::nullopt;
    }
    error = "a module needs mac=XX-XX-XX-XX-XX-XX";
    return std::nullopt;
}

} // namespace

std::optional<SimulatedModule> parseModuleSpec(std::string_view spec, std::string& error)
{
    const auto items = splitItems(spec);
    const auto mac = findMac(items, error);
    if (!mac)
        return std::nullopt;

    SimulatedModule module(*mac);
    for (std::string_view item : items) {
        if (item.front() == kOmitMark) {
            const SpecKey* key = findKey(trim(item.substr(1)));
            if (key == nullptr) {
                error = "unknown field '" + std::string(item.substr(1)) + "'";
                return std::nullopt;
            }
            module.omitField(key->field);
            continue;
        }
        const auto equals = item.find('=');
        if (equals == std::string_view::npos) {
            error = "expected key=value, got '" + std::string(item) + "'";
            return std::nullopt;
        }
        const std::string_view name = trim(item.substr(0, equals));
        const std::string_view value = trim(item.substr(equals + 1));
        if (name == kMacKey)
            continue;
        if (name == kPasswordKey) {
            if (value.size() > SimulatedModule::kMaxTextLength || value.find(';') != std::string_view::npos) {
                error = "bad password";
                return std::nullopt;
            }
            module.setPassword(std::string(value));
            continue;
        }
        const auto switchKey = std::find_if(std::begin(kSwitchKeys), std::end(kSwitchKeys),
            [name](const SwitchKey& candidate) { return candidate.name == name; });
        if (switchKey != std::end(kSwitchKeys)) {
            const auto on = normaliseOnOff(value);
            if (!on) {
                error = std::string(name) + " takes on or off";
                return std::nullopt;
            }
            (module.*switchKey->set)(*on == "on");
            continue;
        }
        const SpecKey* key = findKey(name);
        if (key == nullptr) {
            error = "unknown key '" + std::string(name) + "'";
            return std::nullopt;
        }
        auto checked = checkedValue(*key, value, error);
        if (!checked)
            return std::nullopt;
        module.setField(key->field, std::move(*checked));
    }
    return module;
}

std::optional<std::vector<SimulatedModule>> readModuleFile(const std::string& path, std::string& error)
{
    std::ifstream file(path);
    if (!file) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    std::vector<SimulatedModule> modules;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string_view content = trim(line);
        if (content.empty() || content.front() == kCommentMark)
            continue;
        auto module = parseModuleSpec(content, error);
        if (!module) {
            error.insert(0, path + ":" + std::to_string(number) + ": ");
            return std::nullopt;
        }
        modules.push_back(std::move(*module));
    }
    return modules;
}

std::vector<SimulatedModule> generateModules(int count)
{
    std::vector<SimulatedModule> modules;
    modules.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (int number = 1; number <= count; ++number) {
        MacAddress mac;
        mac.bytes = {kGeneratedMacPrefix[0], kGeneratedMacPrefix[1], kGeneratedMacPrefix[2],
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number)};
        SimulatedModule module(mac);
        const int host = number - 1;
        module.setField(ModuleField::Ip,
            "192.168." + std::to_string(kGeneratedFirstSubnet + host / kGeneratedHostsPerSubnet) + "."
                + std::to_string(host % kGeneratedHostsPerSubnet + 1));
        module.setField(ModuleField::SubnetMask, kGeneratedMask);
        module.setField(ModuleField::Gateway, kGeneratedGateway);
        modules.push_back(std::move(module));
    }
    return modules;
}

} // namespace modulesim
