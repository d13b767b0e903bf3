// libFuzzer target for what libqort does with a received text: classify it,
// parse it as a scan reply or an invalid-password reply. Built and run by
// scripts/fuzz (clang, ASan+UBSan). libFuzzer hands over a heap block of
// the input's exact size, so any read past the text's end is caught.
#include "protocol/messages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool containsIgnoringCase(std::string_view text, std::string_view key)
{
    return std::search(text.begin(), text.end(), key.begin(), key.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    }) != text.end();
}

template <typename T>
bool allFF(const T& value)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    return std::all_of(bytes, bytes + sizeof value, [](std::uint8_t b) { return b == 0xFF; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qort::classifyReply(text);
    qort::parseInvalidPasswordReply(text);
    const QORT_ModuleScanResponseType r = qort::parseScanReply(text);
    // A field is present exactly when its key is in the text; an absent
    // field's bytes are all 0xFF; a present text ends within its field.
    const auto field = [&](std::uint8_t valid, const char* key, bool absentIsFF) {
        Require(valid == (containsIgnoringCase(text, key) ? 1 : 0));
        Require(valid == 1 || absentIsFF);
    };
    field(r.ProtocolVersionValid,
        "protocol version = ", r.ProtocolVersionMajor == 0xFF && r.ProtocolVersionMinor == 0xFF);
    field(r.FbTypeValid, "fb type = ", allFF(r.FbType));
    field(r.ModuleVersionValid, "module version = ", r.ModuleVersionBuild == 0xFFFF);
    field(r.MacIdValid, "mac = ", allFF(r.MacId));
    field(r.IpAddrValid, "ip = ", allFF(r.IpAddr));
    field(r.SubnetMaskValid, "sn = ", allFF(r.SubnetMask));
    field(r.GatewayValid, "gw = ", allFF(r.Gateway));
    field(r.DhcpValid, "dhcp = ", r.Dhcp == 0xFF);
    field(r.PswdValid, "pswd = ", r.Pswd == 0xFF);
    field(r.HostNameValid, "hn = ", allFF(r.HostName));
    field(r.Dns1Valid, "dns1 = ", allFF(r.Dns1));
    field(r.Dns2Valid, "dns2 = ", allFF(r.Dns2));
    Require(r.FbTypeValid == 0 || std::memchr(r.FbType, 0, sizeof r.FbType) != nullptr);
    Require(r.HostNameValid == 0 || std::memchr(r.HostName, 0, sizeof r.HostName) != nullptr);
    Require(r.Dhcp <= 1 || r.Dhcp == 0xFF);
    Require(r.Pswd <= 1 || r.Pswd == 0xFF);
    return 0;
}
