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
constexpr int kDecimalBase = 10;
constexpr const char* kUnprivilegedPortStartPath = "/proc/sys/net/ipv4/ip_unprivileged_port_start";

std::string readText(const char* path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool mayBindPrivilegedPorts()
{
    return ::geteuid() == 0 || effectiveCapability(readText("/proc/self/status"), kNetBindServiceCapability);
}

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

int unprivilegedPortStart(std::string_view sysctlText)
{
    int start = 0;
    const auto [end, error] =
        std::from_chars(sysctlText.data(), sysctlText.data() + sysctlText.size(), start, kDecimalBase);
    if (error != std::errc() || end == sysctlText.data() || start < 0)
        return kFixedUnprivilegedPortStart;
    return start;
}

PortBindRight portBindRight(std::uint16_t port)
{
    if (mayBindPrivilegedPorts())
        return PortBindRight::kPrivileged;
    if (port >= unprivilegedPortStart(readText(kUnprivilegedPortStartPath)))
        return PortBindRight::kUnprivilegedPort;
    return PortBindRight::kNone;
}

} // namespace diagnostics
