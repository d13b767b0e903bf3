#ifndef MODULES_CONFIGUREREQUEST_H
#define MODULES_CONFIGUREREQUEST_H

#include "modules/ethernetconfigfields.h"
#include "protocol/qort.h"

#include <cstdint>
#include <optional>
#include <string>

// From a module's scan reply to the Ethernet configuration dialog's fields,
// and from the confirmed fields to the Configure request. Plain code: the
// window's configure flow and the command line's "configure" share it.

namespace modules {

// The dialog's inputs from what the module reported. Values whose Valid byte
// is not 1 are left as they are (their controls are cleared and disabled).
// The host name is cut to 29 characters; DHCP is preselected "On" whenever
// the module reported any non-zero DHCP value, "Off" otherwise.
void prefillConfigFields(const QORT_ModuleScanResponseType& found, EthernetConfigFields& fields);

// The request after "Set". Addresses are copied as the dialog hands them
// back, so a control the module did not report sends 0. NewPassword is sent
// only when "Change password" was checked and stays zero otherwise.
QORT_ConfigureRequestType buildConfigureRequest(
    const QORT_ModuleScanResponseType& found, const EthernetConfigFields& fields);

// What the command line was told to set; nothing: as the module has it.
struct GivenSettings {
    std::optional<std::uint32_t> ip = {}, mask = {}, gateway = {}, dns1 = {}, dns2 = {};
    std::optional<std::string> hostName = {};
    std::optional<bool> dhcp = {};
};

// The command line's request, without passwords. Unlike the dialog, which
// shows what it will send, the command line must not change what nobody
// asked to change: each setting goes out as given, else as the module
// reported it; an address or DHCP setting the module did not report (or
// reported as neither on nor off) and nobody gave is left out. Nothing when
// the module's host name would be written back cut: it reported one longer
// than 29 characters and no new one was given.
std::optional<QORT_ConfigureRequestType> buildCommandLineConfigureRequest(
    const QORT_ModuleScanResponseType& found, const GivenSettings& given);

// The passwords of the confirmed fields: NewPassword only when "Change
// password" was checked, zero otherwise.
void copyRequestPasswords(QORT_ConfigureRequestType& request, const EthernetConfigFields& fields);

} // namespace modules

#endif
