#include "app/moduleconfigdlg.h"

#include "app/aboutdlg.h"
#include "app/librarynotifyevent.h"
#include "app/noticeguard.h"
#include "app/planapplier.h"
#include "app/sizingclamp.h"
#include "commissioning/addressfields.h"
#include "commissioning/addressinuse.h"
#include "commissioning/change.h"
#include "commissioning/verification.h"
#include "devicelist/configureflow.h"
#include "devicelist/devicelistctrl.h"
#include "dhcp/advancedoptions.h"
#include "diagnostics/scanfailure.h"
#include "modules/columnspec.h"
#include "modules/columntexts.h"
#include "modules/lostreplies.h"
#include "modules/winkrule.h"
#include "plandialog/plandialog.h"
#include "platform/networkadapters.h"
#include "resources/resourceids.h"
#include "resources/stringtable.h"
#include "ui/appicon.h"
#include "ui/messagebox.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QResizeEvent>
#include <QSaveFile>
#include <QShortcut>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

constexpr const char* kIncorrectLibraryText = "Incorrect DLL version";
constexpr const char* kInvalidPasswordText = "Invalid password";
constexpr const char* kWarningCaption = "Warning";
constexpr const char* kNoWinkText = "Device does not support wink.";
constexpr const char* kExportCaption = "Export list";
constexpr const char* kExportDefaultName = "modules.csv";
constexpr const char* kExportFilter = "CSV files (*.csv);;All files (*)";
constexpr const char* kProgramName = "SorvindaConfig";
constexpr const char* kUndoText = "Undo last change";
constexpr const char* kApplyPlanText = "Apply plan...";
constexpr const char* kApplyPlanCaption = "Apply plan";
constexpr const char* kPlanFilter = "CSV files (*.csv);;All files (*)";
constexpr const char* kOtherDhcpServerText =
    "Another DHCP server answers on this network; modules may take its offer instead of ours. Ours keeps running.";
constexpr const char* kConfigureText = "Configure...";
constexpr const char* kFilterHint = "Filter by IP, MAC, type or host name (Esc ends the filter)";
constexpr const char* kFailedWriteCaption = "Write not verified";
// How long the summary line tells what a command just did.
constexpr int kTransientMs = 4000;
// Addresses the recovery server gave that the summary line names; the
// tooltip names all of this run's (up to kLeasesKept).
constexpr int kLeasesShown = 2;
constexpr int kLeasesKept = 256;
constexpr int kSummaryLines = 2;
// Invalid-password entries one notice examines at most.
constexpr int kMaxRejectionsPerNotice = 64;
// How long one batch may take replies from the library before it lists
// them. The rest waits for the next event, behind the user's clicks, so the
// window answers within a fraction of a second however long a flood lasts.
constexpr std::chrono::milliseconds kReplyBatchBudget{50};
// When the lost replies are looked at once more after a scan was sent: by
// then its replies (and usually the library's repeat) have come.
constexpr int kLostReplyCheckMs = CDeviceListCtrl::kScanningTextMs;

struct LaidOutControl {
    int id;
    ControlAnchor anchor;
};

// In the order the controls are measured and moved.
constexpr std::array<LaidOutControl, CControlLayout::kMaxControls> kLaidOutControls{{
    {IDC_DEVICE_LIST, ControlAnchor::Stretch},
    {IDC_ADVANCED_OPTIONS, ControlAnchor::BottomLeft},
    {IDC_WINK, ControlAnchor::BottomRight},
    {IDC_FILE, ControlAnchor::BottomRight},
    {IDC_SCAN, ControlAnchor::BottomRight},
    {IDOK, ControlAnchor::BottomRight},
}};

// Reached by the library's thread at any time until the process ends, also
// while static objects are being destroyed, so it is never destroyed.
CNoticeGuard& MainDlgNotices()
{
    static CNoticeGuard* guard = new CNoticeGuard;
    return *guard;
}

QString Plural(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? one : many));
}

QString AdapterNames(const std::vector<commissioning::AdapterSubnet>& subnets)
{
    QStringList names;
    for (const commissioning::AdapterSubnet& subnet : subnets) {
        const QString name = QString::fromStdString(subnet.adapter);
        if (!names.contains(name))
            names << name;
    }
    return names.join(QStringLiteral(", "));
}

QString LostRepliesLine(std::uint32_t lost)
{
    return QString::fromStdString(modules::lostRepliesText(lost));
}

// The address check of the window's Set. It runs on the GUI thread: it
// waits at most commissioning::kAddressAnswerBound, right after the user
// pressed Set, with the busy cursor shown.
commissioning::AddressUse CheckAddressFromWindow(
    std::uint32_t ip, const modules::MacAddress& module, const std::vector<QORT_ModuleScanResponseType>& scan)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    commissioning::AddressUse use =
        commissioning::checkAddressInUse(ip, module, scan, commissioning::usableAdapterSubnets());
    QGuiApplication::restoreOverrideCursor();
    return use;
}

// The request as far as the user set it: an address the module did not
// report is shown locked and blank, and the dialog sends it as 0.0.0.0; the
// module cannot show it back, and the user never chose it, so it is left
// out of the comparison.
QORT_ConfigureRequestType VerifiableRequest(const QORT_ModuleScanResponseType& before, QORT_ConfigureRequestType sent)
{
    const auto leaveOut = [](std::uint8_t reported, std::uint32_t& value) {
        if (reported == 0)
            value = QORT_ADDR_NOT_GIVEN;
    };
    leaveOut(before.IpAddrValid, sent.IpAddr);
    leaveOut(before.SubnetMaskValid, sent.SubnetMask);
    leaveOut(before.GatewayValid, sent.Gateway);
    leaveOut(before.Dns1Valid, sent.Dns1);
    leaveOut(before.Dns2Valid, sent.Dns2);
    return sent;
}

LayoutRect ToLayoutRect(const QRect& r)
{
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

} // namespace

void LibraryCallback(int code)
{
    MainDlgNotices().Deliver(code);
}

CModuleConfigDlg::CModuleConfigDlg(QWidget* parent, const QortApi& api, std::string libraryFile)
    : CDialog(IDD_SORVINDACONFIG_DIALOG, parent)
    , m_pDeviceList(new CDeviceListCtrl(this))
    , m_hIcon(AppIcon())
    , m_api(api)
    , m_libraryFile(std::move(libraryFile))
    , m_pStatusLine(new QLabel(this))
    , m_pSummaryLine(new QLabel(this))
    , m_pFilterEdit(new QLineEdit(this))
{
    SubstituteControl(IDC_DEVICE_LIST, m_pDeviceList);
    m_pStatusLine->setWordWrap(true);
    m_pStatusLine->hide();
    m_pSummaryLine->setWordWrap(false);
    m_pSummaryLine->setTextFormat(Qt::PlainText);
    m_pFilterEdit->setPlaceholderText(QString::fromLatin1(kFilterHint));
    m_pFilterEdit->setClearButtonEnabled(true);
    m_pFilterEdit->hide();
    connect(m_pFilterEdit, &QLineEdit::textChanged, m_pDeviceList, &CDeviceListCtrl::SetFilter);
    connect(m_pFilterEdit, &QLineEdit::textChanged, this, &CModuleConfigDlg::UpdateSummaryLine);
    auto* endFilter = new QShortcut(QKeySequence(Qt::Key_Escape), m_pFilterEdit, nullptr, nullptr, Qt::WidgetShortcut);
    connect(endFilter, &QShortcut::activated, this, &CModuleConfigDlg::EndFilter);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, &CModuleConfigDlg::BeginFilter);
    // Enter stays Scan (the default button); F2 configures the selected row.
    connect(new QShortcut(QKeySequence(Qt::Key_F2), this), &QShortcut::activated, this,
        &CModuleConfigDlg::OnConfigureSelected);
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &CModuleConfigDlg::ShowContextMenuAtSelection);
    connect(m_pDeviceList, &CDeviceListCtrl::NotesChanged, this, &CModuleConfigDlg::UpdateSummaryLine);
    m_transientTimer.setSingleShot(true);
    m_transientTimer.setInterval(kTransientMs);
    connect(&m_transientTimer, &QTimer::timeout, this, [this] {
        m_transient.clear();
        UpdateSummaryLine();
    });
    // The server's worker reports each address it gave; the window shows it
    // on its own thread, and not at all once it has gone.
    m_DhcpServer.SetLeaseSink([this](const DhcpServerControl::Lease& lease) {
        QMetaObject::invokeMethod(
            this, [this, lease] { OnDhcpLease(lease); }, Qt::QueuedConnection);
    });
    m_lostReplyCheck.setSingleShot(true);
    m_lostReplyCheck.setInterval(kLostReplyCheckMs);
    connect(&m_lostReplyCheck, &QTimer::timeout, this, &CModuleConfigDlg::ShowLostReplies);
    // A double-click on a row configures that module; the request goes out
    // through the same library table as every other call of this window.
    // Every write is checked, logged and verified by the rules in
    // commissioning/.
    m_writeHooks =
        devicelist::ConfigureHooks{[this](const QORT_ConfigureRequestType& request) { m_api.SendConfigure(&request); },
            [this](std::uint32_t ip, const modules::MacAddress& module,
                const std::vector<QORT_ModuleScanResponseType>& scan) {
                commissioning::AddressUse use = CheckAddressFromWindow(ip, module, scan);
                // Why the address could not be asked about is said, not hidden.
                if (!use.note.empty())
                    ShowTransient(QString::fromStdString(modules::formatDottedAddress(ip) + ": " + use.note));
                return use;
            },
            [this](const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& request) {
                ShowAuditFailure(commissioning::AuditLog::forUser().append(commissioning::auditEntry(
                    commissioning::changeOf(before, request), kProgramName, commissioning::WriteResult::Refused)));
            },
            [this](const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& request) {
                OnWriteSending(before, request);
            }};
    devicelist::AttachConfigureFlow(*m_pDeviceList, m_writeHooks);
    m_pendingWriteTimer.setSingleShot(true);
    connect(&m_pendingWriteTimer, &QTimer::timeout, this, [this] { EndPendingWriteUnanswered(true); });
    MapCommand(IDC_SCAN, [this] { OnScan(); });
    MapCommand(IDC_ADVANCED_OPTIONS, [this] { OnAdvancedOptions(); });
    MapCommand(IDC_WINK, [this] { OnWink(); });
    MapCommand(IDC_FILE, [this] { OnFile(); });
    // Queued: the save dialog opens once the context menu has closed.
    connect(m_pDeviceList, &CDeviceListCtrl::ExportListRequested, this, &CModuleConfigDlg::OnExportList,
        Qt::QueuedConnection);
}

CModuleConfigDlg::~CModuleConfigDlg()
{
    // After Detach returns no notice is being posted to this window or will
    // be; notices already posted are discarded with the object.
    MainDlgNotices().Detach();
    // A write still waiting is logged with what is known now; no box any more.
    EndPendingWriteUnanswered(false);
    StopDhcpProbe();
    // The worker uses the server object; it must end before members go.
    m_DhcpServer.Stop();
}

void CModuleConfigDlg::DoDataExchange(DataExchange& dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_DEVICE_LIST, m_pDeviceList);
}

bool CModuleConfigDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    AddAboutEntry();
    setWindowIcon(m_hIcon);

    if (!CheckLibraryVersion()) {
        ShowMessageBox(this, kIncorrectLibraryText, kWarningCaption, MB_OK | MB_ICONEXCLAMATION);
        // The base version: this window's own OnCancel deliberately does nothing.
        CDialog::OnCancel();
        return true;
    }

    RepositionControls(true);
    RepositionControls(false);
    if (m_pDeviceList == nullptr) {
        return true;
    }
    // The column spec string's widths were chosen for a narrower font than ours.
    m_pDeviceList->InitColumns(modules::kDeviceListColumnSpec, BaseUnits().cx);

    MainDlgNotices().Attach([this](int code) { QCoreApplication::postEvent(this, new CLibraryNotifyEvent(code)); });
    m_api.RegisterCallBack(LibraryCallback);
    m_api.Start();
    StartScan();
    return true;
}

bool CModuleConfigDlg::CheckLibraryVersion()
{
    CLibraryVersion check;
    return check.IsAcceptedLibrary(m_libraryFile.c_str());
}

void CModuleConfigDlg::AddAboutEntry()
{
    const std::string_view text = LoadResourceString(IDS_ABOUTBOX);
    if (text.empty()) {
        return;
    }
    m_aboutText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // Window managers own the title bar's menu, so the entry lives in the
    // window's context menu and on F1.
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(shortcut, &QShortcut::activated, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
}

void CModuleConfigDlg::contextMenuEvent(QContextMenuEvent* event)
{
    const bool overList = m_pDeviceList != nullptr && m_pDeviceList->geometry().contains(event->pos());
    ShowContextMenu(event->globalPos(), overList);
}

void CModuleConfigDlg::ShowContextMenuAtSelection()
{
    if (m_pDeviceList == nullptr)
        return;
    const int row = m_pDeviceList->GetFirstSelectedRow();
    const QRect cell =
        row >= 0 ? m_pDeviceList->visualRect(m_pDeviceList->model()->index(row, 0)) : m_pDeviceList->viewport()->rect();
    ShowContextMenu(m_pDeviceList->viewport()->mapToGlobal(cell.center()), true);
}

void CModuleConfigDlg::FillContextMenu(QMenu& menu, bool overList, QAction*& about)
{
    // The list's own entries come first when the menu is opened over it;
    // they act when chosen.
    if (overList) {
        const int row = m_pDeviceList->GetFirstSelectedRow();
        // Queued: the dialog opens once the menu has closed.
        QAction* configure = menu.addAction(QString::fromLatin1(kConfigureText), this,
            [this] { QTimer::singleShot(0, this, &CModuleConfigDlg::OnConfigureSelected); });
        configure->setShortcut(QKeySequence(Qt::Key_F2));
        configure->setEnabled(row >= 0);
        menu.setDefaultAction(configure);
        menu.addSeparator();
        m_pDeviceList->AddContextActions(menu);
        QAction* undo = menu.addAction(QString::fromLatin1(kUndoText), this, [this, row] { OnUndoLastChange(row); });
        undo->setEnabled(UndoValuesOfRow(row).has_value());
        // Queued: the file dialog opens once the context menu has closed.
        menu.addAction(QString::fromLatin1(kApplyPlanText), this,
            [this] { QTimer::singleShot(0, this, &CModuleConfigDlg::OnApplyPlan); });
    }
    if (!m_aboutText.isEmpty()) {
        if (!menu.isEmpty()) {
            menu.addSeparator();
        }
        about = menu.addAction(m_aboutText);
        about->setData(IDM_ABOUTBOX);
    }
}

void CModuleConfigDlg::ShowContextMenu(const QPoint& globalPos, bool overList)
{
    QMenu menu(this);
    QAction* about = nullptr;
    FillContextMenu(menu, overList && m_pDeviceList != nullptr, about);
    if (menu.isEmpty()) {
        return;
    }
    QAction* chosen = menu.exec(globalPos, menu.defaultAction());
    if (chosen != nullptr && chosen == about) {
        OnSysCommand(IDM_ABOUTBOX);
    }
}

void CModuleConfigDlg::OnConfigureSelected()
{
    if (m_pDeviceList != nullptr)
        m_pDeviceList->ConfigureRow(m_pDeviceList->GetFirstSelectedRow());
}

void CModuleConfigDlg::BeginFilter()
{
    if (m_pDeviceList == nullptr)
        return;
    if (m_pFilterEdit->isHidden()) {
        m_pFilterEdit->show();
        RepositionControls(false);
    }
    m_pFilterEdit->setFocus(Qt::ShortcutFocusReason);
    m_pFilterEdit->selectAll();
}

void CModuleConfigDlg::EndFilter()
{
    m_pFilterEdit->clear();
    if (!m_pFilterEdit->isHidden()) {
        m_pFilterEdit->hide();
        RepositionControls(false);
    }
    if (m_pDeviceList != nullptr)
        m_pDeviceList->setFocus(Qt::OtherFocusReason);
}

QString CModuleConfigDlg::SummaryLineText() const
{
    return m_pSummaryLine->text();
}

void CModuleConfigDlg::UpdateSummaryLine()
{
    if (m_pDeviceList == nullptr)
        return;
    const int modules = m_pDeviceList->GetItemCount();
    const std::array<int, 3> notes = m_pDeviceList->NoteCounts();
    QString first = Plural(modules, "module", "modules");
    if (!m_pDeviceList->Filter().isEmpty())
        first += QStringLiteral(" (%1 shown)").arg(m_pDeviceList->VisibleRowCount());
    first += QStringLiteral(": %1, %2, %3")
                 .arg(Plural(notes[static_cast<std::size_t>(commissioning::NoteKind::Failure)], "failure", "failures"),
                     Plural(notes[static_cast<std::size_t>(commissioning::NoteKind::Warning)], "warning", "warnings"),
                     QStringLiteral("%1 information")
                         .arg(notes[static_cast<std::size_t>(commissioning::NoteKind::Information)]));
    if (!m_transient.isEmpty())
        first += QStringLiteral(" \u2014 ") + m_transient;
    const std::vector<commissioning::AdapterSubnet>& subnets = m_pDeviceList->AdapterSubnets();
    QString second =
        QStringLiteral("This computer: ") + QString::fromStdString(commissioning::adapterSubnetsText(subnets));
    QString third;
    if (!m_DhcpServer.IsRunning()) {
        second += QStringLiteral(" \u2014 Recovery DHCP server off");
    } else {
        // A line of its own: the addresses it gave are what the user waits for.
        third = QStringLiteral("Recovery DHCP server on (%1)").arg(AdapterNames(subnets));
        if (m_leases.isEmpty())
            third += QStringLiteral(": no address given yet");
        else
            third += QStringLiteral(": ")
                + m_leases.mid(std::max<qsizetype>(0, m_leases.size() - kLeasesShown)).join(QStringLiteral(", "));
    }
    const QString text = first + QLatin1Char('\n') + second + (third.isEmpty() ? QString() : QLatin1Char('\n') + third);
    const bool linesChanged = text.count(QLatin1Char('\n')) != m_pSummaryLine->text().count(QLatin1Char('\n'));
    m_pSummaryLine->setText(text);
    m_pSummaryLine->setToolTip(m_leases.isEmpty() ? text : text + QLatin1Char('\n') + m_leases.join(QLatin1Char('\n')));
    if (linesChanged)
        RepositionControls(false);
}

void CModuleConfigDlg::ShowTransient(const QString& text)
{
    m_transient = text;
    m_transientTimer.start();
    UpdateSummaryLine();
}

void CModuleConfigDlg::OnDhcpLease(const DhcpServerControl::Lease& lease)
{
    modules::MacAddress mac;
    std::copy(lease.mac.begin(), lease.mac.end(), mac.begin());
    m_leases << QStringLiteral("%1 given to %2 at %3")
                    .arg(QString::fromStdString(modules::formatDottedAddress(lease.address)),
                        QString::fromStdString(modules::formatMac(mac)),
                        QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    if (m_leases.size() > kLeasesKept)
        m_leases.removeFirst();
    UpdateSummaryLine();
}

void CModuleConfigDlg::ReportFailedWrite(
    const modules::MacAddress& mac, const std::vector<commissioning::ScanNote>& notes, bool mayShowBox)
{
    m_pDeviceList->MarkFailure(mac, notes);
    if (!mayShowBox)
        return;
    QStringList lines;
    for (const commissioning::ScanNote& note : notes)
        lines << QString::fromStdString(note.text);
    const QString text = QStringLiteral("The write to %1 did not take:\n%2")
                             .arg(QString::fromStdString(modules::formatMac(mac)), lines.join(QLatin1Char('\n')));
    // Told once the notice that brought it has been handled.
    QTimer::singleShot(0, this,
        [this, text] { ShowMessageBox(this, text, QString::fromLatin1(kFailedWriteCaption), MB_OK | MB_ICONERROR); });
}

std::optional<QORT_ModuleScanResponseType> CModuleConfigDlg::UndoValuesOfRow(int row) const
{
    const std::optional<modules::MacAddress> mac = m_pDeviceList->GetRowMac(row);
    if (!mac)
        return std::nullopt;
    return commissioning::AuditLog::forUser().undoValues(*mac);
}

void CModuleConfigDlg::OnUndoLastChange(int row)
{
    if (const std::optional<QORT_ModuleScanResponseType> values = UndoValuesOfRow(row))
        devicelist::RunUndoFlow(*m_pDeviceList, row, *values, m_writeHooks);
}

void CModuleConfigDlg::OnExportList()
{
    const QString path = QFileDialog::getSaveFileName(this, QString::fromLatin1(kExportCaption),
        QString::fromLatin1(kExportDefaultName), QString::fromLatin1(kExportFilter));
    if (!path.isEmpty()) {
        ExportListTo(path);
    }
}

void CModuleConfigDlg::OnApplyPlan()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QString::fromLatin1(kApplyPlanCaption), QString(), QString::fromLatin1(kPlanFilter));
    if (!path.isEmpty())
        ApplyPlanFile(path);
}

void CModuleConfigDlg::ApplyPlanFile(const QString& path)
{
    CPlanDialog dialog(path, this);
    CPlanApplier applier(dialog,
        CPlanApplier::Hooks{[this](const QORT_ConfigureRequestType& request) { m_api.SendConfigure(&request); },
            [this] { StartScan(); }, [this](const std::string& error) { ShowAuditFailure(error); }});
    m_planApplier = &applier;
    applier.Start(commissioning::readPlanFile(std::filesystem::path(path.toStdString())), m_pDeviceList->Modules(),
        commissioning::usableAdapterSubnets());
    dialog.exec();
    m_planApplier = nullptr;
}

bool CModuleConfigDlg::ExportListTo(const QString& path)
{
    const std::string csv = m_pDeviceList->ExportCsv();
    // Written beside the target and renamed over it, so a failed write never
    // leaves half a list in place of an older file.
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly)
        && file.write(csv.data(), static_cast<qint64>(csv.size())) == static_cast<qint64>(csv.size()) && file.commit();
    if (!written) {
        ShowMessageBox(this, QStringLiteral("The list could not be written to %1: %2").arg(path, file.errorString()),
            kWarningCaption, MB_OK | MB_ICONEXCLAMATION);
    }
    return written;
}

void CModuleConfigDlg::OnSysCommand(unsigned commandId)
{
    if ((commandId & SYSCOMMAND_FLAGS_MASK) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
    } else if (commandId == kSystemCommandClose) {
        OnOK();
    }
}

void CModuleConfigDlg::OnCancel()
{
}

void CModuleConfigDlg::OnClose()
{
    OnSysCommand(kSystemCommandClose);
}

void CModuleConfigDlg::StartScan()
{
    m_pDeviceList->ClearModules();
    // Read per scan: an adapter may have come up or changed its address.
    m_pDeviceList->SetAdapterSubnets(commissioning::usableAdapterSubnets());
    UpdateSummaryLine();
    m_pDeviceList->BeginScan();
    const bool sent = m_api.SendModuleScan() != 0;
    // The library counts the lost replies of each scan afresh.
    ShowLostReplies();
    m_lostReplyCheck.start();
    if (!sent) {
        ReportScanFailure();
    }
}

QString CModuleConfigDlg::StatusLineText() const
{
    return m_pStatusLine->isVisibleTo(this) ? m_pStatusLine->text() : QString();
}

void CModuleConfigDlg::ShowLostReplies()
{
    const std::uint32_t lost = m_api.GetLostReplyCount != nullptr ? m_api.GetLostReplyCount() : 0;
    m_pStatusLine->setText(LostRepliesLine(lost));
    const bool show = lost > 0;
    if (show != m_pStatusLine->isVisibleTo(this)) {
        m_pStatusLine->setVisible(show);
        RepositionControls(false);
    }
}

void CModuleConfigDlg::PlaceStatusLine()
{
    if (m_pDeviceList == nullptr) {
        return;
    }
    // From the bottom of the list's place up: the summary, the lost
    // replies while there are any, the filter while it is in use.
    QRect list = m_pDeviceList->geometry();
    const auto takeBottom = [&list](QWidget* line, int height) {
        height = std::min(height, list.height() / 2);
        line->setGeometry(list.left(), list.bottom() + 1 - height, list.width(), height);
        list.adjust(0, 0, 0, -height);
    };
    const int lines =
        std::max<int>(kSummaryLines, static_cast<int>(m_pSummaryLine->text().count(QLatin1Char('\n'))) + 1);
    takeBottom(m_pSummaryLine, lines * m_pSummaryLine->fontMetrics().lineSpacing());
    if (m_pStatusLine->isVisibleTo(this))
        takeBottom(m_pStatusLine, m_pStatusLine->heightForWidth(list.width()));
    if (m_pFilterEdit->isVisibleTo(this))
        takeBottom(m_pFilterEdit, m_pFilterEdit->sizeHint().height());
    m_pDeviceList->setGeometry(list);
}

void CModuleConfigDlg::ReportScanFailure()
{
    // The cause is looked for now, while it holds; the box waits for the
    // event loop so that it appears over the window, also for the scan the
    // window sends while it opens.
    const QString text = QString::fromStdString(diagnostics::scanFailureText(diagnostics::diagnoseScanFailure()));
    QTimer::singleShot(
        0, this, [this, text] { ShowMessageBox(this, text, kWarningCaption, MB_OK | MB_ICONEXCLAMATION); });
}

void CModuleConfigDlg::OnScan()
{
    if (m_pDeviceList != nullptr) {
        StartScan();
    }
}

void CModuleConfigDlg::OnFile()
{
}

bool CModuleConfigDlg::event(QEvent* event)
{
    if (event->type() == CLibraryNotifyEvent::kType) {
        OnLibraryNotify(static_cast<CLibraryNotifyEvent*>(event)->Code());
        return true;
    }
    return CDialog::event(event);
}

bool CModuleConfigDlg::IsLastConfiguredMac(const std::uint8_t* mac) const
{
    const auto last = m_pDeviceList->GetLastConfiguredMac();
    return last.has_value() && std::equal(last->begin(), last->end(), mac);
}

// Entries that do not name the module configured last are dropped on the
// way: none of them can ever be claimed. The last configured MAC changes
// only just before a new request goes out, so a rejection of that request is
// queued behind them; left at the head, one such entry (another computer's
// rejection, as every reply is broadcast, or a malformed reply) would hide
// every later rejection for the rest of the run. Each notice announces one
// entry, so the bound only keeps the window's thread from chasing a flood.
bool CModuleConfigDlg::TakeRejectionOfLastConfigured()
{
    std::uint8_t mac[QORT_MAC_SIZE];
    for (int examined = 0; examined < kMaxRejectionsPerNotice && m_api.GetInvPswdMacId(mac) == 1; ++examined) {
        const bool matches = IsLastConfiguredMac(mac);
        m_api.RemoveFirstInvPswdMacId();
        if (matches)
            return true;
    }
    return false;
}

// The plan's rows show their own rejections in the plan dialog; a rejection
// of a write the configure flow sent just before is still logged (its box
// would stand over the plan dialog, so it is left out).
void CModuleConfigDlg::TakeRejectionsOfPlan()
{
    std::uint8_t mac[QORT_MAC_SIZE];
    for (int examined = 0; examined < kMaxRejectionsPerNotice && m_api.GetInvPswdMacId(mac) == 1; ++examined) {
        m_api.RemoveFirstInvPswdMacId();
        modules::MacAddress rejected;
        std::copy(std::begin(mac), std::end(mac), rejected.begin());
        if (!m_planApplier->OnRejected(rejected) && IsLastConfiguredMac(mac))
            OnRejected();
    }
}

int CModuleConfigDlg::OnLibraryNotify(int code)
{
    if (m_pDeviceList == nullptr) {
        return 1;
    }
    std::uint8_t mac[QORT_MAC_SIZE];
    switch (code) {
    case QORT_CB_RESPONSE:
        return TakeReplies() ? 1 : 0;
    case QORT_CB_RECONFIGURED:
        if (m_planApplier != nullptr && m_planApplier->IsApplying()) {
            // Each answer names its module; the plan rescans once per wave.
            for (int examined = 0; examined < kMaxRejectionsPerNotice && m_api.GetReconfiguredMacId(mac) == 1;
                 ++examined) {
                m_api.RemoveFirstReconfiguredMacId();
                modules::MacAddress answered;
                std::copy(std::begin(mac), std::end(mac), answered.begin());
                m_planApplier->OnReconfigured(answered);
            }
            break;
        }
        // Not the plan's: what is queued now names no write of a plan yet to
        // come. Only the pending write's own answer moves it on to
        // verifying; another module's (another tool's write) says nothing
        // of it.
        {
            bool pendingAnswered = false;
            while (m_api.GetReconfiguredMacId(mac) == 1) {
                m_api.RemoveFirstReconfiguredMacId();
                pendingAnswered = pendingAnswered || IsPendingWriteOf(mac);
            }
            if (m_api.GetInvPswdMacId(mac) == 1 && IsLastConfiguredMac(mac)) {
                m_api.RemoveFirstInvPswdMacId();
            }
            if (pendingAnswered)
                OnReconfigured();
        }
        StartScan();
        break;
    case QORT_CB_INVALID_PASSWORD:
        if (m_planApplier != nullptr && m_planApplier->IsApplying()) {
            TakeRejectionsOfPlan();
            break;
        }
        if (TakeRejectionOfLastConfigured()) {
            const std::optional<PendingWrite> rejected = m_pendingWrite;
            OnRejected();
            ShowMessageBox(this, kInvalidPasswordText, kWarningCaption, MB_OK | MB_ICONEXCLAMATION);
            if (rejected)
                ReopenConfigure(*rejected);
        }
        break;
    default:
        break;
    }
    return 1;
}

// One notice stands for every reply queued before it (the notice guard
// merges them), so all that wait are taken, up to the batch's time budget,
// and listed with one insertion and one sort.
bool CModuleConfigDlg::TakeReplies()
{
    // A reply queued from here on posts a notice of its own.
    MainDlgNotices().TakeCoalesced();
    std::vector<QORT_ModuleScanResponseType> batch;
    const auto deadline = std::chrono::steady_clock::now() + kReplyBatchBudget;
    bool drained = false;
    while (!drained && std::chrono::steady_clock::now() < deadline) {
        QORT_ModuleScanResponseType response;
        drained = m_api.GetResponse(&response) == 0;
        if (!drained) {
            batch.push_back(response);
        }
    }
    if (!drained) {
        QCoreApplication::postEvent(this, new CLibraryNotifyEvent(QORT_CB_RESPONSE));
    }
    if (batch.empty()) {
        return false;
    }
    m_pDeviceList->AddModules(batch);
    for (const QORT_ModuleScanResponseType& response : batch) {
        VerifyPendingWrite(response);
    }
    if (m_planApplier != nullptr)
        m_planApplier->OnReplies(batch);
    ShowLostReplies();
    return true;
}

void CModuleConfigDlg::OnWriteSending(
    const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& request)
{
    EndPendingWriteUnanswered(true);
    // On disk before the request leaves; the outcome follows as its own
    // record. A log that cannot be written is shown once, with the outcome.
    const commissioning::Change change = commissioning::changeOf(before, request);
    auto journal = std::make_shared<PendingWrite::Journal>();
    std::optional<std::string> error;
    const commissioning::WriteJournal::Ticket ticket =
        journal->journal.sent(commissioning::auditEntry(change, kProgramName, commissioning::WriteResult::Sent), error);
    m_pendingWrite = PendingWrite{before, request, false, std::move(journal), ticket, error};
    m_pendingWriteTimer.start(kWriteAnswerWaitMs);
    // What goes out, in the words of the dry run and the audit log.
    const std::string changed = commissioning::changeText(change);
    ShowTransient(QString::fromStdString("Configure sent to " + modules::formatMac(modules::macOfRecord(before)) + ": "
        + (changed.empty() ? std::string("no value changes") : changed)));
}

bool CModuleConfigDlg::IsPendingWriteOf(const std::uint8_t* mac) const
{
    return m_pendingWrite && std::equal(mac, mac + QORT_MAC_SIZE, std::begin(m_pendingWrite->sent.MacId));
}

void CModuleConfigDlg::OnReconfigured()
{
    if (!m_pendingWrite || m_pendingWrite->reconfigured)
        return;
    m_pendingWrite->reconfigured = true;
    m_pendingWriteTimer.start(kVerifyReplyWaitMs);
}

// The user's edits are not lost to a mistyped password: the dialog opens
// again with them, once the notice has been handled, for the password to be
// typed again.
void CModuleConfigDlg::ReopenConfigure(const PendingWrite& write)
{
    QORT_ModuleScanResponseType values = write.before;
    for (const commissioning::AddressField& field : commissioning::kAddressFields) {
        if (values.*field.valid == commissioning::kValid)
            values.*field.value = write.sent.*field.sent;
    }
    values.DhcpValid = commissioning::kValid;
    values.Dhcp = write.sent.Dhcp == commissioning::kOn ? commissioning::kOn : commissioning::kOff;
    if (values.HostNameValid == commissioning::kValid)
        std::memcpy(values.HostName, write.sent.HostName, sizeof values.HostName);
    const modules::MacAddress mac = modules::macOfRecord(write.before);
    QTimer::singleShot(0, this, [this, values, mac] {
        for (int row = 0; row < m_pDeviceList->GetItemCount(); ++row) {
            if (m_pDeviceList->GetRowMac(row) == mac) {
                devicelist::RunUndoFlow(*m_pDeviceList, row, values, m_writeHooks);
                return;
            }
        }
    });
}

void CModuleConfigDlg::OnRejected()
{
    if (m_pendingWrite)
        FinishPendingWrite(commissioning::WriteResult::InvalidPassword);
}

void CModuleConfigDlg::VerifyPendingWrite(const QORT_ModuleScanResponseType& reply)
{
    if (!m_pendingWrite || !m_pendingWrite->reconfigured
        || !std::equal(std::begin(reply.MacId), std::end(reply.MacId), std::begin(m_pendingWrite->sent.MacId)))
        return;
    const QORT_ConfigureRequestType verifiable = VerifiableRequest(m_pendingWrite->before, m_pendingWrite->sent);
    const std::vector<std::string> differences = commissioning::unverifiedFields(verifiable, reply);
    if (differences.empty())
        m_pDeviceList->ClearFailure(modules::macOfRecord(reply));
    else
        ReportFailedWrite(modules::macOfRecord(reply),
            commissioning::notVerifiedNotes(m_pendingWrite->before, verifiable, reply), true);
    FinishPendingWrite(
        differences.empty() ? commissioning::WriteResult::Verified : commissioning::WriteResult::NotVerified);
}

void CModuleConfigDlg::EndPendingWriteUnanswered(bool mayShowBox)
{
    if (!m_pendingWrite)
        return;
    // Answered "Reconfigured:" but never seen again: nothing shows the values.
    if (m_pDeviceList != nullptr) {
        ReportFailedWrite(modules::macOfRecord(m_pendingWrite->before),
            {commissioning::unansweredNote(m_pendingWrite->before,
                VerifiableRequest(m_pendingWrite->before, m_pendingWrite->sent), m_pendingWrite->reconfigured)},
            mayShowBox);
    }
    FinishPendingWrite(
        m_pendingWrite->reconfigured ? commissioning::WriteResult::NotVerified : commissioning::WriteResult::NoAnswer,
        mayShowBox);
}

void CModuleConfigDlg::FinishPendingWrite(commissioning::WriteResult result, bool mayShowBox)
{
    const PendingWrite write = *m_pendingWrite;
    m_pendingWrite.reset();
    m_pendingWriteTimer.stop();
    const std::optional<std::string> error = write.journal->journal.finish(write.ticket, result);
    ShowAuditFailure(error ? error : write.journalError, mayShowBox);
}

void CModuleConfigDlg::ShowAuditFailure(const std::optional<std::string>& error, bool mayShowBox)
{
    if (error && mayShowBox)
        ShowMessageBox(this, QString::fromStdString(*error), kWarningCaption, MB_OK | MB_ICONEXCLAMATION);
}

void CModuleConfigDlg::OnWink()
{
    if (m_pDeviceList == nullptr) {
        return;
    }
    const int row = m_pDeviceList->GetFirstSelectedRow();
    if (row < 0) {
        return;
    }
    const auto mac = m_pDeviceList->GetRowMac(row);
    if (!mac) {
        return;
    }
    QORT_ConfigureRequestType request;
    std::memset(&request, 0, sizeof request);
    std::copy(mac->begin(), mac->end(), request.MacId);

    const auto module = m_pDeviceList->FindModule(*mac);
    if (!module) {
        return;
    }
    if (modules::supportsWink(*module)) {
        m_api.SendWink(&request);
        ShowTransient(QStringLiteral("Wink sent to %1").arg(QString::fromStdString(modules::formatMac(*mac))));
    } else {
        AfxMessageBox(kNoWinkText, MB_OK);
    }
}

void CModuleConfigDlg::OnAdvancedOptions()
{
    // Runs "Advanced Settings", switches the server as its box says and tells
    // the user "DHCP server init failed" when the socket cannot be opened.
    const DhcpServerControl::Change change = RunAdvancedSettings(m_DhcpServer);
    if (change == DhcpServerControl::Change::Started)
        StartDhcpProbe();
    if (change == DhcpServerControl::Change::Started || change == DhcpServerControl::Change::StartFailed)
        m_leases.clear(); // a fresh run of the server
    UpdateSummaryLine();
}

void CModuleConfigDlg::StartDhcpProbe()
{
    StopDhcpProbe();
    m_dhcpProbeStop.clear();
    m_dhcpProbe = std::thread([this] {
        const commissioning::DhcpProbe probe = commissioning::probeDhcpServers(
            platform::NetworkAdapters::usable(), commissioning::kDhcpOfferWait, &m_dhcpProbeStop);
        // Dropped with the window when it has gone meanwhile.
        QMetaObject::invokeMethod(
            this, [this, probe] { ReportDhcpProbe(probe); }, Qt::QueuedConnection);
    });
}

void CModuleConfigDlg::StopDhcpProbe()
{
    if (!m_dhcpProbe.joinable())
        return;
    m_dhcpProbeStop.wake();
    m_dhcpProbe.join();
}

void CModuleConfigDlg::ReportDhcpProbe(const commissioning::DhcpProbe& probe)
{
    // Our own server hears the probe too; only another one is news.
    const std::vector<platform::NetworkAdapter> own = platform::NetworkAdapters::usable();
    QStringList lines;
    for (const commissioning::DhcpOffer& offer : probe.offers) {
        if (std::none_of(
                own.begin(), own.end(), [&](const platform::NetworkAdapter& a) { return a.ipv4 == offer.server; }))
            lines << QString::fromStdString(commissioning::offerLine(offer));
    }
    if (lines.isEmpty())
        return;
    ShowMessageBox(this, QString::fromLatin1(kOtherDhcpServerText) + QLatin1Char('\n') + lines.join(QLatin1Char('\n')),
        kWarningCaption, MB_OK | MB_ICONEXCLAMATION);
}

void CModuleConfigDlg::RepositionControls(bool record)
{
    const ClientExtent client{width(), height()};
    for (std::size_t slot = 0; slot < kLaidOutControls.size(); ++slot) {
        QWidget* control = GetDlgItem(kLaidOutControls[slot].id);
        if (control == nullptr) {
            continue;
        }
        if (record) {
            m_layout.Record(slot, kLaidOutControls[slot].anchor, ToLayoutRect(control->geometry()), client);
        } else {
            const LayoutRect r = m_layout.Apply(slot, kLaidOutControls[slot].anchor, client);
            control->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
        }
    }
    if (!record) {
        PlaceStatusLine();
    }
    update();
}

void CModuleConfigDlg::resizeEvent(QResizeEvent* event)
{
    CDialog::resizeEvent(event);
    // Size changes before the controls exist are ignored; the initialisation
    // records and applies the layout itself.
    if (!Controls().isEmpty()) {
        RepositionControls(false);
    }
}

void CModuleConfigDlg::showEvent(QShowEvent* event)
{
    CDialog::showEvent(event);
    ApplyMinimumWindowSize();
}

void CModuleConfigDlg::ApplyMinimumWindowSize()
{
    // The minimum counts the whole window, frame included; Qt's minimum is
    // the client's, so the frame is taken off. The window manager then holds
    // back whichever edge is being dragged, as ClampSizingRect describes.
    const int frameWidth = frameGeometry().width() - width();
    const int frameHeight = frameGeometry().height() - height();
    setMinimumSize(std::max(0, kMinimumWindowWidth - frameWidth), std::max(0, kMinimumWindowHeight - frameHeight));
}
