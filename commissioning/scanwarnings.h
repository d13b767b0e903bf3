#ifndef COMMISSIONING_SCANWARNINGS_H
#define COMMISSIONING_SCANWARNINGS_H

#include "commissioning/adaptersubnets.h"
#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <map>
#include <string>
#include <vector>

// What one scan shows about the modules' addresses without sending anything
// more, and what a write that did not take leaves behind. The command line
// writes the codes (JSON "warnings", CSV "warnings") and the sentences (the
// table's notes); the window shows the sentences as a row's tooltip and the
// kind as the row's mark.

namespace commissioning {

// Another module of the same scan reports the same IP (0.0.0.0 excepted).
inline constexpr const char* kWarningDuplicateIp = "duplicate-ip";
// The IP lies in no subnet of this computer's usable adapters: the module
// is found by broadcast scans but cannot be reached by IP from here. Not
// for 0.0.0.0 or a module with DHCP on. Usual while a laptop is not yet in
// the machine's subnet, and no obstacle to configuring the module.
inline constexpr const char* kWarningOtherSubnet = "other-subnet";
// The module reports an address of one of this computer's adapters.
inline constexpr const char* kWarningOwnAddress = "own-address";

using WarningCodes = std::vector<std::string>;

// How much a note matters, least first: a row shows the mark of its most
// serious note.
enum class NoteKind {
    Information, // worth knowing, nothing is wrong (other-subnet)
    Warning,     // a fault on the segment (duplicate-ip, own-address)
    Failure,     // a write that did not take (not verified, not answered)
};

// One thing to tell about a module: its kind and a sentence that says what,
// who and, where there is something to do, what.
struct ScanNote {
    NoteKind kind = NoteKind::Information;
    std::string text;
    bool operator==(const ScanNote&) const = default;
};

// The codes of every module of the scan, in the order duplicate-ip,
// own-address, other-subnet; a module without a warning maps to an empty
// list. A module that answered twice is one module: only another MAC makes
// a duplicate.
std::map<modules::MacAddress, WarningCodes> scanWarnings(
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets);

// The same judgement in sentences, in the same order:
//   "Shares 10.213.0.50 with 00-30-11-00-00-08"
//   "Uses 10.213.0.1, the address of this computer (eth1): give it another address"
//   "Not in any subnet of this computer (eth1 10.213.0.1/24, wlan0
//    192.168.1.7/24): it can still be configured here"
std::map<modules::MacAddress, std::vector<ScanNote>> scanNotes(
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets);

NoteKind warningKind(const std::string& code);

// One sentence for a code without naming anyone (for a legend); the code
// itself when unknown.
std::string warningText(const std::string& code);

// "eth1 10.213.0.1/24, wlan0 192.168.1.7/24"; "no adapter is up" for none.
std::string adapterSubnetsText(const std::vector<AdapterSubnet>& subnets);

// A write whose rescan shows other values: one sentence per field that did
// not take, "Sent IP 10.213.0.91; the module still reports 10.213.0.50"
// ("reports" when the module shows a third value, "reports no IP" when it
// leaves the field out). Compared as commissioning::unverifiedFields
// compares; empty when the write is verified. `before` is the module as it
// was scanned before the write.
std::vector<ScanNote> notVerifiedNotes(const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& sent,
    const QORT_ModuleScanResponseType& seen);
// A write that got no answer, or whose module answered and was never seen
// again: "Sent IP 10.213.0.91; the module did not answer" / "...; the module
// answered but did not show up in a rescan". The sent values named are the
// ones that change the module (its IP when nothing changed).
ScanNote unansweredNote(
    const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& sent, bool answered);

} // namespace commissioning

#endif
