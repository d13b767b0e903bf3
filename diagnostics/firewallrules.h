#ifndef DIAGNOSTICS_FIREWALLRULES_H
#define DIAGNOSTICS_FIREWALLRULES_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace diagnostics {

struct FirewallListing {
    std::string tool;               // "nft" or "iptables-save"
    bool read = false;              // false: not installed, or the rules were not readable
    std::vector<std::string> rules; // the lines that name one of the ports
};

// The lines of a rule listing (nft list ruleset, iptables-save) whose port
// match - "dport 67", "sport { 67, 68 }", "--dport 3000:3300", "--dports
// 67,68" - covers one of `ports`. Addresses and counters with the same
// digits do not count.
std::vector<std::string> rulesMentioningPorts(std::string_view listing, const std::vector<std::uint16_t>& ports);

// Runs each tool that is installed and keeps its lines for `ports`.
std::vector<FirewallListing> firewallRulesFor(const std::vector<std::uint16_t>& ports);

} // namespace diagnostics

#endif
