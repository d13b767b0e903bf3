// apply and plan-export: a whole line of modules from one CSV plan. The plan
// is checked as a whole before anything is sent; then one scan, and the
// writes in waves: every write that may go now is sent at once and
// verified by one rescan loop, then the writes that waited for a module to
// leave the address they take.
#include "cli/commands.h"
#include "cli/moduleaccess.h"
#include "cli/secretguard.h"
#include "commissioning/adaptersubnets.h"
#include "commissioning/interruptedwrites.h"
#include "commissioning/planexport.h"
#include "commissioning/planfile.h"
#include "commissioning/planjournal.h"
#include "commissioning/plansteps.h"
#include "diagnostics/scanfailure.h"
#include "platform/terminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>
#include <system_error>
#include <thread>

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint8_t kValid = 1;
constexpr std::uint8_t kProtected = 1;

// Problems go to standard error as they are: "FILE:LINE: message".
bool ListProblems(const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems)
        std::fprintf(stderr, "%s\n", problem.c_str());
    return !problems.empty();
}

bool WriteOut(const std::string& text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        return true;
    Complain("the output could not be written: " + std::generic_category().message(errno));
    return false;
}

// "written N/T, verified N/T" on one terminal line that is redrawn; nothing
// when standard error is no terminal (a log or a pipe wants results only).
class Progress {
public:
    explicit Progress(std::size_t total)
        : total_(total)
        , shown_(platform::standardErrorIsTerminal() && total > 0)
    {
    }
    ~Progress()
    {
        if (drawn_)
            std::fputs("\n", stderr);
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void show(std::size_t written, std::size_t verified)
    {
        if (!shown_ || (drawn_ && written == written_ && verified == verified_))
            return;
        written_ = written;
        verified_ = verified;
        std::fprintf(stderr, "\rwritten %zu/%zu, verified %zu/%zu", written, total_, verified, total_);
        static_cast<void>(std::fflush(stderr));
        drawn_ = true;
    }

private:
    std::size_t total_;
    std::size_t written_ = 0, verified_ = 0;
    bool shown_;
    bool drawn_ = false;
};

// The MACs of the modules that report a password: their requests carry the
// run's one password, the others none (as the dialog asks only then).
std::set<modules::MacAddress> ProtectedModules(const std::vector<commissioning::PlanStep>& steps)
{
    std::set<modules::MacAddress> macs;
    for (const commissioning::PlanStep& step : steps)
        if (step.found && step.found->PswdValid == kValid && step.found->Pswd == kProtected)
            macs.insert(step.row.mac);
    return macs;
}

// The run's one password, read once when any row to write needs it and
// wiped when the run ends.
class RunPassword {
public:
    RunPassword() = default;
    ~RunPassword() { WipeSecret(password_, sizeof password_); }
    RunPassword(const RunPassword&) = delete;
    RunPassword& operator=(const RunPassword&) = delete;

    // False when it was needed and could not be read (said on standard error).
    bool read(const std::vector<commissioning::PlanStep>& steps, const std::set<modules::MacAddress>& protectedMacs,
        const ApplyOptions& options)
    {
        const bool needed = std::any_of(steps.begin(), steps.end(), [&protectedMacs](const auto& step) {
            return (step.kind == commissioning::StepKind::Change || step.kind == commissioning::StepKind::Conflict)
                && protectedMacs.count(step.row.mac) != 0;
        });
        return !needed || ReadPassword({options.passwordFile, kPasswordVariable, "Password: "}, "password", password_);
    }
    void copyTo(QORT_ConfigureRequestType& request) const
    {
        std::copy(std::begin(password_), std::end(password_), std::begin(request.Password));
    }

private:
    const SecretHolding holding_;
    modules::ConfigText password_{};
};

// Sends one wave with the password where needed and wipes every copy of it.
QortSession::BatchAnswers SendWave(QortSession& session, std::vector<QORT_ConfigureRequestType> requests,
    const std::set<modules::MacAddress>& protectedMacs, const RunPassword& password, const ApplyOptions& options,
    Progress& progress, std::size_t writtenBefore)
{
    for (QORT_ConfigureRequestType& request : requests)
        if (protectedMacs.count(modules::macOfRequest(request)) != 0)
            password.copyTo(request);
    QortSession::BatchAnswers answers =
        session.configureAll(requests, options.wait, [&progress, writtenBefore](const QortSession::BatchAnswers& a) {
            progress.show(writtenBefore + a.total(), 0);
        });
    for (QORT_ConfigureRequestType& request : requests)
        WipeSecret(request.Password, sizeof request.Password);
    return answers;
}

// Rescans until every module that answered "Reconfigured" shows what was
// sent, or until wait has passed.
void VerifyWave(QortSession& session, commissioning::PlanRun& run, const std::set<modules::MacAddress>& pending,
    std::chrono::milliseconds wait, Progress& progress)
{
    const auto deadline = Clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        modules::ModuleStore rescan;
        session.scan(std::max(left, std::chrono::milliseconds(0)), rescan, [&pending](const modules::ModuleStore& m) {
            return std::all_of(pending.begin(), pending.end(), [&m](const auto& mac) { return m.Contains(mac); });
        });
        const bool allVerified = run.verify(RecordsOf(rescan));
        const commissioning::PlanRun::Counts counts = run.counts();
        progress.show(counts.written, counts.verified);
        if (allVerified || Clock::now() + kVerifyRescanPause >= deadline)
            return;
        std::this_thread::sleep_for(kVerifyRescanPause);
    }
}

// Journal trouble is said and the run goes on: the writes' outcomes stand.
void SayJournalErrors(const std::vector<std::string>& errors)
{
    for (const std::string& error : errors)
        Complain("audit log: " + error);
}

// The waves: what may be written now goes out together, its answers are
// taken by the MAC each one names, its writes verified; then the rows that
// waited for those modules to leave their addresses. False when the
// password could not be read (nothing was sent then).
bool Write(QortSession& session, commissioning::PlanRun& run, const std::vector<commissioning::PlanStep>& steps,
    const ApplyOptions& options, commissioning::PlanJournal& journal)
{
    std::vector<QORT_ConfigureRequestType> wave = run.requests();
    if (wave.empty())
        return true; // nothing to change: no password asked for, nothing sent
    const std::set<modules::MacAddress> protectedMacs = ProtectedModules(steps);
    RunPassword password;
    if (!password.read(steps, protectedMacs, options))
        return false;
    Progress progress(run.counts().total);
    for (; !wave.empty(); wave = run.requests()) {
        if (const std::optional<std::string> error = journal.sent(run, wave))
            SayJournalErrors({*error});
        const std::size_t writtenBefore = run.counts().written;
        const QortSession::BatchAnswers answers =
            SendWave(session, wave, protectedMacs, password, options, progress, writtenBefore);
        std::set<modules::MacAddress> macs;
        for (const QORT_ConfigureRequestType& request : wave) {
            const modules::MacAddress mac = modules::macOfRequest(request);
            macs.insert(mac);
            run.sent(mac);
            run.answered(mac, commissioning::PlanRun::Answer::None);
        }
        for (const modules::MacAddress& mac : answers.invalidPassword)
            run.answered(mac, commissioning::PlanRun::Answer::InvalidPassword);
        const std::set<modules::MacAddress> reconfigured(answers.reconfigured.begin(), answers.reconfigured.end());
        for (const modules::MacAddress& mac : reconfigured)
            run.answered(mac, commissioning::PlanRun::Answer::Reconfigured);
        if (!reconfigured.empty())
            VerifyWave(session, run, reconfigured, options.wait, progress);
        SayJournalErrors(journal.record(run, macs));
    }
    return true;
}

// Result lines and the summary on standard output.
int Report(const commissioning::PlanRun& run)
{
    std::string out;
    for (const commissioning::PlanRun::RowResult& result : run.results())
        out += result.line + "\n";
    out += run.summary() + "\n";
    if (!WriteOut(out))
        return kExitFailed;
    return run.succeeded() ? kExitOk : kExitPlanRowFailed;
}

int DryRun(const std::vector<commissioning::PlanStep>& steps)
{
    std::string out;
    for (const commissioning::PlanStep& step : steps)
        out += commissioning::stepLine(step) + "\n";
    out += commissioning::dryRunSummary(steps) + "\n";
    return WriteOut(out) ? kExitOk : kExitFailed;
}

} // namespace

int RunApply(const ApplyOptions& options)
{
    const commissioning::PlanReading reading = commissioning::readPlanFile(options.plan);
    ListProblems(reading.notes);
    if (ListProblems(reading.problems))
        return kExitUsage;
    Connection connection;
    if (!Connect(connection))
        return kExitFailed;
    // The whole wait: a target address may be held by a module outside the plan.
    modules::ModuleStore scan;
    if (!connection.session->scan(options.wait, scan)) {
        Complain(diagnostics::scanFailureText(diagnostics::diagnoseScanFailure()));
        return kExitFailed;
    }
    const std::vector<commissioning::PlanStep> steps =
        commissioning::planSteps(reading.plan, RecordsOf(scan), commissioning::usableAdapterSubnets());
    if (ListProblems(commissioning::planProblems(reading.plan, steps)))
        return kExitUsage;
    if (options.dryRun)
        return DryRun(steps);
    commissioning::PlanRun run(steps, options.force);
    commissioning::WriteJournal journal(commissioning::AuditLog::forUser());
    const commissioning::InterruptedWrites interrupted(journal);
    commissioning::PlanJournal planJournal(journal, kProgramName);
    if (!Write(*connection.session, run, steps, options, planJournal))
        return kExitUsage;
    SayJournalErrors(planJournal.recordAll(run));
    return Report(run);
}

int RunPlanExport(const PlanExportOptions& options)
{
    const commissioning::PlanReading reading = commissioning::readPlanFile(options.plan);
    ListProblems(reading.notes);
    if (ListProblems(reading.problems))
        return kExitUsage;
    // A row the server cannot be given whole is said, and nothing is
    // written: half an export would look like a whole one.
    if (ListProblems(commissioning::exportProblems(reading.plan)))
        return kExitUsage;
    const std::string text = options.format == ExportFormat::kKea ? commissioning::keaReservations(reading.plan)
                                                                  : commissioning::dnsmasqHosts(reading.plan);
    return WriteOut(text) ? kExitOk : kExitFailed;
}

} // namespace cli
