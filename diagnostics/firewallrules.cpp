#include "diagnostics/firewallrules.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <regex>
#include <sys/wait.h>

namespace diagnostics {
namespace {

struct RuleTool {
    const char* name;
    const char* command; // run through the shell; its errors are not shown
};

constexpr std::array<RuleTool, 2> kRuleTools{{
    {"nft", "command -v nft >/dev/null 2>&1 || exit 127; nft list ruleset 2>/dev/null"},
    {"iptables-save", "command -v iptables-save >/dev/null 2>&1 || exit 127; iptables-save 2>/dev/null"},
}};
constexpr std::size_t kReadChunk = 4096;

// A port keyword and what follows it: one port, a list, a range, or a set.
const std::regex kPortMatch(R"((?:^|[\s-])(?:dports?|sports?)\s+(\{[^}]*\}|[0-9][0-9,:\-]*))");
const std::regex kPortOrRange(R"(([0-9]+)(?:\s*[:\-]\s*([0-9]+))?)");

bool coversAny(const std::string& portList, const std::vector<std::uint16_t>& ports)
{
    for (std::sregex_iterator it(portList.begin(), portList.end(), kPortOrRange), end; it != end; ++it) {
        const unsigned long first = std::stoul((*it)[1].str());
        const unsigned long last = (*it)[2].matched ? std::stoul((*it)[2].str()) : first;
        if (std::any_of(ports.begin(), ports.end(), [&](std::uint16_t port) { return port >= first && port <= last; }))
            return true;
    }
    return false;
}

bool lineMentionsPorts(const std::string& line, const std::vector<std::uint16_t>& ports)
{
    for (std::sregex_iterator it(line.begin(), line.end(), kPortMatch), end; it != end; ++it) {
        if (coversAny((*it)[1].str(), ports))
            return true;
    }
    return false;
}

// The command's standard output and whether it ran and succeeded.
bool runCommand(const char* command, std::string& output)
{
    FILE* pipe = ::popen(command, "r");
    if (pipe == nullptr)
        return false;
    std::array<char, kReadChunk> buffer{};
    std::size_t length = 0;
    while ((length = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), length);
    const int status = ::pclose(pipe);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

std::vector<std::string> rulesMentioningPorts(std::string_view listing, const std::vector<std::uint16_t>& ports)
{
    std::vector<std::string> rules;
    while (!listing.empty()) {
        const std::size_t end = std::min(listing.find('\n'), listing.size());
        std::string line(listing.substr(0, end));
        listing.remove_prefix(std::min(end + 1, listing.size()));
        if (lineMentionsPorts(line, ports)) {
            line.erase(0, line.find_first_not_of(" \t"));
            rules.push_back(std::move(line));
        }
    }
    return rules;
}

std::vector<FirewallListing> firewallRulesFor(const std::vector<std::uint16_t>& ports)
{
    std::vector<FirewallListing> listings;
    for (const RuleTool& tool : kRuleTools) {
        FirewallListing listing;
        listing.tool = tool.name;
        std::string output;
        listing.read = runCommand(tool.command, output);
        if (listing.read)
            listing.rules = rulesMentioningPorts(output, ports);
        listings.push_back(std::move(listing));
    }
    return listings;
}

} // namespace diagnostics
