#ifndef COMMISSIONING_ADDRESSFIELDS_H
#define COMMISSIONING_ADDRESSFIELDS_H

#include "modules/configurerequest.h"
#include "protocol/qort.h"

#include <cstdint>
#include <optional>

// The five address settings of a module and where each one lives in a scan
// record, a Configure request and the command line's or a plan's settings:
// the audit log, the plan's steps and the verification walk one table.

namespace commissioning {

// The bytes of a scan record's Valid and DHCP fields.
inline constexpr std::uint8_t kValid = 1;
inline constexpr std::uint8_t kOn = 1;
inline constexpr std::uint8_t kOff = 0;

// A value the module leaves out of its reply, in sentences.
inline constexpr const char* kNotReported = "not reported";

struct AddressField {
    const char* name;  // the scan's JSON member, the audit record's and the plan's column: "ip"
    const char* label; // in sentences: "IP", "DNS 1"
    std::uint32_t QORT_ModuleScanResponseType::*value;
    std::uint8_t QORT_ModuleScanResponseType::*valid;
    std::uint32_t QORT_ConfigureRequestType::*sent;
    std::optional<std::uint32_t> modules::GivenSettings::*given;
    bool setByDhcp; // handed out by the DHCP server while DHCP is on
};

// In the order of `sorvinda scan --format json`, which also has dhcp
// between gateway and hostname.
inline constexpr AddressField kAddressFields[] = {
    {"ip", "IP", &QORT_ModuleScanResponseType::IpAddr, &QORT_ModuleScanResponseType::IpAddrValid,
        &QORT_ConfigureRequestType::IpAddr, &modules::GivenSettings::ip, true},
    {"mask", "mask", &QORT_ModuleScanResponseType::SubnetMask, &QORT_ModuleScanResponseType::SubnetMaskValid,
        &QORT_ConfigureRequestType::SubnetMask, &modules::GivenSettings::mask, true},
    {"gateway", "gateway", &QORT_ModuleScanResponseType::Gateway, &QORT_ModuleScanResponseType::GatewayValid,
        &QORT_ConfigureRequestType::Gateway, &modules::GivenSettings::gateway, true},
    {"dns1", "DNS 1", &QORT_ModuleScanResponseType::Dns1, &QORT_ModuleScanResponseType::Dns1Valid,
        &QORT_ConfigureRequestType::Dns1, &modules::GivenSettings::dns1, false},
    {"dns2", "DNS 2", &QORT_ModuleScanResponseType::Dns2, &QORT_ModuleScanResponseType::Dns2Valid,
        &QORT_ConfigureRequestType::Dns2, &modules::GivenSettings::dns2, false},
};

} // namespace commissioning

#endif
