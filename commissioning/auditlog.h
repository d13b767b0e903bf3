#ifndef COMMISSIONING_AUDITLOG_H
#define COMMISSIONING_AUDITLOG_H

#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The audit log: one JSON line per write to a module, from either front
// end, appended to $XDG_STATE_HOME/sorvinda/audit.jsonl
// (~/.local/state/sorvinda/audit.jsonl when unset). A line holds time
// (RFC 3339, UTC), user, program, mac, before (the module's values as the
// scan before the write reported them), after (the values the request
// carried; a piece the request left out is absent), result. Value objects
// use the names and texts of `sorvinda scan --format json`: ip, mask,
// gateway, dns1, dns2 (dotted), hostname (text), dhcp (true/false); a value
// the module did not report is absent. No password is ever written.
//
// Front ends, per write:
//   commissioning::AuditLog log = commissioning::AuditLog::forUser();
//   if (auto error = log.append({"sorvinda", found, request, WriteResult::Verified}))
//       print *error and go on;
// and for undo:
//   std::optional<QORT_ModuleScanResponseType> before = log.undoValues(mac);

namespace commissioning {

// The new values are appended at the end: numbers already in use keep their meaning.
enum class WriteResult { Verified, NotVerified, InvalidPassword, NoAnswer, Refused, Sent, Interrupted };

// "verified", "not-verified", "invalid-password", "no-answer", "refused",
// "sent", "interrupted".
const char* resultText(WriteResult result);

struct AuditEntry {
    std::string program;                // "sorvinda", "SorvindaConfig"
    QORT_ModuleScanResponseType before; // the scan record the write started from
    QORT_ConfigureRequestType sent;     // its MacId names the module; passwords are never read
    WriteResult result;
};

// The line for entry without its newline.
std::string auditLine(const AuditEntry& entry, std::time_t when, const std::string& user);

// The `before` values of the newest readable `verified` line for mac in
// text (later lines are newer: the file is only ever appended to), as a scan
// record with MacId set and a Valid byte for each value the line holds.
// Lines that are cut short or are no audit record are skipped.
std::optional<QORT_ModuleScanResponseType> findUndoValues(std::string_view text, const modules::MacAddress& mac);

// The Configure request that sets values (a value without its Valid byte is
// left out; the host name is always sent, so an unknown one stays as
// the module reported it now: pass current). No password: the caller adds it.
QORT_ConfigureRequestType undoRequest(
    const QORT_ModuleScanResponseType& values, const QORT_ModuleScanResponseType& current);

class AuditLog {
public:
    explicit AuditLog(std::filesystem::path file)
        : file_(std::move(file))
    {
    }
    // The file under $XDG_STATE_HOME (an absolute path) or ~/.local/state.
    static AuditLog forUser();
    const std::filesystem::path& file() const { return file_; }

    // Appends entry's line with one write(), so lines of several programs
    // writing at once never interleave. Creates the folder (0700) and the
    // file (0600) on first use. A sentence saying what failed, or nothing.
    std::optional<std::string> append(const AuditEntry& entry) const;

    // findUndoValues over the file; nothing when it cannot be read.
    std::optional<QORT_ModuleScanResponseType> undoValues(const modules::MacAddress& mac) const;

private:
    std::filesystem::path file_;
};

} // namespace commissioning

#endif
