#ifndef CLI_SCANOUTPUT_H
#define CLI_SCANOUTPUT_H

#include "commissioning/scanwarnings.h"
#include "modules/modulestore.h"
#include "modules/rowcomparison.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The columns of the table: the window's seven, the host name, then the
// notes (commissioning::scanNotes in the window's words, joined by "; ").
inline constexpr int kColumnHostName = 7;
inline constexpr int kTableColumnCount = 9;

// A module's warning codes (commissioning::scanWarnings); a module not in
// it has none.
using ScanWarnings = std::map<modules::MacAddress, commissioning::WarningCodes>;
// A module's notes in sentences (commissioning::scanNotes).
using ScanNotes = std::map<modules::MacAddress, std::vector<commissioning::ScanNote>>;

enum class ScanFormat { kTable, kJson, kCsv };

// The modules in the order the window's list would show them for `order`
// (its row comparison, on its column texts; the host name compares like any
// other text column).
std::vector<QORT_ModuleScanResponseType> SortedModules(const modules::ModuleStore& modules, modules::SortOrder order);

// Aligned columns with a heading line. Text a module reported is written
// with control bytes replaced (platform::escapeControlBytes).
std::string FormatTable(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanNotes& notes);

// An array with one object per module, with a member for every field the
// module reported and none for a field it left out: mac "00-30-11-0A-BC-0F",
// ip, mask, gateway, dns1, dns2 dotted, dhcp and password as true/false,
// hostname and type as text, version "2.01.7", protocol "1.10", and always
// warnings, an array of codes (empty when none). Pure ASCII: every other
// character is a \u escape.
std::string FormatJson(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanWarnings& warnings);

// RFC 4180 with a header row naming the same fields as the JSON members;
// a field the module left out is an empty cell, dhcp and password are
// on/off, texts are escaped as in the table; the last column, warnings,
// holds the codes joined by ";".
std::string FormatCsv(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanWarnings& warnings);

} // namespace cli

#endif
