// apply and plan-export: a whole line of modules from one CSV plan. The plan
// is checked as a whole before anything is sent; then one scan, every write
// sent at once, and one rescan loop that verifies them all.
#include "cli/commands.h"
#include "cli/moduleaccess.h"
#include "cli/secretguard.h"
#include "commissioning/adaptersubnets.h"
#include "commissioning/planexport.h"
#include "commissioning/planfile.h"
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

modules::MacAddress MacOf(const QORT_ConfigureRequestType& request)
{
    modules::MacAddress mac;
    std::copy(std::begin(request.MacId), std::end(request.MacId), mac.begin());
    return mac;
}

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

// Sends the requests with the password where needed and wipes every copy
// of it. Nothing when the password could not be read (said on standard
// error; nothing was sent then).
std::optional<QortSession::BatchAnswers> SendAll(QortSession& session, std::vector<QORT_ConfigureRequestType> requests,
    const std::set<modules::MacAddress>& protectedMacs, const ApplyOptions& options, Progress& progress)
{
    const SecretHolding holding;
    modules::ConfigText password{};
    const bool needed = std::any_of(requests.begin(), requests.end(),
        [&protectedMacs](const QORT_ConfigureRequestType& r) { return protectedMacs.count(MacOf(r)) != 0; });
    if (needed && !ReadPassword({options.passwordFile, kPasswordVariable, "Password: "}, "password", password))
        return std::nullopt;
    for (QORT_ConfigureRequestType& request : requests)
        if (protectedMacs.count(MacOf(request)) != 0)
            std::copy(std::begin(password), std::end(password), std::begin(request.Password));
    const QortSession::BatchAnswers answers = session.configureAll(
        requests, options.wait, [&progress](const QortSession::BatchAnswers& a) { progress.show(a.total(), 0); });
    WipeSecret(password, sizeof password);
    for (QORT_ConfigureRequestType& request : requests)
        WipeSecret(request.Password, sizeof request.Password);
    return answers;
}

std::size_t VerifiedCount(const commissioning::PlanRun& run, const std::set<modules::MacAddress>& written)
{
    std::size_t verified = 0;
    for (const commissioning::PlanRun::RowResult& result : run.results())
        verified += written.count(result.row.mac) != 0 && result.outcome == "changed" ? 1 : 0;
    return verified;
}

// Rescans until every answered write shows its values, or until the only
// rows left are as many as answers are missing (those modules did not
// answer), or until wait has passed. `written`: the answers that came.
void VerifyAll(QortSession& session, commissioning::PlanRun& run, const std::set<modules::MacAddress>& pending,
    std::size_t written, std::size_t missingAnswers, std::chrono::milliseconds wait, Progress& progress)
{
    const auto deadline = Clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        modules::ModuleStore rescan;
        session.scan(std::max(left, std::chrono::milliseconds(0)), rescan, [&pending](const modules::ModuleStore& m) {
            return std::all_of(pending.begin(), pending.end(), [&m](const auto& mac) { return m.Contains(mac); });
        });
        const bool allVerified = run.verify(RecordsOf(rescan));
        const std::size_t verified = VerifiedCount(run, pending);
        progress.show(written, verified);
        if (allVerified || pending.size() - verified <= missingAnswers)
            return;
        if (Clock::now() + kVerifyRescanPause >= deadline)
            return;
        std::this_thread::sleep_for(kVerifyRescanPause);
    }
}

// Every answer goes to the run. A "Reconfigured:" answer names no module
// through the library, so when some are missing, the written rows the
// rescans could not verify are the ones taken as unanswered.
void Write(QortSession& session, commissioning::PlanRun& run, const std::vector<commissioning::PlanStep>& steps,
    const ApplyOptions& options, bool& passwordRead)
{
    const std::vector<QORT_ConfigureRequestType> requests = run.requests();
    passwordRead = true;
    if (requests.empty())
        return; // nothing to change: no password asked for, nothing sent
    Progress progress(requests.size());
    const std::optional<QortSession::BatchAnswers> answers =
        SendAll(session, requests, ProtectedModules(steps), options, progress);
    passwordRead = answers.has_value();
    if (!answers)
        return;
    std::set<modules::MacAddress> reconfigured;
    for (const QORT_ConfigureRequestType& request : requests) {
        const modules::MacAddress mac = MacOf(request);
        run.sent(mac);
        const bool refused = std::find(answers->invalidPassword.begin(), answers->invalidPassword.end(), mac)
            != answers->invalidPassword.end();
        run.answered(mac,
            refused ? commissioning::PlanRun::Answer::InvalidPassword : commissioning::PlanRun::Answer::Reconfigured);
        if (!refused)
            reconfigured.insert(mac);
    }
    const std::size_t missing = requests.size() - std::min(requests.size(), answers->total());
    if (reconfigured.empty())
        return;
    VerifyAll(session, run, reconfigured, answers->total(), missing, options.wait, progress);
    if (missing == 0)
        return;
    std::set<modules::MacAddress> verified;
    for (const commissioning::PlanRun::RowResult& result : run.results())
        if (result.outcome == "changed")
            verified.insert(result.row.mac);
    for (const modules::MacAddress& mac : reconfigured)
        if (verified.count(mac) == 0)
            run.answered(mac, commissioning::PlanRun::Answer::None);
}

// Result lines and the summary on standard output, one audit record per
// write or refusal.
int Report(const commissioning::PlanRun& run)
{
    const commissioning::AuditLog log = commissioning::AuditLog::forUser();
    std::string out;
    std::vector<commissioning::AuditEntry> entries;
    for (const commissioning::PlanRun::RowResult& result : run.results()) {
        out += result.line + "\n";
        if (!result.audit)
            continue;
        entries.push_back(*result.audit);
        entries.back().program = kProgramName;
    }
    if (const auto error = log.append(entries))
        Complain("audit log: " + *error);
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
    bool passwordRead = false;
    Write(*connection.session, run, steps, options, passwordRead);
    if (!passwordRead)
        return kExitUsage;
    return Report(run);
}

int RunPlanExport(const PlanExportOptions& options)
{
    const commissioning::PlanReading reading = commissioning::readPlanFile(options.plan);
    if (ListProblems(reading.problems))
        return kExitUsage;
    const std::string text = options.format == ExportFormat::kKea ? commissioning::keaReservations(reading.plan)
                                                                  : commissioning::dnsmasqHosts(reading.plan);
    return WriteOut(text) ? kExitOk : kExitFailed;
}

} // namespace cli
