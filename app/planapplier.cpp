#include "app/planapplier.h"

#include "plandialog/plandialog.h"
#include "ui/messagebox.h"

#include <QByteArray>
#include <QMetaObject>

#include <algorithm>
#include <cstring>
#include <string.h> // explicit_bzero
#include <utility>

namespace {

constexpr const char* kProgramName = "SorvindaConfig";
constexpr const char* kSentText = "sent";
constexpr const char* kRejectedText = "invalid password";
constexpr const char* kReconfiguredText = "reconfigured";
constexpr const char* kVerifiedText = "verified";

void Wipe(void* data, std::size_t size)
{
    ::explicit_bzero(data, size);
}

} // namespace

CPlanApplier::CPlanApplier(CPlanDialog& dialog, Hooks hooks, commissioning::PlanCheckOptions options)
    : m_dialog(dialog)
    , m_hooks(std::move(hooks))
    , m_options(std::move(options))
    , m_journal(commissioning::AuditLog::forUser())
    , m_interrupted(m_journal)
    , m_planJournal(m_journal, kProgramName)
{
    m_sendTimer.setInterval(0);
    m_answerTimer.setSingleShot(true);
    m_verifyTimer.setSingleShot(true);
    m_rescanTimer.setInterval(kRescanRepeatMs);
    connect(&m_sendTimer, &QTimer::timeout, this, &CPlanApplier::SendNext);
    connect(&m_answerTimer, &QTimer::timeout, this, &CPlanApplier::StartVerifying);
    connect(&m_rescanTimer, &QTimer::timeout, this, [this] { m_hooks.rescan(); });
    connect(&m_verifyTimer, &QTimer::timeout, this, &CPlanApplier::Finish);
    connect(&m_dialog, &CPlanDialog::ApplyRequested, this, &CPlanApplier::Apply);
    connect(&m_dialog, &CPlanDialog::CancelRequested, this, &CPlanApplier::Cancel);
}

CPlanApplier::~CPlanApplier()
{
    // Writes already sent are logged with what is known now.
    if (IsApplying())
        Finish();
    if (m_dryRun.joinable())
        m_dryRun.join();
    WipePassword();
}

void CPlanApplier::Start(commissioning::PlanReading reading, std::vector<QORT_ModuleScanResponseType> scan,
    std::vector<commissioning::AdapterSubnet> subnets)
{
    if (!reading.problems.empty()) {
        m_dialog.ShowProblems(reading.problems);
        return;
    }
    m_dialog.ShowChecking();
    // The steps come back as a queued call, dropped when this object has
    // gone meanwhile (the destructor waits for the worker first).
    m_dryRun = std::thread([this, plan = std::move(reading.plan), scan = std::move(scan), subnets = std::move(subnets),
                               options = m_options] {
        std::vector<commissioning::PlanStep> steps = commissioning::planSteps(plan, scan, subnets, options);
        std::vector<std::string> problems = commissioning::planProblems(plan, steps);
        QMetaObject::invokeMethod(
            this,
            [this, steps = std::move(steps), problems = std::move(problems)]() mutable {
                ShowDryRun(std::move(steps), problems);
            },
            Qt::QueuedConnection);
    });
}

// Rows the scan shows cannot be written as they stand make the whole plan
// refused, as its reading's problems do: the steps stay for reference.
void CPlanApplier::ShowDryRun(std::vector<commissioning::PlanStep> steps, const std::vector<std::string>& problems)
{
    m_dialog.ShowSteps(steps);
    if (!problems.empty()) {
        m_dialog.ShowProblems(problems);
        return;
    }
    m_steps = std::move(steps);
}

bool CPlanApplier::ConfirmConflicts() const
{
    QStringList lines;
    for (const commissioning::PlanStep& step : m_steps) {
        if (step.kind == commissioning::StepKind::Conflict)
            lines << QString::fromStdString(commissioning::stepLine(step));
    }
    if (lines.isEmpty())
        return false;
    const QString question = QStringLiteral("These modules would take an address that is in use:\n%1\n"
                                            "Set them anyway? (No: they are left out, the others are written.)")
                                 .arg(lines.join(QLatin1Char('\n')));
    return AfxMessageBox(question, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES;
}

void CPlanApplier::Apply()
{
    if (m_run || m_steps.empty())
        return;
    const bool force = ConfirmConflicts();
    QByteArray password = m_dialog.Password().toLatin1();
    m_dialog.ClearPassword();
    m_password.assign(password.constData(), static_cast<std::size_t>(password.size()));
    Wipe(password.data(), static_cast<std::size_t>(password.size()));
    m_dialog.SetConflictsConfirmed(force);
    m_run.emplace(m_steps, force);
    m_dialog.ShowRunning(static_cast<int>(m_run->counts().total));
    StartWave();
}

void CPlanApplier::StartWave()
{
    if (m_cancelled)
        m_run->cancel(); // the rows of later waves end "cancelled"
    m_wave = m_cancelled ? std::vector<QORT_ConfigureRequestType>() : m_run->requests();
    m_next = 0;
    m_waveMacs.clear();
    m_unanswered.clear();
    m_reconfigured.clear();
    m_rescan.clear();
    m_verifying = false;
    if (m_wave.empty()) {
        Finish();
        return;
    }
    m_sendTimer.start();
}

void CPlanApplier::SendNext()
{
    if (m_cancelled || m_next == m_wave.size()) {
        m_sendTimer.stop();
        if (m_cancelled)
            m_run->cancel();
        if (AllAnswered())
            StartVerifying();
        else
            m_answerTimer.start(kAnswerWaitMs);
        return;
    }
    QORT_ConfigureRequestType request = m_wave[m_next++];
    const modules::MacAddress mac = modules::macOfRequest(request);
    // One write a turn, so that Cancel stops before the next: its record is
    // its own fsync (milliseconds), never a wave's worth on one turn.
    if (const std::optional<std::string> error = m_planJournal.sent(*m_run, {request}))
        SayJournalErrors({*error});
    m_waveMacs.insert(mac);
    m_unanswered.insert(mac);
    std::memcpy(request.Password, m_password.c_str(), std::min(m_password.size() + 1, sizeof request.Password));
    m_run->sent(mac);
    m_hooks.send(request);
    Wipe(request.Password, sizeof request.Password);
    m_dialog.ShowRowStatus(mac, QString::fromLatin1(kSentText));
    ShowProgress();
}

// Writes still to go are not sent; the answers to those out are still
// awaited and verified. Once every write is out, Cancel ("Stop waiting")
// ends the wait, and what is not verified by then is recorded so.
void CPlanApplier::Cancel()
{
    m_cancelled = true;
    if (!m_run || m_finished)
        return;
    const commissioning::PlanRun::Counts counts = m_run->counts();
    if (counts.written >= counts.total)
        Finish();
}

bool CPlanApplier::OnReconfigured(const modules::MacAddress& mac)
{
    if (!IsApplying() || m_verifying || m_unanswered.erase(mac) == 0)
        return false;
    m_run->answered(mac, commissioning::PlanRun::Answer::Reconfigured);
    m_reconfigured.insert(mac);
    m_dialog.ShowRowStatus(mac, QString::fromLatin1(kReconfiguredText));
    ShowProgress();
    if (!m_sendTimer.isActive() && AllAnswered())
        StartVerifying();
    return true;
}

bool CPlanApplier::OnRejected(const modules::MacAddress& mac)
{
    if (!IsApplying() || m_verifying || m_unanswered.erase(mac) == 0)
        return false;
    m_run->answered(mac, commissioning::PlanRun::Answer::InvalidPassword);
    m_dialog.ShowRowStatus(mac, QString::fromLatin1(kRejectedText));
    ShowProgress();
    if (!m_sendTimer.isActive() && AllAnswered())
        StartVerifying();
    return true;
}

bool CPlanApplier::AllAnswered() const
{
    return m_unanswered.empty();
}

// The writes without an answer by now have none; the reconfigured ones are
// verified by rescans.
void CPlanApplier::StartVerifying()
{
    if (m_verifying || m_finished)
        return;
    m_answerTimer.stop();
    m_verifying = true;
    for (const modules::MacAddress& mac : m_unanswered)
        m_run->answered(mac, commissioning::PlanRun::Answer::None);
    m_unanswered.clear();
    if (m_reconfigured.empty()) {
        EndWave();
        return;
    }
    m_hooks.rescan();
    m_rescanTimer.start();
    m_verifyTimer.start(kVerifyWaitMs);
}

void CPlanApplier::OnReplies(const std::vector<QORT_ModuleScanResponseType>& batch)
{
    if (!IsApplying() || !m_verifying)
        return;
    for (const QORT_ModuleScanResponseType& reply : batch) {
        if (reply.MacIdValid == 1)
            m_rescan[modules::macOfRecord(reply)] = reply;
    }
    const bool allVerified = m_run->verify(Rescanned());
    ShowProgress();
    if (allVerified)
        EndWave();
}

std::vector<QORT_ModuleScanResponseType> CPlanApplier::Rescanned() const
{
    std::vector<QORT_ModuleScanResponseType> records;
    for (const auto& entry : m_rescan)
        records.push_back(entry.second);
    return records;
}

// Once per run, so that a disk that fails does not ask at every wave.
void CPlanApplier::SayJournalErrors(const std::vector<std::string>& errors)
{
    if (errors.empty() || m_journalErrorSaid)
        return;
    m_journalErrorSaid = true;
    if (m_hooks.journalError)
        m_hooks.journalError(errors.front());
}

void CPlanApplier::EndWave()
{
    m_rescanTimer.stop();
    m_verifyTimer.stop();
    m_run->verify(Rescanned());
    for (const commissioning::PlanRun::RowResult& result : m_run->results())
        if (m_reconfigured.count(result.row.mac) != 0 && result.outcome == "changed")
            m_dialog.ShowRowStatus(result.row.mac, QString::fromLatin1(kVerifiedText));
    SayJournalErrors(m_planJournal.record(*m_run, m_waveMacs));
    StartWave();
}

// Also when the window closes mid-wave: the writes out so far end with what
// is known now.
void CPlanApplier::Finish()
{
    if (m_finished)
        return;
    m_sendTimer.stop();
    m_answerTimer.stop();
    m_rescanTimer.stop();
    m_verifyTimer.stop();
    WipePassword();
    for (const modules::MacAddress& mac : m_unanswered)
        m_run->answered(mac, commissioning::PlanRun::Answer::None);
    m_unanswered.clear();
    m_run->verify(Rescanned());
    m_finished = true;
    const commissioning::PlanRun::Counts counts = m_run->counts();
    m_dialog.ShowProgress(static_cast<int>(counts.written), static_cast<int>(counts.written));
    SayJournalErrors(m_planJournal.recordAll(*m_run));
    m_dialog.ShowResults(m_run->results(), m_run->summary());
}

void CPlanApplier::ShowProgress()
{
    const commissioning::PlanRun::Counts counts = m_run->counts();
    const int written = static_cast<int>(counts.written);
    m_dialog.ShowProgress(written, written - static_cast<int>(m_unanswered.size()));
}

void CPlanApplier::WipePassword()
{
    Wipe(m_password.data(), m_password.size());
    m_password.clear();
}
