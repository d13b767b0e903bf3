#ifndef COMMISSIONING_CHANGE_H
#define COMMISSIONING_CHANGE_H

#include "commissioning/auditlog.h"
#include "protocol/qort.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One model of a write: the difference between the Configure request that
// will be sent and the module's scan record. Everything a front end shows,
// checks, asks the network about and records comes from it, so those can
// never disagree:
//
//   const commissioning::Change change = commissioning::changeOf(found, request);
//   confirmation / dry run:   commissioning::changeText(change)  (or change.fields one by one)
//   checks:                   if (auto why = commissioning::writeProblem(change)) refuse with *why;
//   address check:            if (auto ip = commissioning::addressToAsk(change)) ask who holds *ip;
//   journal:                  log.append(commissioning::auditEntry(change, "sorvinda", WriteResult::...));
//
// The rules for typed input (the dialog's host name characters, an IP not
// ending in 255) apply to what is written: a value the module already
// reports and the request restates (a host name with a hyphen, a name of
// any length the module gave, control bytes, an IP ending .255 in a wider
// subnet) never blocks a write.

namespace commissioning {

// field: ip mask gateway dns1 dns2 hostname dhcp. Texts as the scan's JSON
// shows them: dotted, on/off, the host name quoted and escaped; a value the
// module does not report reads "not reported".
struct FieldChange {
    std::string field, before, after;
    bool operator==(const FieldChange&) const = default;
};

struct Change {
    QORT_ModuleScanResponseType found{}; // the scan record the write starts from
    QORT_ConfigureRequestType request{}; // what goes out; passwords are never read
    // Every value the request carries that differs from the record, in the
    // order ip, mask, gateway, dns1, dns2, hostname, dhcp. An address the
    // request leaves out (QORT_ADDR_NOT_GIVEN) or a DHCP byte other than
    // on/off is not written and so never listed.
    std::vector<FieldChange> fields;
};

Change changeOf(const QORT_ModuleScanResponseType& found, const QORT_ConfigureRequestType& request);

// Whether the request is worth sending. A module that runs DHCP and keeps
// it on reports what its DHCP server gave it: a request differing only in
// IP, mask or gateway then changes nothing the module uses, so a plan
// applied twice writes nothing the second time. Any other listed field
// makes it a write (and then every listed field is shown, IP included).
bool writesSomething(const Change& change);

// Whether field ("ip", "hostname", ...) is among change.fields.
bool changesField(const Change& change, const char* field);

// `ip 192.168.10.1 -> 192.168.20.1, hostname "a" -> "b"`; empty: no field.
std::string changeText(const Change& change);

// The checks of typed input on the values this write changes, with the
// dialog's own messages: a host name of other characters than a-z, A-Z,
// 0-9 ("hostname "a-b": Illegal hostname! ..."), a host name longer than
// the dialog takes (29 characters), an IP ending in 255
// ("ip 10.0.0.255: Last digit of IP address can not be 255."). A value the
// request restates from the record is never checked. Nothing: may be sent.
std::optional<std::string> writeProblem(const Change& change);

// True when the module reports a host name longer than a request can carry
// and the request would write it back cut (the request's name is the
// reported one's beginning). The command line refuses such a write (give
// --hostname); the window asks before it shortens.
bool cutsReportedName(const Change& change);

// The address to ask the network about before the write: the new IP when
// the request changes it (and it is no "no address" 0.0.0.0). Nothing: no
// address check is needed.
std::optional<std::uint32_t> addressToAsk(const Change& change);

// The journal's record of this write. program: "sorvinda", "SorvindaConfig".
AuditEntry auditEntry(const Change& change, const std::string& program, WriteResult result);

} // namespace commissioning

#endif
