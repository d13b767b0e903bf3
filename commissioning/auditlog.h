#ifndef COMMISSIONING_AUDITLOG_H
#define COMMISSIONING_AUDITLOG_H

#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The audit log, a journal written before the wire: one JSON line per
// record, from either front end, appended to
// $XDG_STATE_HOME/sorvinda/audit.jsonl (~/.local/state/sorvinda/audit.jsonl
// when unset). A line holds time (RFC 3339, UTC), user, program, mac, before
// (the module's values as the scan before the write reported them), after
// (the values the request carried; a piece the request left out is absent),
// result. Value objects use the names and texts of `sorvinda scan --format
// json`: ip, mask, gateway, dns1, dns2 (dotted), hostname (text), dhcp
// (true/false); a value the module did not report is absent. No password is
// ever written.
//
// A write is two records: `sent`, appended and fsynced before the request
// leaves, then its outcome (`verified`, `not-verified`, `invalid-password`,
// `no-answer`, or `interrupted` when a signal ended the program first). A
// write refused before it left has one record, `refused`. A record starts
// with a newline when the file does not end in one, so a line cut by a full
// disk or a crash never swallows the next record.
//
// Front ends, per write (the command line's configure and undo, a plan run,
// the window):
//   commissioning::WriteJournal journal(commissioning::AuditLog::forUser());
//   std::optional<std::string> error;
//   commissioning::WriteJournal::Ticket ticket = journal.sent({"sorvinda", found, request, {}}, error);
//   if (error) say *error;            // the write goes on: its outcome stands
//   send the request, wait for the answer and the verifying scans;
//   if (auto error = journal.finish(ticket, WriteResult::Verified)) say *error;
// Many writes sent at once (a plan): sent(entries, error) and
// finish(outcomes) take them together, one write() and one fsync each; an
// fsync per record costs milliseconds on a real disk (about 4.6 ms on the
// development machine: 200 of them would take 0.9 s). Both front ends keep
// each journal in a commissioning::InterruptedWrites while writes are out,
// so that SIGINT, SIGTERM, SIGHUP and SIGPIPE append `interrupted` for every
// write still open (WriteJournal::recordInterrupted) before the program ends.
// A write refused before it left: AuditLog::append({..., WriteResult::Refused}).
//
// Undo (AuditLog::findUndo) reads the log from its end, block by block, and
// takes the newest record of the module whose `before` it can read and whose
// write may have changed the module: every result but `refused` and
// `invalid-password` (they and the `sent` they close changed nothing). So
// undo after an interrupted or unanswered write restores the values from
// just before it. A line after that record which cannot be read and may be
// the module's (anything but a line naming another MAC in its "mac" member)
// makes undo refuse, naming the line: it never falls back to older records.

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

// What undo found for one module.
struct UndoLookup {
    // The `before` values of the record undo uses, as a scan record with
    // MacId set and a Valid byte for each value the line holds.
    std::optional<QORT_ModuleScanResponseType> values;
    // Set when undo must not go on: the 1-based line that stops it (0 when
    // the file itself was refused) and a sentence saying why.
    std::uint64_t refusedLine = 0;
    std::optional<std::string> refusal;
};

// The lookup over a whole log held in text (later lines are newer: the file
// is only ever appended to), named "line" in a refusal. The same reader as
// AuditLog::findUndo, which reads blocks of 1 MiB; tests and the fuzzer
// pass small blocks to put block edges everywhere.
inline constexpr std::size_t kUndoBlockSize = std::size_t{1024} * 1024;
UndoLookup findUndo(std::string_view text, const modules::MacAddress& mac, std::size_t blockSize = kUndoBlockSize);

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

    // Appends entry's line with one write() and fsyncs it, so lines of
    // several programs writing at once never interleave. Creates the folder
    // and the file on first use; sets the folder to 0700 and the file to
    // 0600 each time. Refuses a symbolic link, a file that is not a regular
    // one, and a file or folder of another user. A sentence saying what
    // failed, or nothing.
    std::optional<std::string> append(const AuditEntry& entry) const;
    // The records of many writes with one write() and one fsync: a plan's
    // outcomes (an fsync costs milliseconds on a real disk).
    std::optional<std::string> append(const std::vector<AuditEntry>& entries) const;

    // Undo's lookup over the file, read from its end block by block (memory
    // bounded by the block and the longest line read, not by the file). A
    // missing file holds nothing; a file the writer would refuse is refused.
    UndoLookup findUndo(const modules::MacAddress& mac) const;
    // findUndo's values; nothing when there are none or undo is refused.
    std::optional<QORT_ModuleScanResponseType> undoValues(const modules::MacAddress& mac) const;

private:
    std::filesystem::path file_;
};

// The writes of one program run, journalled before they leave (see the top
// of this header). sent() and finish() are called from one thread;
// recordInterrupted() from a signal handler on any thread.
class WriteJournal {
public:
    struct Open; // one write between its `sent` record and its outcome
    class Ticket {
    public:
        Ticket() = default;
        bool valid() const { return open_ != nullptr; }

    private:
        friend class WriteJournal;
        explicit Ticket(Open* open)
            : open_(open)
        {
        }
        Open* open_ = nullptr;
    };

    explicit WriteJournal(AuditLog log);
    ~WriteJournal();
    WriteJournal(const WriteJournal&) = delete;
    WriteJournal& operator=(const WriteJournal&) = delete;

    const AuditLog& log() const { return log_; }

    // Appends a `sent` record for entry (its result is not read) and fsyncs
    // it; call it just before the request leaves. The ticket names the write
    // for finish(). error says when the record could not be written; the
    // ticket is valid all the same, so the outcome is still tried.
    Ticket sent(const AuditEntry& entry, std::optional<std::string>& error);
    std::vector<Ticket> sent(const std::vector<AuditEntry>& entries, std::optional<std::string>& error);

    // Appends the outcome record of a sent write (same before and after).
    // A write a signal already recorded as `interrupted` gets no other.
    std::optional<std::string> finish(const Ticket& ticket, WriteResult outcome);
    std::optional<std::string> finish(const std::vector<std::pair<Ticket, WriteResult>>& outcomes);

    // Appends `interrupted` for every write sent and not finished, with the
    // time of the call, and fsyncs: only async-signal-safe calls.
    void recordInterrupted() noexcept;

private:
    std::optional<std::string> appendLines(const std::string& lines);

    AuditLog log_;
    std::string user_;
    int fd_ = -1;                        // the log, opened at the first record
    std::atomic<Open*> newest_{nullptr}; // every write sent, newest first
};

} // namespace commissioning

#endif
