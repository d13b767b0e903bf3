#ifndef PLANDIALOG_PLANDIALOG_H
#define PLANDIALOG_PLANDIALOG_H

#include "commissioning/plansteps.h"
#include "modules/macaddress.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

// The "Apply plan" dialog: a plan's dry run as a table (a row per changed
// field, one row for a module that is unchanged, missing or in conflict),
// the problems of a plan that cannot be applied, the module password for
// the whole run, and while it is applied a progress bar and each row's
// result in the same table.
//
// Widgets only: it works nothing out and sends nothing. Its owner hands in
// the steps and results of commissioning/plansteps.h and does the writing
// when ApplyRequested comes. While a run goes on, Cancel (also Escape and
// the title bar's close button) only asks the owner to stop; the dialog
// closes once the run has ended.
class CPlanDialog : public QDialog {
    Q_OBJECT

public:
    enum Column { kColumnMac, kColumnField, kColumnOld, kColumnNew, kColumnStatus, kColumnCount };

    explicit CPlanDialog(const QString& file, QWidget* parent = nullptr);

    // The plan is being checked against the network.
    void ShowChecking();
    // The plan cannot be applied: its problems, Apply disabled.
    void ShowProblems(const std::vector<std::string>& problems);
    // The dry run; Apply is enabled when a row would be written.
    void ShowSteps(const std::vector<commissioning::PlanStep>& steps);
    // From ApplyRequested until ShowResults: Apply disabled, the progress shown.
    void ShowRunning(int writes);
    void ShowProgress(int written, int verified);
    // The status of the module's rows while the run goes on ("sent").
    void ShowRowStatus(const modules::MacAddress& mac, const QString& status);
    // Whether the user confirmed the rows that take an address in use; rows
    // left out read "skipped (not confirmed)" in the results.
    void SetConflictsConfirmed(bool confirmed);
    // The run has ended: each module's result in its rows, the summary, and
    // Cancel becomes Close. The Status column grows to its longest text.
    void ShowResults(const std::vector<commissioning::PlanRun::RowResult>& results, const std::string& summary);

    // The password typed for the run; ClearPassword empties the edit once
    // the owner has taken it.
    QString Password() const;
    void ClearPassword();

    bool IsApplyEnabled() const;
    bool IsRunning() const { return m_running; }
    QTableWidget* Table() const { return m_table; }
    QString SummaryText() const;
    QStringList Problems() const;
    QLineEdit* PasswordEdit() const { return m_password; }
    QPushButton* ApplyButton() const { return m_apply; }
    QPushButton* CancelButton() const { return m_cancel; }

    // The progress text (what is written, what Cancel stopped).
    QString ProgressText() const;
    bool IsProgressBarShown() const;

signals:
    void ApplyRequested();
    // While writes are still to go out, Cancel sends no more of them; once
    // every write is out it reads "Stop waiting" and ends the verification.
    void CancelRequested();

public slots:
    void reject() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The problems' box never takes the table below half the dialog's height.
    void FitProblems();
    void FitStatusColumn();
    void FitWidthToTable();
    void AddRow(const modules::MacAddress& mac, const QString& field, const QString& before, const QString& after,
        const QString& status);

    QLabel* m_summary;
    QTableWidget* m_table;
    QPlainTextEdit* m_problems;
    QLineEdit* m_password;
    QProgressBar* m_progress;
    QLabel* m_progressText;
    QPushButton* m_apply;
    QPushButton* m_cancel;
    int m_writes = 0;
    int m_written = 0;
    int m_notSent = -1; // how many writes Cancel stopped; -1: not cancelled
    bool m_running = false;
    bool m_conflictsConfirmed = true;
    std::vector<modules::MacAddress> m_conflicts; // rows that take an address in use
};

#endif
