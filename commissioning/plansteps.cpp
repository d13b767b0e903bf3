#include "commissioning/plansteps.h"

#include "commissioning/addressfields.h"
#include "commissioning/verification.h"
#include "modules/columntexts.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/ethernetconfigfields.h"
#include "platform/textescape.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace commissioning {
namespace {

// A setting the module does not report is locked in the configure dialog,
// and so it is in a plan.
std::string unreportedSetting(const modules::GivenSettings& given, const QORT_ModuleScanResponseType& found)
{
    for (const AddressField& setting : kAddressFields)
        if ((given.*setting.given).has_value() && found.*setting.valid != kValid)
            return setting.name;
    if (given.hostName && found.HostNameValid != kValid)
        return "hostname";
    return {};
}

// Why a row that writes cannot be written: a setting the module does not
// report, a long reported name that would go back cut, or the typed-input
// rules on what the row changes (never on what it restates).
std::string writeProblemOf(const PlanStep& step, bool nameWouldBeCut)
{
    const std::string mac = modules::formatMac(step.row.mac);
    const std::string unreported = unreportedSetting(step.row.settings, *step.found);
    if (!unreported.empty())
        return "module " + mac + " does not report " + unreported + ", so it cannot be set";
    if (nameWouldBeCut)
        return "module " + mac + " reports a host name longer than " + std::to_string(modules::kConfigTextMaxChars)
            + " characters, which would be written back cut: give a hostname";
    return writeProblem(changeOf(*step.found, step.request)).value_or("");
}

const QORT_ModuleScanResponseType* recordOf(
    const modules::MacAddress& mac, const std::vector<QORT_ModuleScanResponseType>& scan)
{
    const auto found = std::find_if(scan.begin(), scan.end(), [&mac](const QORT_ModuleScanResponseType& record) {
        return record.MacIdValid == kValid && modules::macOfRecord(record) == mac;
    });
    return found == scan.end() ? nullptr : &*found;
}

// The request as the row asks for it. A reported host name longer than a
// request may carry (and no new one given) goes into the comparison whole:
// a row that writes nothing else stays unchanged, one that writes is
// refused rather than cutting the name.
QORT_ConfigureRequestType requestOf(const PlanRow& row, const QORT_ModuleScanResponseType& found, bool& nameWouldBeCut)
{
    std::optional<QORT_ConfigureRequestType> request = modules::buildCommandLineConfigureRequest(found, row.settings);
    nameWouldBeCut = !request.has_value();
    if (request)
        return *request;
    modules::GivenSettings whole = row.settings;
    whole.hostName = std::string(found.HostName, ::strnlen(found.HostName, QORT_TEXT_FIELD_SIZE));
    return modules::buildCommandLineConfigureRequest(found, whole).value_or(QORT_ConfigureRequestType{});
}

PlanStep stepOf(const PlanRow& row, const std::vector<QORT_ModuleScanResponseType>& scan)
{
    PlanStep step{row, StepKind::Missing, std::nullopt, {}, {}, {}, {}, {}};
    std::copy(row.mac.begin(), row.mac.end(), step.request.MacId);
    const QORT_ModuleScanResponseType* found = recordOf(row.mac, scan);
    if (found == nullptr)
        return step;
    step.found = *found;
    bool nameWouldBeCut = false;
    step.request = requestOf(row, *found, nameWouldBeCut);
    const Change change = changeOf(*found, step.request);
    step.kind = writesSomething(change) ? StepKind::Change : StepKind::Unchanged;
    if (step.kind == StepKind::Change) {
        step.changes = change.fields;
        step.problem = writeProblemOf(step, nameWouldBeCut);
    }
    return step;
}

// The address a writing row asks about: the new IP it sends.
std::optional<std::uint32_t> newAddress(const PlanStep& step)
{
    if (step.kind != StepKind::Change)
        return std::nullopt;
    return addressToAsk(changeOf(*step.found, step.request));
}

std::string joined(const std::vector<std::string>& parts, const char* separator)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

std::string changesText(const std::vector<FieldChange>& changes)
{
    Change change;
    change.fields = changes;
    return changeText(change);
}

std::string conflictAddress(const PlanStep& step)
{
    return modules::formatDottedAddress(step.request.IpAddr);
}

} // namespace

const char* stepKindText(StepKind kind)
{
    switch (kind) {
    case StepKind::Unchanged:
        return "unchanged";
    case StepKind::Change:
        return "change";
    case StepKind::Missing:
        return "missing";
    case StepKind::Conflict:
        return "conflict";
    }
    return "";
}

std::vector<PlanStep> planSteps(const Plan& plan, const std::vector<QORT_ModuleScanResponseType>& scan,
    const std::vector<AdapterSubnet>& subnets, const PlanCheckOptions& options)
{
    std::vector<PlanStep> steps;
    for (const PlanRow& row : plan.rows)
        steps.push_back(stepOf(row, scan));
    std::set<modules::MacAddress> movingAway;
    std::vector<AddressTarget> targets;
    std::vector<PlanStep*> checked;
    for (PlanStep& step : steps)
        if (const std::optional<std::uint32_t> address = newAddress(step)) {
            if (step.problem.empty())
                movingAway.insert(step.row.mac);
            targets.push_back({*address, step.row.mac});
            checked.push_back(&step);
        }
    const std::vector<AddressUse> uses =
        checkAddressesInUse(targets, scan, subnets, batchAsker(options.ask), options.bound);
    for (std::size_t i = 0; i < uses.size(); ++i)
        checked[i]->addressNote = uses[i].note;
    // A holder that leaves the address in the same run hands it over. One
    // that stays after all (its own new address is taken) does not, and
    // that may hold another row back in turn.
    for (bool settled = false; !settled;) {
        settled = true;
        for (std::size_t i = 0; i < uses.size(); ++i) {
            PlanStep& step = *checked[i];
            if (step.kind == StepKind::Conflict || !uses[i].inUse
                || (uses[i].holderIsModule && movingAway.count(uses[i].holder) != 0))
                continue;
            step.kind = StepKind::Conflict;
            step.holder = holderText(uses[i]);
            movingAway.erase(step.row.mac);
            settled = false;
        }
    }
    return steps;
}

std::vector<std::string> planProblems(const Plan& plan, const std::vector<PlanStep>& steps)
{
    std::vector<std::string> problems;
    for (const PlanStep& step : steps)
        if (!step.problem.empty())
            problems.push_back(plan.file + ":" + std::to_string(step.row.line) + ": " + step.problem);
    return problems;
}

std::string stepLine(const PlanStep& step)
{
    std::string line = modules::formatMac(step.row.mac) + " " + stepKindText(step.kind);
    if (step.kind == StepKind::Change)
        line += " " + changesText(step.changes);
    if (step.kind == StepKind::Conflict)
        line += " ip " + conflictAddress(step) + " (in use by " + step.holder + ")";
    return line;
}

std::string dryRunSummary(const std::vector<PlanStep>& steps)
{
    const auto count = [&steps](StepKind kind) {
        return std::to_string(
            std::count_if(steps.begin(), steps.end(), [kind](const PlanStep& step) { return step.kind == kind; }));
    };
    return count(StepKind::Change) + " to change, " + count(StepKind::Unchanged) + " unchanged, "
        + count(StepKind::Missing) + " missing, " + count(StepKind::Conflict) + " conflicts";
}

PlanRun::PlanRun(std::vector<PlanStep> steps, bool force)
{
    for (PlanStep& step : steps) {
        const bool writes = step.kind == StepKind::Change || (step.kind == StepKind::Conflict && force);
        rows_.push_back({std::move(step), false, Progress::Waiting, {}});
        rows_.back().written = writes && rows_.back().step.problem.empty();
    }
}

std::vector<QORT_ConfigureRequestType> PlanRun::requests() const
{
    std::vector<QORT_ConfigureRequestType> requests;
    for (const Row& row : rows_)
        if (row.written && row.progress != Progress::Cancelled)
            requests.push_back(row.step.request);
    return requests;
}

PlanRun::Row* PlanRun::writtenRow(const modules::MacAddress& mac)
{
    const auto found = std::find_if(
        rows_.begin(), rows_.end(), [&mac](const Row& row) { return row.written && row.step.row.mac == mac; });
    return found == rows_.end() || found->progress == Progress::Cancelled ? nullptr : &*found;
}

void PlanRun::sent(const modules::MacAddress& mac)
{
    if (Row* row = writtenRow(mac); row != nullptr && row->progress == Progress::Waiting)
        row->progress = Progress::Sent;
}

void PlanRun::answered(const modules::MacAddress& mac, Answer answer)
{
    Row* row = writtenRow(mac);
    if (row == nullptr || row->progress == Progress::Verified)
        return;
    row->progress = answer == Answer::Reconfigured ? Progress::Reconfigured
        : answer == Answer::InvalidPassword        ? Progress::InvalidPassword
                                                   : Progress::NoAnswer;
}

bool PlanRun::verify(const std::vector<QORT_ModuleScanResponseType>& rescan)
{
    bool everyoneVerified = true;
    for (Row& row : rows_) {
        if (row.progress != Progress::Reconfigured)
            continue;
        if (const QORT_ModuleScanResponseType* seen = recordOf(row.step.row.mac, rescan))
            row.unverified = unverifiedFields(row.step.request, *seen);
        else
            row.unverified = {"not verified: the module did not answer the scan after the write"};
        if (row.unverified.empty())
            row.progress = Progress::Verified;
        else
            everyoneVerified = false;
    }
    return everyoneVerified;
}

void PlanRun::cancel()
{
    for (Row& row : rows_)
        if (row.written && row.progress == Progress::Waiting)
            row.progress = Progress::Cancelled;
}

PlanRun::RowResult PlanRun::resultOf(const Row& row) const
{
    const PlanStep& step = row.step;
    const std::string mac = modules::formatMac(step.row.mac);
    const auto result = [&](const char* outcome, const std::string& detail, std::optional<WriteResult> audit) {
        RowResult ended{step.row, outcome, mac + " " + outcome + detail, std::nullopt};
        if (audit)
            ended.audit = AuditEntry{{}, *step.found, step.request, *audit};
        return ended;
    };
    const auto failed = [&](const std::string& why, std::optional<WriteResult> audit = std::nullopt) {
        return result("failed", ": " + why, audit);
    };
    if (step.kind == StepKind::Missing)
        return result("missing", {}, std::nullopt);
    if (step.kind == StepKind::Unchanged)
        return result("unchanged", {}, std::nullopt);
    if (!step.problem.empty())
        return failed(step.problem);
    if (!row.written)
        return failed("address " + conflictAddress(step) + " is in use by " + step.holder, WriteResult::Refused);
    switch (row.progress) {
    case Progress::Cancelled:
        return result("cancelled", {}, std::nullopt);
    case Progress::Waiting:
        return failed("not sent");
    case Progress::Sent:
    case Progress::NoAnswer:
        return failed("no answer", WriteResult::NoAnswer);
    case Progress::InvalidPassword:
        return failed("invalid password", WriteResult::InvalidPassword);
    case Progress::Reconfigured:
        return failed(row.unverified.empty() ? "not verified: no scan after the write" : joined(row.unverified, "; "),
            WriteResult::NotVerified);
    case Progress::Verified:
        break;
    }
    return result("changed", " " + changesText(step.changes), WriteResult::Verified);
}

std::vector<PlanRun::RowResult> PlanRun::results() const
{
    std::vector<RowResult> results;
    for (const Row& row : rows_)
        results.push_back(resultOf(row));
    return results;
}

std::string PlanRun::summary() const
{
    const std::vector<RowResult> all = results();
    const auto count = [&all](const char* outcome) {
        return std::count_if(all.begin(), all.end(), [outcome](const RowResult& r) { return r.outcome == outcome; });
    };
    std::string text = std::to_string(count("changed")) + " changed, " + std::to_string(count("unchanged"))
        + " unchanged, " + std::to_string(count("missing")) + " missing, " + std::to_string(count("failed"))
        + " failed";
    if (const auto cancelled = count("cancelled"); cancelled > 0)
        text += ", " + std::to_string(cancelled) + " cancelled";
    return text;
}

bool PlanRun::succeeded() const
{
    const std::vector<RowResult> all = results();
    return std::all_of(all.begin(), all.end(),
        [](const RowResult& r) { return r.outcome == std::string("changed") || r.outcome == "unchanged"; });
}

PlanRun::Counts PlanRun::counts() const
{
    Counts counts;
    for (const Row& row : rows_) {
        if (!row.written)
            continue;
        ++counts.total;
        if (row.progress != Progress::Waiting && row.progress != Progress::Cancelled)
            ++counts.written;
        if (row.progress == Progress::Verified)
            ++counts.verified;
    }
    return counts;
}

} // namespace commissioning
