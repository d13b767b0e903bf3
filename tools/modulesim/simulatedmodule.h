#ifndef TOOLS_MODULESIM_SIMULATEDMODULE_H
#define TOOLS_MODULESIM_SIMULATEDMODULE_H

#include "tools/modulesim/macaddress.h"
#include "tools/modulesim/request.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace modulesim {

// The fields a module reports in its scan reply, in the order it writes them.
enum class ModuleField {
    ProtocolVersion,
    FbType,
    ModuleVersion,
    Mac,
    Ip,
    SubnetMask,
    Gateway,
    Dhcp,
    Pswd,
    HostName,
    Dns1,
    Dns2,
};
inline constexpr std::size_t kModuleFieldCount = 12;

// The key of a field in a scan reply ("protocol version", "ip", ...).
std::string_view replyKey(ModuleField field);

// One simulated field module: what it reports, its password, and how it
// reacts to a Configure request. Field values are kept as the texts that
// follow "key = " in the scan reply; a field can be left out of the reply
// altogether (older firmware reports fewer fields).
class SimulatedModule {
public:
    static constexpr std::size_t kMaxTextLength = 127; // host name, password

    enum class Outcome { Reconfigured, InvalidPassword };
    struct ConfigureResult {
        Outcome outcome = Outcome::Reconfigured;
        // "ip=10.0.0.5 hn=\"x\" password=changed skipped=GW", for the log.
        std::string summary;
    };

    // Defaults: protocol 1.10, a fieldbus type, module version 2.01.7,
    // 192.168.0.10/255.255.255.0, no gateway, DHCP off, no password, a host
    // name derived from the MAC, no DNS servers; every field reported.
    explicit SimulatedModule(const MacAddress& mac);

    const MacAddress& mac() const { return mac_; }

    // The value is written as given; the caller has checked it.
    void setField(ModuleField field, std::string value);
    void omitField(ModuleField field);
    bool reports(ModuleField field) const { return reported_.test(index(field)); }
    const std::string& field(ModuleField field) const { return values_[index(field)]; }

    // Empty: no password. Unless the "pswd" field was set explicitly, the
    // module reports "pswd = on" exactly while it has a password.
    void setPassword(std::string password);
    const std::string& password() const { return password_; }

    // A module that answers "Reconfigured" but keeps every value, as a
    // faulty one does: for the tools that must not take the answer as proof.
    void setKeepsValues(bool keeps) { keepsValues_ = keeps; }
    // A module that still answers scans but neither applies nor answers a
    // Configure request (one lost on its way, a hung firmware task).
    void setAnswersConfigure(bool answers) { answersConfigure_ = answers; }
    bool answersConfigure() const { return answersConfigure_; }

    // "protocol version = 1.10;fb type = ...;" without its NUL.
    std::string scanReply() const;
    std::string reconfiguredReply() const;
    std::string invalidPasswordReply() const;

    // Applies a Configure request addressed to this module. A protected
    // module needs a "Password:" piece equal to its password, else nothing is
    // changed. Address pieces must be dotted quads and DHCP ON or OFF;
    // pieces that are not are skipped (and named in the summary), the rest
    // are applied. Unknown keys are ignored.
    ConfigureResult configure(const Request& request);

private:
    static std::size_t index(ModuleField field) { return static_cast<std::size_t>(field); }

    MacAddress mac_;
    std::array<std::string, kModuleFieldCount> values_;
    std::bitset<kModuleFieldCount> reported_;
    std::string password_;
    bool pswdFieldExplicit_ = false;
    bool keepsValues_ = false;
    bool answersConfigure_ = true;
};

// "a.b.c.d" with four decimal numbers of 0..255 (at most three digits each):
// the same text without leading zeros. Empty for anything else.
std::optional<std::string> normaliseDottedQuad(std::string_view text);

// "on"/"off" in any case, as "on"/"off".
std::optional<std::string> normaliseOnOff(std::string_view text);

} // namespace modulesim

#endif
