#include "commissioning/plansteps.h"

#include "commissioning/addressfields.h"
#include "commissioning/verification.h"
#include "modules/columntexts.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/ethernetconfigfields.h"
#include "platform/textescape.h"

#include <algorithm>
#include <cstring>
#include <map>
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
    PlanStep step{row, StepKind::Missing, std::nullopt, {}, {}, {}, {}, {}, {}};
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

// The modules of the scan, other than the target's own, that report its IP.
std::vector<modules::MacAddress> scanHolders(
    const AddressTarget& target, const std::vector<QORT_ModuleScanResponseType>& scan)
{
    std::vector<modules::MacAddress> holders;
    for (const QORT_ModuleScanResponseType& record : scan)
        if (record.MacIdValid == kValid && record.IpAddrValid == kValid && record.IpAddr == target.ip
            && modules::macOfRecord(record) != target.module)
            holders.push_back(modules::macOfRecord(record));
    return holders;
}

// Who keeps the target's address after all the plan's moves ("module M",
// "this computer (eth0)", a MAC); nothing: it is free, or becomes free.
std::optional<std::string> holderThatStays(const AddressTarget& target, const AddressUse& use,
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::set<modules::MacAddress>& movingAway)
{
    const std::vector<modules::MacAddress> holders = scanHolders(target, scan);
    for (const modules::MacAddress& holder : holders)
        if (movingAway.count(holder) == 0)
            return "module " + modules::formatMac(holder);
    if (!holders.empty() || !use.inUse || (use.holderIsModule && movingAway.count(use.holder) != 0))
        return std::nullopt;
    return holderText(use);
}

std::vector<modules::MacAddress> holdersMovingAway(
    const AddressTarget& target, const AddressUse& use, const std::vector<QORT_ModuleScanResponseType>& scan)
{
    std::vector<modules::MacAddress> holders = scanHolders(target, scan);
    if (holders.empty() && use.inUse && use.holderIsModule)
        holders.push_back(use.holder);
    return holders;
}

// Two writes sending one new IP would leave both modules on it, whichever
// came second.
void refuseSharedTargets(const std::vector<AddressTarget>& targets, const std::vector<PlanStep*>& checked)
{
    std::map<std::uint32_t, int> firstLine;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        PlanStep& step = *checked[i];
        const auto [first, added] = firstLine.emplace(targets[i].ip, step.row.line);
        if (!added && step.problem.empty())
            step.problem = "ip " + modules::formatDottedAddress(targets[i].ip) + " is also the new address of line "
                + std::to_string(first->second);
    }
}

// Rows whose waits never end: they wait on each other in a ring (a swap),
// or on such a row. Taken away are the rows that wait for nobody left, as
// long as there are any; what remains cannot be ordered. Refused up front
// rather than sent through a third address: nothing is sent, and the line
// says how to go on.
void refuseRings(std::vector<PlanStep>& steps)
{
    std::map<modules::MacAddress, PlanStep*> waiting;
    for (PlanStep& step : steps)
        if (step.kind == StepKind::Change && !step.waitsFor.empty())
            waiting.emplace(step.row.mac, &step);
    for (bool removed = true; removed && !waiting.empty();) {
        removed = false;
        for (auto it = waiting.begin(); it != waiting.end();) {
            const std::vector<modules::MacAddress>& holders = it->second->waitsFor;
            const bool free = std::none_of(holders.begin(), holders.end(),
                [&waiting](const modules::MacAddress& holder) { return waiting.count(holder) != 0; });
            if (free) {
                it = waiting.erase(it);
                removed = true;
            } else {
                ++it;
            }
        }
    }
    for (auto& [mac, step] : waiting)
        if (step->problem.empty())
            step->problem = "ip " + modules::formatDottedAddress(step->request.IpAddr) + " is held by module "
                + modules::formatMac(step->waitsFor.front())
                + ", and the moves wait on each other in a ring: nothing is written; move one of these modules "
                  "to a free address first, then apply the plan";
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

std::string waitsText(const PlanStep& step)
{
    std::vector<std::string> macs;
    for (const modules::MacAddress& mac : step.waitsFor)
        macs.push_back(modules::formatMac(mac));
    return macs.empty() ? std::string() : " (waits for " + joined(macs, ", ") + ")";
}

std::string noteText(const PlanStep& step)
{
    return step.addressNote.empty() ? std::string() : " (address not checked: " + step.addressNote + ")";
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
    for (PlanStep& step : steps) {
        // A module given 0.0.0.0 leaves its address too; nobody is asked about that one.
        if (step.kind == StepKind::Change && step.problem.empty()
            && changesField(changeOf(*step.found, step.request), "ip"))
            movingAway.insert(step.row.mac);
        if (const std::optional<std::uint32_t> address = newAddress(step)) {
            targets.push_back({*address, step.row.mac});
            checked.push_back(&step);
        }
    }
    const std::vector<AddressUse> uses = checkAddressesInUse(targets, scan, subnets, batchAsker(options.ask),
        options.bound, options.computer ? options.computer() : std::vector<AdapterSubnet>());
    for (std::size_t i = 0; i < uses.size(); ++i)
        checked[i]->addressNote = uses[i].note;
    // A holder that leaves the address in the same run hands it over. One
    // that stays after all (its own new address is taken) does not, and
    // that may hold another row back in turn. Every module of the scan at
    // the address counts: two may share it.
    for (bool settled = false; !settled;) {
        settled = true;
        for (std::size_t i = 0; i < uses.size(); ++i) {
            PlanStep& step = *checked[i];
            if (step.kind == StepKind::Conflict)
                continue;
            const std::optional<std::string> stays = holderThatStays(targets[i], uses[i], scan, movingAway);
            if (!stays)
                continue;
            step.kind = StepKind::Conflict;
            step.holder = *stays;
            movingAway.erase(step.row.mac);
            settled = false;
        }
    }
    for (std::size_t i = 0; i < uses.size(); ++i)
        if (checked[i]->kind == StepKind::Change)
            checked[i]->waitsFor = holdersMovingAway(targets[i], uses[i], scan);
    refuseSharedTargets(targets, checked);
    refuseRings(steps);
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
        line += " " + changesText(step.changes) + waitsText(step) + noteText(step);
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

const PlanRun::Row* PlanRun::rowOf(const modules::MacAddress& mac) const
{
    const auto found =
        std::find_if(rows_.begin(), rows_.end(), [&mac](const Row& row) { return row.step.row.mac == mac; });
    return found == rows_.end() ? nullptr : &*found;
}

// A holder's write that went out and ended short of verified leaves the
// module where it was (or nobody knows where): the address is not free.
// One never sent is failed only when it is blocked in turn (a chain of
// moves); cancelled is not failed. depth bounds the walk along a chain.
const PlanRun::Row* PlanRun::failedHolder(const Row& row, int depth) const
{
    if (depth > kLongestWaitChain)
        return nullptr;
    for (const modules::MacAddress& mac : row.step.waitsFor) {
        const Row* holder = rowOf(mac);
        if (holder == nullptr || !holder->written)
            return holder; // cannot happen: planSteps makes holders that stay conflicts
        const bool ended = holder->progress != Progress::Waiting && holder->progress != Progress::Verified
            && holder->progress != Progress::Cancelled;
        if (ended || (holder->progress == Progress::Waiting && failedHolder(*holder, depth + 1) != nullptr))
            return holder;
    }
    return nullptr;
}

std::vector<QORT_ConfigureRequestType> PlanRun::requests() const
{
    std::vector<QORT_ConfigureRequestType> requests;
    for (const Row& row : rows_) {
        if (!row.written || row.progress != Progress::Waiting)
            continue;
        const bool holdersLeft =
            std::all_of(row.step.waitsFor.begin(), row.step.waitsFor.end(), [this](const modules::MacAddress& mac) {
                const Row* holder = rowOf(mac);
                return holder != nullptr && holder->progress == Progress::Verified;
            });
        if (holdersLeft)
            requests.push_back(row.step.request);
    }
    return requests;
}

std::optional<AuditEntry> PlanRun::sentEntry(const modules::MacAddress& mac) const
{
    const Row* row = rowOf(mac);
    if (row == nullptr || !row->written || !row->step.found)
        return std::nullopt;
    return auditEntry(changeOf(*row->step.found, row->step.request), {}, WriteResult::Sent);
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
            ended.audit = auditEntry(changeOf(*step.found, step.request), {}, *audit);
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
        if (const Row* holder = failedHolder(row, 0))
            return result("blocked",
                ": module " + modules::formatMac(holder->step.row.mac) + " did not leave " + conflictAddress(step),
                std::nullopt);
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
    return result("changed", " " + changesText(step.changes) + noteText(step), WriteResult::Verified);
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
    if (const auto blocked = count("blocked"); blocked > 0)
        text += ", " + std::to_string(blocked) + " blocked";
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
