#ifndef COMMISSIONING_SCANVIEW_H
#define COMMISSIONING_SCANVIEW_H

#include "commissioning/scanwarnings.h"
#include "protocol/qort.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A module's scan record as the command line writes it, and the reading of
// such a list back: `sorvinda scan --format json` writes it, `sorvinda diff`
// compares two of them, `sorvinda watch` reports and keeps it.

namespace commissioning {

inline constexpr const char* kMacName = "mac";
inline constexpr const char* kWarningsName = "warnings";

// One named field of a record, as the JSON and CSV outputs write it.
struct ScanField {
    const char* name;
    std::optional<nlohmann::ordered_json> value; // nothing: not reported
    std::string csvText;                         // control bytes escaped
};

// mac, ip, mask, gateway, dhcp, password, hostname, dns1, dns2, type,
// version, protocol: in this order, each with a value when the module
// reported it (a switch that is neither on nor off is not reported).
std::vector<ScanField> scanFields(const QORT_ModuleScanResponseType& record);

// The object for one module: a member for every field the module reported
// (mac "00-30-11-0A-BC-0F", ip, mask, gateway, dns1, dns2 dotted, dhcp and
// password true/false, hostname and type as text, version "2.01.7",
// protocol "1.10") and always warnings, an array of codes (empty when none).
nlohmann::ordered_json moduleJson(const QORT_ModuleScanResponseType& record, const WarningCodes& warnings);

// MAC text -> module object.
using ScanView = std::map<std::string, nlohmann::ordered_json>;

// A saved `sorvinda scan --format json` list read back: an array of
// objects, each with a mac as the list writes it, every MAC once. Nothing
// when text is no such list; error says why.
std::optional<ScanView> readScanView(std::string_view text, std::string& error);

// True for "00-30-11-0A-BC-0F": six pairs of upper-case hexadecimal digits
// joined by '-', as the list writes a MAC.
bool isMacText(std::string_view text);

// The names of the fields whose values differ (one has it, the other not,
// or other values), in the order of `before` then the new ones of `after`;
// warnings do not count: they depend on the computer that scanned.
std::vector<std::string> changedFields(const nlohmann::ordered_json& before, const nlohmann::ordered_json& after);

} // namespace commissioning

#endif
