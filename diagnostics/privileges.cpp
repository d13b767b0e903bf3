#include "diagnostics/privileges.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace diagnostics {
namespace {

constexpr std::string_view kEffectiveCapabilitiesKey = "CapEff:";
constexpr int kHexBase = 16;

} // namespace

bool effectiveCapability(std::string_view statusText, int capability)
{
    const std::size_t key = statusText.find(kEffectiveCapabilitiesKey);
    if (key == std::string_view::npos)
        return false;
    std::string_view value = statusText.substr(key + kEffectiveCapabilitiesKey.size());
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    unsigned long long mask = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), mask, kHexBase);
    return error == std::errc() && end != value.data() && ((mask >> capability) & 1U) != 0;
}

bool mayBindPrivilegedPorts()
{
    if (::geteuid() == 0)
        return true;
    std::ifstream in("/proc/self/status");
    std::ostringstream text;
    text << in.rdbuf();
    return effectiveCapability(text.str(), kNetBindServiceCapability);
}

} // namespace diagnostics
