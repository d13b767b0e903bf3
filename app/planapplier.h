#pragma once

#include "commissioning/adaptersubnets.h"
#include "commissioning/auditlog.h"
#include "commissioning/interruptedwrites.h"
#include "commissioning/planfile.h"
#include "commissioning/planjournal.h"
#include "commissioning/plansteps.h"
#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

class CPlanDialog;

// Applying a plan from the window, the plumbing between the plan dialog,
// the library and commissioning::PlanRun, which holds every rule:
//
//   Start      the plan's problems, or its dry run, worked out on a thread
//              of its own (the address checks wait for the network) and
//              shown when it is done;
//   Apply      conflicts are confirmed first (No, the default, leaves those
//              rows refused); then waves of writes, as PlanRun::requests()
//              gives them (a row whose address a moving module holds waits
//              for that move to be verified). A wave's writes go out one per
//              turn of the event loop, never waiting for an answer in
//              between, so that Cancel stops before the next one; each
//              write's `sent` record is on disk just before it leaves;
//   answers    both "Reconfigured:" and "Invalid Password:" name their
//              module; a row without an answer within kAnswerWaitMs has
//              none;
//   verifying  rescans, repeated until every reconfigured row of the wave
//              is verified or kVerifyWaitMs have passed; then the wave's
//              outcomes are journalled together (one fsync) and the next
//              wave starts.
//
// The journal is commissioning::PlanJournal, as on the command line.
//
// Everything runs on the GUI thread except the dry run's worker. The main
// window hands on the library's notices while IsApplying().
class CPlanApplier : public QObject {
    Q_OBJECT

public:
    struct Hooks {
        std::function<void(const QORT_ConfigureRequestType&)> send;
        std::function<void()> rescan;
        // Told what could not be written to the audit log; the run goes on.
        std::function<void(const std::string&)> journalError;
    };

    // How long the run waits for the answers to its writes, how often it
    // rescans while a write is not verified, and how long it verifies.
    static constexpr int kAnswerWaitMs = 5000;
    static constexpr int kRescanRepeatMs = 1000;
    static constexpr int kVerifyWaitMs = 5000;

    CPlanApplier(CPlanDialog& dialog, Hooks hooks, commissioning::PlanCheckOptions options = {});
    // Waits for the dry run's worker (it ends within the network's bound).
    ~CPlanApplier() override;

    // The plan read from its file, the modules of the last scan, and this
    // computer's subnets for the address checks.
    void Start(commissioning::PlanReading reading, std::vector<QORT_ModuleScanResponseType> scan,
        std::vector<commissioning::AdapterSubnet> subnets);

    // From the first write until the results are known.
    bool IsApplying() const { return m_run.has_value() && !m_finished; }
    // True when mac is a module this run wrote to and waits for.
    bool OnReconfigured(const modules::MacAddress& mac);
    // True when mac is a module this run wrote to and waits for.
    bool OnRejected(const modules::MacAddress& mac);
    void OnReplies(const std::vector<QORT_ModuleScanResponseType>& batch);

private:
    void ShowDryRun(std::vector<commissioning::PlanStep> steps, const std::vector<std::string>& problems);
    void Apply();
    bool ConfirmConflicts() const;
    void StartWave();
    void SendNext();
    void Cancel();
    bool AllAnswered() const;
    void StartVerifying();
    void EndWave();
    void SayJournalErrors(const std::vector<std::string>& errors);
    std::vector<QORT_ModuleScanResponseType> Rescanned() const;
    void Finish();
    void ShowProgress();
    void WipePassword();

    CPlanDialog& m_dialog;
    Hooks m_hooks;
    commissioning::PlanCheckOptions m_options;
    std::thread m_dryRun;
    std::vector<commissioning::PlanStep> m_steps;
    std::optional<commissioning::PlanRun> m_run;
    commissioning::WriteJournal m_journal;
    commissioning::InterruptedWrites m_interrupted; // a signal records the run's open writes
    commissioning::PlanJournal m_planJournal;
    std::vector<QORT_ConfigureRequestType> m_wave; // the writes that may go now
    std::size_t m_next = 0;                        // of m_wave
    std::string m_password;
    bool m_cancelled = false;
    bool m_verifying = false;
    bool m_finished = false;
    bool m_journalErrorSaid = false;
    std::set<modules::MacAddress> m_waveMacs;     // sent in this wave
    std::set<modules::MacAddress> m_unanswered;   // of them, no answer yet
    std::set<modules::MacAddress> m_reconfigured; // of them, "Reconfigured:"
    std::map<modules::MacAddress, QORT_ModuleScanResponseType> m_rescan;
    QTimer m_sendTimer;
    QTimer m_answerTimer;
    QTimer m_rescanTimer;
    QTimer m_verifyTimer;
};
