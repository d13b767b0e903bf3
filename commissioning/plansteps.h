#ifndef COMMISSIONING_PLANSTEPS_H
#define COMMISSIONING_PLANSTEPS_H

#include "commissioning/adaptersubnets.h"
#include "commissioning/addressinuse.h"
#include "commissioning/auditlog.h"
#include "commissioning/change.h"
#include "commissioning/planfile.h"
#include "protocol/qort.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What a plan does to the modules one scan found, and the writes that carry
// it out. No transport here: the front ends scan, send and wait, and hand
// over what came back.
//
// Dry run:
//   auto steps = commissioning::planSteps(reading.plan, scan, commissioning::usableAdapterSubnets());
//   auto problems = commissioning::planProblems(reading.plan, steps);
//   if (!problems.empty()) print each and send nothing (exit 2);
//   for (auto& step : steps) print stepLine(step);  print dryRunSummary(steps);
// Apply, in waves: a row whose new address is held by a plan module that
// moves away is written only once that move is verified.
//   commissioning::PlanRun run(steps, force);
//   for (auto wave = run.requests(); !wave.empty(); wave = run.requests()) {
//       for (auto request : wave) { log.append(*run.sentEntry(mac)); add the password; send; run.sent(mac); }
//       as answers come in (each names its module): run.answered(mac, answer); the others: Answer::None;
//       rescan until run.verify(rescan) or time is up;
//       log the outcome records of the wave's rows (run.results()'s audit);
//   }
//   for (auto& r : run.results()) { print r.line; log the audit records not logged yet; }
//   print run.summary(); exit run.succeeded() ? 0 : 8;

namespace commissioning {

enum class StepKind { Unchanged, Change, Missing, Conflict };

// "unchanged" "change" "missing" "conflict"
const char* stepKindText(StepKind kind);

struct PlanStep {
    PlanRow row;
    StepKind kind = StepKind::Missing;
    std::optional<QORT_ModuleScanResponseType> found; // the module's scan record; nothing: Missing
    std::vector<FieldChange> changes;                 // in the order of FieldChange's fields
    QORT_ConfigureRequestType request{};              // Change, Conflict: what goes out, no password
    std::string holder;                               // Conflict: holderText of the address's holder
    // Not empty: the row cannot be written as it stands (a setting the
    // module does not report, a host name the dialog refuses, a long name
    // that would be written back cut). planProblems lists it.
    std::string problem;
    // Why the network was not asked about the new IP, or could not be (for
    // the front end to show); empty when it was.
    std::string addressNote;
    // Change: the plan modules that hold the new IP now and move away in
    // this plan. The row is written only after each of their writes is
    // verified.
    std::vector<modules::MacAddress> waitsFor;
};

struct PlanCheckOptions {
    // Asked for every target address at once with one bound for all: the
    // system's askers (askNetwork, askByArpProbe, askNeighbourTable) in
    // their batch forms, any other asker for all addresses in parallel
    // (from several threads at once).
    NetworkAsker ask = askNetwork;
    std::chrono::milliseconds bound = kAddressAnswerBound;
    // Every address of this computer (computerAddresses()), none of which a
    // module may take.
    std::function<std::vector<AdapterSubnet>()> computer = computerAddresses;
};

// One step per plan row, in plan order. The request is
// modules::buildCommandLineConfigureRequest of the row's settings, and the
// step is the change (change.h) it makes to the module's scan record. Every
// new IP a write sends is checked: held by a module outside the plan, by a
// plan module that keeps its address, or by another host (this computer
// too), it is a Conflict; held by plan modules that move away, the row
// waits for them (waitsFor), unless one of those moves is a Conflict. Moves
// that wait on each other in a ring (A takes B's address, B takes A's) are
// refused up front: each such row gets a problem, and nothing is sent. Two
// writes sending one new IP are refused likewise. A module that runs DHCP
// and keeps it on is not written for IP, mask or gateway alone: it reports
// what its DHCP server gave it.
std::vector<PlanStep> planSteps(const Plan& plan, const std::vector<QORT_ModuleScanResponseType>& scan,
    const std::vector<AdapterSubnet>& subnets, const PlanCheckOptions& options = {});

// "FILE:LINE: message" for each step with a problem, in plan order. Not
// empty: nothing may be sent (exit 2), as for readPlan's problems. Only the
// scan shows these: a host name the dialog refuses is no problem in a row
// that leaves the module as it is (a scan's own CSV of a module named
// "module-1" changes nothing), but it is in a row that writes.
std::vector<std::string> planProblems(const Plan& plan, const std::vector<PlanStep>& steps);

// `00-30-11-00-00-01 change ip 192.168.10.1 -> 192.168.20.1, hostname "a" -> "b"`,
// `00-30-11-00-00-02 unchanged`, `00-30-11-00-00-03 missing`,
// `00-30-11-00-00-04 conflict ip 192.168.0.9 (in use by module 00-30-11-00-00-09)`;
// a change that waits ends `(waits for 00-30-11-00-00-09)`, and one whose
// address could not be asked about `(address not checked: NOTE)`.
std::string stepLine(const PlanStep& step);

// "N to change, N unchanged, N missing, N conflicts"
std::string dryRunSummary(const std::vector<PlanStep>& steps);

// The writes of one plan and their verification, as both front ends drive
// them. Written are the Change rows, and the Conflict rows when forced; a
// Conflict row without force fails without being sent ("failed: address A
// is in use by M", audit result refused). A failed row never stops the
// others, except the rows waiting for it: those are never sent and end
// "blocked: module M did not leave A".
class PlanRun {
public:
    PlanRun(std::vector<PlanStep> steps, bool force);

    // The rows that may be written now, plan order, without passwords: not
    // sent yet, and every module they wait for verified at its new place.
    // Call it again after each wave's verification; empty: the run is done.
    std::vector<QORT_ConfigureRequestType> requests() const;
    // The `sent` record to append (and flush) just before this module's
    // request leaves; program is left empty for the front end. Nothing: no
    // such row to write.
    std::optional<AuditEntry> sentEntry(const modules::MacAddress& mac) const;
    // The front end sent this module's request.
    void sent(const modules::MacAddress& mac);

    enum class Answer { Reconfigured, InvalidPassword, None };
    // None: no answer within the wait. A later answer replaces an earlier one.
    void answered(const modules::MacAddress& mac, Answer answer);

    // Checks every reconfigured row against a rescan (unverifiedFields). True
    // when every reconfigured row is verified; feed rescans until true or
    // time is up.
    bool verify(const std::vector<QORT_ModuleScanResponseType>& rescan);

    // Rows not sent yet end "cancelled"; requests() no longer lists them.
    void cancel();

    struct RowResult {
        PlanRow row;
        std::string outcome; // changed unchanged missing failed blocked cancelled
        std::string line;    // the result line: MAC, outcome, and why it failed
        // Each row written or refused: program is left empty for the front end.
        std::optional<AuditEntry> audit;
    };
    // One per plan row, plan order. Sent rows without an answer count as
    // not answered, reconfigured rows not verified by the last rescan as
    // not verified.
    std::vector<RowResult> results() const;
    // "N changed, N unchanged, N missing, N failed" (", N blocked" when
    // rows waited in vain, ", N cancelled" after a cancel)
    std::string summary() const;
    // Every row changed or unchanged (the command line's exit 0, else 8).
    bool succeeded() const;

    // For a progress display: "written/verified of total".
    struct Counts {
        std::size_t total = 0;    // rows to write (cancelled ones too)
        std::size_t written = 0;  // sent, whatever came back
        std::size_t verified = 0; // shown by a rescan as sent
        bool operator==(const Counts&) const = default;
    };
    Counts counts() const;

private:
    enum class Progress { Waiting, Sent, Reconfigured, InvalidPassword, NoAnswer, Verified, Cancelled };
    struct Row {
        PlanStep step;
        bool written = false; // in requests()
        Progress progress = Progress::Waiting;
        std::vector<std::string> unverified; // from the last rescan that saw the module
    };
    RowResult resultOf(const Row& row) const;
    const Row* rowOf(const modules::MacAddress& mac) const;
    // The module this waiting row waits for whose write failed, if any.
    static constexpr int kLongestWaitChain = 1000;
    const Row* failedHolder(const Row& row, int depth) const;
    Row* writtenRow(const modules::MacAddress& mac); // nothing: no such row, or cancelled
    std::vector<Row> rows_;
};

} // namespace commissioning

#endif
