#include "tools/modulesim/simulatedmodule.h"

#include "platform/textescape.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace modulesim {

namespace {

constexpr std::string_view kReplyKeys[kModuleFieldCount] = {
    "protocol version",
    "fb type",
    "module version",
    "mac",
    "ip",
    "sn",
    "gw",
    "dhcp",
    "pswd",
    "hn",
    "dns1",
    "dns2",
};
constexpr std::string_view kReplyKeyValueSeparator = " = ";
constexpr char kReplyPairEnd = ';';
constexpr std::string_view kReconfiguredPrefix = "Reconfigured: ";
constexpr std::string_view kInvalidPasswordPrefix = "Invalid Password: ";

constexpr int kDottedQuadParts = 4;
constexpr int kMaxQuadDigits = 3;
constexpr int kMaxQuadValue = 255;

struct AddressPiece {
    std::string_view key;
    ModuleField field;
    std::string_view logName;
};
constexpr AddressPiece kAddressPieces[] = {
    {"IP", ModuleField::Ip, "ip"},
    {"SN", ModuleField::SubnetMask, "sn"},
    {"GW", ModuleField::Gateway, "gw"},
    {"DNS1", ModuleField::Dns1, "dns1"},
    {"DNS2", ModuleField::Dns2, "dns2"},
};

std::string lowerCase(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
        [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return result;
}

std::string cutText(std::string_view text)
{
    return std::string(text.substr(0, SimulatedModule::kMaxTextLength));
}

std::string quoted(std::string_view text)
{
    return "\"" + platform::escapeBytes(text) + "\"";
}

const ConfigurePiece* findPiece(const Request& request, std::string_view key)
{
    const auto it = std::find_if(
        request.pieces.begin(), request.pieces.end(), [key](const ConfigurePiece& piece) { return piece.key == key; });
    return it == request.pieces.end() ? nullptr : &*it;
}

} // namespace

std::string_view replyKey(ModuleField field)
{
    return kReplyKeys[static_cast<std::size_t>(field)];
}

std::optional<std::string> normaliseDottedQuad(std::string_view text)
{
    std::string result;
    std::size_t pos = 0;
    for (int part = 0; part < kDottedQuadParts; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
            result += '.';
        }
        int value = 0;
        int digits = 0;
        while (pos < text.size() && digits < kMaxQuadDigits && std::isdigit(static_cast<unsigned char>(text[pos]))) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > kMaxQuadValue)
            return std::nullopt;
        result += std::to_string(value);
    }
    if (pos != text.size())
        return std::nullopt;
    return result;
}

std::optional<std::string> normaliseOnOff(std::string_view text)
{
    const std::string lower = lowerCase(text);
    if (lower == "on" || lower == "off")
        return lower;
    return std::nullopt;
}

SimulatedModule::SimulatedModule(const MacAddress& mac)
    : mac_(mac)
{
    char hostName[32];
    static_cast<void>(
        std::snprintf(hostName, sizeof hostName, "module-%02x%02x%02x", mac.bytes[3], mac.bytes[4], mac.bytes[5]));

    values_[index(ModuleField::ProtocolVersion)] = "1.10";
    values_[index(ModuleField::FbType)] = "Modbus TCP";
    values_[index(ModuleField::ModuleVersion)] = "2.01.7";
    values_[index(ModuleField::Mac)] = mac.toString();
    values_[index(ModuleField::Ip)] = "192.168.0.10";
    values_[index(ModuleField::SubnetMask)] = "255.255.255.0";
    values_[index(ModuleField::Gateway)] = "0.0.0.0";
    values_[index(ModuleField::Dhcp)] = "off";
    values_[index(ModuleField::Pswd)] = "off";
    values_[index(ModuleField::HostName)] = hostName;
    values_[index(ModuleField::Dns1)] = "0.0.0.0";
    values_[index(ModuleField::Dns2)] = "0.0.0.0";
    reported_.set();
}

void SimulatedModule::setField(ModuleField field, std::string value)
{
    values_[index(field)] = std::move(value);
    reported_.set(index(field));
    if (field == ModuleField::Pswd)
        pswdFieldExplicit_ = true;
}

void SimulatedModule::omitField(ModuleField field)
{
    reported_.reset(index(field));
}

void SimulatedModule::setPassword(std::string password)
{
    password_ = std::move(password);
    if (!pswdFieldExplicit_)
        values_[index(ModuleField::Pswd)] = password_.empty() ? "off" : "on";
}

std::string SimulatedModule::scanReply() const
{
    std::string reply;
    for (std::size_t i = 0; i < kModuleFieldCount; ++i) {
        if (!reported_.test(i))
            continue;
        reply += kReplyKeys[i];
        reply += kReplyKeyValueSeparator;
        reply += values_[i];
        reply += kReplyPairEnd;
    }
    return reply;
}

std::string SimulatedModule::reconfiguredReply() const
{
    return std::string(kReconfiguredPrefix) + mac_.toString();
}

std::string SimulatedModule::invalidPasswordReply() const
{
    return std::string(kInvalidPasswordPrefix) + mac_.toString();
}

SimulatedModule::ConfigureResult SimulatedModule::configure(const Request& request)
{
    ConfigureResult result;
    if (!password_.empty()) {
        const ConfigurePiece* given = findPiece(request, "PASSWORD");
        if (given == nullptr || given->value != password_) {
            result.outcome = Outcome::InvalidPassword;
            result.summary = given == nullptr ? "password=missing" : "password=wrong";
            return result;
        }
    }

    if (keepsValues_) {
        result.summary = "kept";
        return result;
    }

    std::string applied;
    std::string skipped;
    const auto note = [&applied](std::string_view name, std::string_view value) {
        applied += applied.empty() ? "" : " ";
        applied += name;
        applied += '=';
        applied += value;
    };
    const auto skip = [&skipped](std::string_view key) {
        skipped += skipped.empty() ? "" : ",";
        skipped += key;
    };

    for (const ConfigurePiece& piece : request.pieces) {
        const auto address = std::find_if(std::begin(kAddressPieces), std::end(kAddressPieces),
            [&piece](const AddressPiece& a) { return a.key == piece.key; });
        if (address != std::end(kAddressPieces)) {
            if (auto value = normaliseDottedQuad(piece.value)) {
                note(address->logName, *value);
                values_[index(address->field)] = std::move(*value);
            } else {
                skip(piece.key);
            }
        } else if (piece.key == "DHCP") {
            if (auto value = normaliseOnOff(piece.value)) {
                note("dhcp", *value);
                values_[index(ModuleField::Dhcp)] = std::move(*value);
            } else {
                skip(piece.key);
            }
        } else if (piece.key == "HN") {
            values_[index(ModuleField::HostName)] = cutText(piece.value);
            note("hn", quoted(values_[index(ModuleField::HostName)]));
        } else if (piece.key == "NEW PASSWORD") {
            setPassword(cutText(piece.value));
            note("password", password_.empty() ? "removed" : "changed");
        }
    }
    result.summary = applied;
    if (!skipped.empty())
        result.summary += (applied.empty() ? "skipped=" : " skipped=") + skipped;
    return result;
}

} // namespace modulesim
