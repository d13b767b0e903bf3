#include "plandialog/plandialog.h"

#include "modules/ethernetconfigfields.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr const char* kTitlePrefix = "Apply plan: ";
constexpr const char* kCheckingText = "Checking the plan against the modules and the network...";
constexpr const char* kProblemsText = "The plan cannot be applied; nothing will be sent:";
constexpr const char* kPasswordLabel = "Module password (for every module of the run):";
constexpr const char* kApplyText = "Apply";
constexpr const char* kCancelText = "Cancel";
constexpr const char* kCloseText = "Close";
constexpr const char* kStopWaitingText = "Stop waiting";
constexpr const char* kSkippedText = "skipped (not confirmed)";
constexpr const char* kNothingToWriteText = "Nothing to write";
// The problems' box keeps at least this many lines.
constexpr int kProblemLinesAtLeast = 3;
constexpr const char* kHeadings[CPlanDialog::kColumnCount] = {"MAC", "Field", "Old", "New", "Status"};
constexpr int kMinimumWidth = 640;
constexpr int kMinimumHeight = 360;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString MacText(const modules::MacAddress& mac)
{
    return Text(modules::formatMac(mac));
}

// What the status column says of a step before anything is written.
QString StepStatus(const commissioning::PlanStep& step)
{
    QString status = QString::fromLatin1(commissioning::stepKindText(step.kind));
    if (step.kind == commissioning::StepKind::Conflict)
        status += QStringLiteral(": in use by ") + Text(step.holder);
    // Why the new address could not be asked about, so nobody takes an
    // unchecked address for a free one.
    if (!step.addressNote.empty())
        status += QStringLiteral(" (") + Text(step.addressNote) + QLatin1Char(')');
    return status;
}

bool IsWritten(const commissioning::PlanStep& step)
{
    return step.kind == commissioning::StepKind::Change || step.kind == commissioning::StepKind::Conflict;
}

// A failure says why in its rows; any other outcome says only what it
// was, as the rows already show the fields (the whole line is the tooltip).
QString ResultStatus(const commissioning::PlanRun::RowResult& result)
{
    const std::string prefix = modules::formatMac(result.row.mac) + ' ';
    if (result.outcome == "failed" && result.line.rfind(prefix, 0) == 0)
        return Text(result.line.substr(prefix.size()));
    return Text(result.outcome);
}

} // namespace

CPlanDialog::CPlanDialog(const QString& file, QWidget* parent)
    : QDialog(parent)
    , m_summary(new QLabel(this))
    , m_table(new QTableWidget(0, kColumnCount, this))
    , m_problems(new QPlainTextEdit(this))
    , m_password(new QLineEdit(this))
    , m_progress(new QProgressBar(this))
    , m_progressText(new QLabel(this))
    , m_apply(new QPushButton(QString::fromLatin1(kApplyText), this))
    , m_cancel(new QPushButton(QString::fromLatin1(kCancelText), this))
{
    setWindowTitle(QString::fromLatin1(kTitlePrefix) + file);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    m_summary->setWordWrap(true);
    for (int column = 0; column < kColumnCount; ++column)
        m_table->setHorizontalHeaderItem(column, new QTableWidgetItem(QString::fromLatin1(kHeadings[column])));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    // The last column is as wide as its longest text (the results can be
    // long); the table scrolls sideways rather than cut a result.
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_problems->setReadOnly(true);
    m_problems->hide();
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setMaxLength(static_cast<int>(modules::kConfigTextMaxChars));
    m_progress->hide();
    m_progressText->hide();
    m_apply->setEnabled(false);
    m_apply->setAutoDefault(false);
    m_cancel->setAutoDefault(false);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(new QLabel(QString::fromLatin1(kPasswordLabel), this));
    passwordRow->addWidget(m_password, 1);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_apply, QDialogButtonBox::ActionRole);
    buttons->addButton(m_cancel, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_problems);
    layout->addWidget(m_table, 1);
    layout->addLayout(passwordRow);
    layout->addWidget(m_progressText);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);

    connect(m_apply, &QPushButton::clicked, this, &CPlanDialog::ApplyRequested);
    connect(m_cancel, &QPushButton::clicked, this, &CPlanDialog::reject);
}

void CPlanDialog::reject()
{
    if (m_running) {
        if (m_notSent < 0) {
            m_notSent = m_writes - m_written;
            m_progressText->setText(m_notSent > 0
                    ? QStringLiteral("Cancelled: %1 not sent; waiting for the answers to the %2 sent")
                          .arg(m_notSent == 1 ? QStringLiteral("1 write") : QStringLiteral("%1 writes").arg(m_notSent))
                          .arg(m_written)
                    : QStringLiteral("Stopped waiting: what is not verified now is recorded so"));
        }
        emit CancelRequested();
        return;
    }
    QDialog::reject();
}

void CPlanDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    FitProblems();
}

void CPlanDialog::FitProblems()
{
    if (m_problems->isHidden())
        return;
    layout()->activate();
    const int others = height() - m_table->height() - m_problems->height();
    const int least = kProblemLinesAtLeast * m_problems->fontMetrics().lineSpacing() + 2 * m_problems->frameWidth()
        + static_cast<int>(2 * m_problems->document()->documentMargin());
    setMinimumHeight(std::max(kMinimumHeight, 2 * (others + least)));
    const int most = std::max(least, height() / 2 - others);
    if (m_problems->maximumHeight() != most) {
        m_problems->setMaximumHeight(most);
        layout()->activate();
    }
}

void CPlanDialog::FitStatusColumn()
{
    m_table->resizeColumnToContents(kColumnStatus);
}

void CPlanDialog::SetConflictsConfirmed(bool confirmed)
{
    m_conflictsConfirmed = confirmed;
}

QString CPlanDialog::ProgressText() const
{
    return m_progressText->isHidden() ? QString() : m_progressText->text();
}

bool CPlanDialog::IsProgressBarShown() const
{
    return !m_progress->isHidden();
}

void CPlanDialog::ShowChecking()
{
    m_summary->setText(QString::fromLatin1(kCheckingText));
    m_apply->setEnabled(false);
}

void CPlanDialog::ShowProblems(const std::vector<std::string>& problems)
{
    m_summary->setText(QString::fromLatin1(kProblemsText));
    QStringList lines;
    for (const std::string& problem : problems)
        lines << Text(problem);
    m_problems->setPlainText(lines.join(QLatin1Char('\n')));
    m_problems->show();
    FitProblems();
    m_password->setEnabled(false);
    m_apply->setEnabled(false);
}

void CPlanDialog::ShowSteps(const std::vector<commissioning::PlanStep>& steps)
{
    m_table->setRowCount(0);
    m_conflicts.clear();
    bool writes = false;
    for (const commissioning::PlanStep& step : steps) {
        if (step.kind == commissioning::StepKind::Conflict)
            m_conflicts.push_back(step.row.mac);
        const QString status = StepStatus(step);
        writes = writes || IsWritten(step);
        if (step.kind != commissioning::StepKind::Change || step.changes.empty()) {
            // A conflict names the address it would take; the others change nothing.
            const auto ip = std::find_if(step.changes.begin(), step.changes.end(),
                [](const commissioning::FieldChange& c) { return c.field == "ip"; });
            if (ip != step.changes.end())
                AddRow(step.row.mac, Text(ip->field), Text(ip->before), Text(ip->after), status);
            else
                AddRow(step.row.mac, QString(), QString(), QString(), status);
            continue;
        }
        for (const commissioning::FieldChange& change : step.changes)
            AddRow(step.row.mac, Text(change.field), Text(change.before), Text(change.after), status);
    }
    m_table->resizeColumnsToContents();
    m_summary->setText(Text(commissioning::dryRunSummary(steps)));
    m_apply->setEnabled(writes);
}

void CPlanDialog::AddRow(const modules::MacAddress& mac, const QString& field, const QString& before,
    const QString& after, const QString& status)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QString texts[kColumnCount] = {MacText(mac), field, before, after, status};
    for (int column = 0; column < kColumnCount; ++column)
        m_table->setItem(row, column, new QTableWidgetItem(texts[column]));
}

void CPlanDialog::ShowRunning(int writes)
{
    m_running = true;
    m_writes = writes;
    m_written = 0;
    m_notSent = -1;
    m_apply->setEnabled(false);
    m_password->setEnabled(false);
    m_progressText->show();
    if (writes == 0) {
        // A range of 0 to 0 is Qt's busy bar, which would run for ever.
        m_progress->hide();
        m_progressText->setText(QString::fromLatin1(kNothingToWriteText));
        return;
    }
    m_progress->setRange(0, 2 * writes); // each write counts when sent and again when its result is known
    m_progress->show();
    ShowProgress(0, 0);
}

void CPlanDialog::ShowProgress(int written, int verified)
{
    if (m_writes == 0)
        return;
    m_written = written;
    m_progress->setValue(written + verified);
    if (m_notSent < 0)
        m_progressText->setText(
            QStringLiteral("Written %1 of %3, results known %2 of %3").arg(written).arg(verified).arg(m_writes));
    // Once every write is out there is nothing left to hold back: Cancel
    // can only stop the wait for the answers.
    if (m_running && written >= m_writes)
        m_cancel->setText(QString::fromLatin1(kStopWaitingText));
}

void CPlanDialog::ShowRowStatus(const modules::MacAddress& mac, const QString& status)
{
    const QString macText = MacText(mac);
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, kColumnMac)->text() == macText)
            m_table->item(row, kColumnStatus)->setText(status);
    }
    FitStatusColumn();
}

void CPlanDialog::ShowResults(const std::vector<commissioning::PlanRun::RowResult>& results, const std::string& summary)
{
    int skipped = 0;
    for (const commissioning::PlanRun::RowResult& result : results) {
        const bool declined = !m_conflictsConfirmed && result.outcome == "failed"
            && std::find(m_conflicts.begin(), m_conflicts.end(), result.row.mac) != m_conflicts.end();
        skipped += declined ? 1 : 0;
        ShowRowStatus(result.row.mac, declined ? QString::fromLatin1(kSkippedText) : ResultStatus(result));
        const QString macText = MacText(result.row.mac);
        for (int row = 0; row < m_table->rowCount(); ++row) {
            if (m_table->item(row, kColumnMac)->text() == macText)
                m_table->item(row, kColumnStatus)->setToolTip(Text(result.line));
        }
    }
    QString said = Text(summary);
    if (skipped > 0)
        said += QStringLiteral(" (%1 of the failed skipped, not confirmed)").arg(skipped);
    if (m_notSent > 0)
        said += QStringLiteral("; Cancel stopped %1")
                    .arg(m_notSent == 1 ? QStringLiteral("1 write") : QStringLiteral("%1 writes").arg(m_notSent));
    m_summary->setText(said);
    m_running = false;
    if (m_writes > 0)
        m_progress->setValue(m_progress->maximum());
    m_cancel->setText(QString::fromLatin1(kCloseText));
    FitStatusColumn();
    FitWidthToTable();
}

QString CPlanDialog::Password() const
{
    return m_password->text();
}

void CPlanDialog::ClearPassword()
{
    m_password->clear();
}

bool CPlanDialog::IsApplyEnabled() const
{
    return m_apply->isEnabled();
}

QString CPlanDialog::SummaryText() const
{
    return m_summary->text();
}

QStringList CPlanDialog::Problems() const
{
    return m_problems->isHidden() ? QStringList() : m_problems->toPlainText().split(QLatin1Char('\n'));
}

void CPlanDialog::FitWidthToTable()
{
    // Wide enough to show every column whole, as far as the screen allows.
    int wanted = 2 * m_table->frameWidth() + m_table->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < kColumnCount; ++column)
        wanted += m_table->horizontalHeader()->sectionSize(column);
    wanted += width() - m_table->width();
    const QScreen* screen = this->screen();
    const int most = screen != nullptr ? screen->availableGeometry().width() : wanted;
    if (wanted > width())
        resize(std::min(wanted, most), height());
}
