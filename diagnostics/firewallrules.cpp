#include "diagnostics/firewallrules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>
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
constexpr std::array<std::string_view, 4> kPortKeywords{"dport", "dports", "sport", "sports"};
constexpr std::string_view kWordSeparators = " \t";
constexpr std::string_view kListSeparators = " \t,{}";
constexpr std::string_view kRangeSeparators = ":-";

std::vector<std::string_view> split(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while ((pos = text.find_first_not_of(separators, pos)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(separators, pos), text.size());
        parts.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return parts;
}

bool parsePort(std::string_view text, unsigned long& port)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// One list item: "67", "3000:3300" (iptables) or "3000-3300" (nft).
bool itemCovers(std::string_view item, const std::vector<std::uint16_t>& ports)
{
    const std::size_t dash = item.find_first_of(kRangeSeparators);
    unsigned long first = 0;
    unsigned long last = 0;
    if (!parsePort(item.substr(0, dash), first))
        return false;
    if (dash == std::string_view::npos)
        last = first;
    else if (!parsePort(item.substr(dash + 1), last))
        return false;
    return std::any_of(ports.begin(), ports.end(), [&](std::uint16_t port) { return port >= first && port <= last; });
}

bool isPortKeyword(std::string_view word)
{
    word.remove_prefix(std::min(word.find_first_not_of('-'), word.size()));
    return std::find(kPortKeywords.begin(), kPortKeywords.end(), word) != kPortKeywords.end();
}

// The port match after each port keyword: the next word, or a whole
// "{ ... }" set, whose items may be ports or ranges.
bool lineMentionsPorts(std::string_view line, const std::vector<std::uint16_t>& ports)
{
    const std::vector<std::string_view> words = split(line, kWordSeparators);
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (!isPortKeyword(words[i]))
            continue;
        std::size_t last = i + 1;
        if (words[last].front() == '{') {
            while (last + 1 < words.size() && words[last].find('}') == std::string_view::npos)
                ++last;
        }
        for (std::size_t w = i + 1; w <= last; ++w) {
            for (std::string_view item : split(words[w], kListSeparators)) {
                if (itemCovers(item, ports))
                    return true;
            }
        }
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
