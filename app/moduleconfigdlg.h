#pragma once

#include "app/controllayout.h"
#include "app/libraryversion.h"
#include "app/qortapi.h"
#include "dhcp/dhcpservercontrol.h"
#include "platform/wakeup.h"
#include "ui/templatedialog.h"

#include "commissioning/auditlog.h"
#include "commissioning/dhcpprobe.h"
#include "commissioning/interruptedwrites.h"
#include "commissioning/scanwarnings.h"
#include "devicelist/configureflow.h"

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>
#include <thread>

class CDeviceListCtrl;
class CPlanApplier;
class QContextMenuEvent;
class QLabel;
class QLineEdit;
class QMenu;

// The library's event callback. Runs on the library's receive thread while
// the library holds its lock: it only posts the code to the main window as a
// CLibraryNotifyEvent, or drops it when there is no main window.
void LibraryCallback(int code);

// The program's main window (template 102): the device list and its
// buttons, the scan cycle, the intake of library notices, wink, the
// recovery DHCP server's switch, the resizable layout and the About entry.
//
// Threads: everything here runs on the GUI thread except LibraryCallback.
class CModuleConfigDlg : public CDialog {
    Q_OBJECT

public:
    // The system command that closes a window (title-bar Close, Alt+F4).
    static constexpr unsigned kSystemCommandClose = 0xF060;

    // api and libraryFile are the library the window drives and the file
    // whose version it checks; tests hand in others.
    explicit CModuleConfigDlg(QWidget* parent = nullptr, const QortApi& api = LinkedQortApi(),
        std::string libraryFile = CLibraryVersion::kLibraryFileName);
    ~CModuleConfigDlg() override;

    CDeviceListCtrl* DeviceList() const { return m_pDeviceList; }
    // The line under the list that tells how many replies of the last scan
    // were lost; empty while it is hidden.
    QString StatusLineText() const;
    // The two lines under the list that tell the state of things: how many
    // modules are listed (and shown, while filtered) with their notes of
    // each kind, and what a command just did (Wink); this computer's
    // adapters and subnets, and the recovery DHCP server: off, or on with
    // its adapters and each address it gave.
    QString SummaryLineText() const;
    bool IsDhcpServerRunning() const { return m_DhcpServer.IsRunning(); }
    // The filter's edit (Ctrl+F shows it, Esc ends it); hidden while unused.
    QLineEdit* FilterEdit() const { return m_pFilterEdit; }
    // Ctrl+F: shows the filter's edit and gives it the focus.
    void BeginFilter();
    // Esc in the filter's edit: every row shows again, the edit goes.
    void EndFilter();
    // The row's context menu at a point of the screen: "Configure..." first
    // and the default (what a double-click does), the list's entries,
    // "Undo last change", "Apply plan...", then About. The menu key and
    // Shift+F10 open it at the selected row.
    void ShowContextMenu(const QPoint& globalPos, bool overList);
    void ShowContextMenuAtSelection();
    // "Configure..." and F2: the configure flow for the selected row.
    void OnConfigureSelected();
    // An address the recovery server gave (from its worker, via the queue).
    void OnDhcpLease(const DhcpServerControl::Lease& lease);

    // Handlers, public so that the commands can be driven as the user would.
    void OnScan();
    void OnWink();
    void OnFile();
    void OnAdvancedOptions();
    // Asks for a file and writes the list to it as CSV.
    void OnExportList();
    // The values "Undo last change" would put back on the row's module: the
    // before values of its newest verified write in the audit log.
    std::optional<QORT_ModuleScanResponseType> UndoValuesOfRow(int row) const;
    // Runs the configure flow from those values; nothing without them.
    void OnUndoLastChange(int row);
    // "Apply plan...": asks for a plan file and runs ApplyPlanFile on it.
    void OnApplyPlan();
    // The plan dialog for the file, modal: its dry run against the listed
    // modules, and after Apply its writes, verified and logged. The window
    // keeps taking the library's notices meanwhile.
    void ApplyPlanFile(const QString& path);
    // Writes the list as CSV to path; a box tells when that fails.
    bool ExportListTo(const QString& path);
    // The About entry and Close; any other command is ignored.
    void OnSysCommand(unsigned commandId);
    // 0 when a scan-reply notice found no reply waiting, 1 otherwise. A
    // scan-reply notice takes every reply waiting (see TakeReplies).
    int OnLibraryNotify(int code);
    // How long a sent write waits for "Reconfigured:" or "Invalid
    // Password:", and then for the module's reply to the rescan, before it
    // is logged as unanswered or unverified.
    static constexpr int kWriteAnswerWaitMs = 5000;
    static constexpr int kVerifyReplyWaitMs = 5000;
    // Record mode takes the controls' template positions relative to the
    // window's edges; apply mode places them for the current size.
    void RepositionControls(bool record);

protected:
    bool OnInitDialog() override;
    void DoDataExchange(DataExchange& dx) override;
    // Escape does nothing: the window ends only by Exit or Close.
    void OnCancel() override;
    void OnClose() override;

    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool CheckLibraryVersion();
    void AddAboutEntry();
    void StartScan();
    // Lists the replies waiting in the library as one batch; false when none
    // was waiting.
    bool TakeReplies();
    // Shows or hides the status line after the library's count of lost
    // replies for the current scan.
    void ShowLostReplies();
    // Gives the status line, while shown, the bottom of the list's place.
    void PlaceStatusLine();
    // Tells, once per failed scan, why the scan could not be sent.
    void ReportScanFailure();
    bool IsLastConfiguredMac(const std::uint8_t* mac) const;
    // Removes queued invalid-password entries up to and including the first
    // that names the module configured last; true when there was one.
    bool TakeRejectionOfLastConfigured();
    // Hands every queued invalid-password entry to the running plan.
    void TakeRejectionsOfPlan();
    void ApplyMinimumWindowSize();
    void FillContextMenu(QMenu& menu, bool overList, QAction*& about);
    void UpdateSummaryLine();
    // Says briefly, in the summary line, what a command did.
    void ShowTransient(const QString& text);
    // A write that did not take: its row keeps the failure mark and the
    // user is told at once.
    void ReportFailedWrite(
        const modules::MacAddress& mac, const std::vector<commissioning::ScanNote>& notes, bool mayShowBox);

    // A write from the configure flow, from its sending until its result is
    // known and logged; one at a time (a newer write ends the older one).
    struct PendingWrite {
        QORT_ModuleScanResponseType before;
        QORT_ConfigureRequestType sent;
        bool reconfigured = false; // "Reconfigured:" came: waiting for the module's reply to the rescan
        // The write's own journal: its `sent` record is on disk before the
        // request leaves, and the ticket names it for its outcome; a signal
        // meanwhile records it `interrupted`.
        struct Journal {
            commissioning::WriteJournal journal{commissioning::AuditLog::forUser()};
            commissioning::InterruptedWrites guard{journal};
        };
        std::shared_ptr<Journal> journal;
        commissioning::WriteJournal::Ticket ticket;
        std::optional<std::string> journalError; // the `sent` record's, shown with the outcome
    };
    // Another DHCP server on the segment: asked on a thread of its own each
    // time the recovery server starts, so the start is never delayed and
    // the GUI thread never waits; the answer comes back as a queued call.
    void StartDhcpProbe();
    // Wakes the probe and joins it (it ends at once when woken).
    void StopDhcpProbe();
    void ReportDhcpProbe(const commissioning::DhcpProbe& probe);

    void OnWriteSending(const QORT_ModuleScanResponseType& before, const QORT_ConfigureRequestType& request);
    // Whether mac names the module of the pending write.
    bool IsPendingWriteOf(const std::uint8_t* mac) const;
    void OnReconfigured();
    void OnRejected();
    void ReopenConfigure(const PendingWrite& write);
    void VerifyPendingWrite(const QORT_ModuleScanResponseType& reply);
    void EndPendingWriteUnanswered(bool mayShowBox);
    void FinishPendingWrite(commissioning::WriteResult result, bool mayShowBox = true);
    // A box says when the audit log could not be written.
    void ShowAuditFailure(const std::optional<std::string>& error, bool mayShowBox = true);

    // Declared first so that it is destroyed last; the destructor stops the
    // server explicitly before anything else goes.
    DhcpServerControl m_DhcpServer;
    CDeviceListCtrl* m_pDeviceList = nullptr; // owned by the dialog as control IDC_DEVICE_LIST
    QIcon m_hIcon;
    const QortApi& m_api;
    std::string m_libraryFile;
    CControlLayout m_layout;
    QString m_aboutText;                // empty: no About entry
    QLabel* m_pStatusLine = nullptr;    // owned by the dialog; hidden while nothing was lost
    QLabel* m_pSummaryLine = nullptr;   // owned by the dialog; always shown
    QLineEdit* m_pFilterEdit = nullptr; // owned by the dialog; shown while filtering
    QString m_transient;                // what a command just did, for a moment
    QTimer m_transientTimer;
    QStringList m_leases;    // "10.200.1.66 given to 00-30-11-00-00-42 at 14:02:11", oldest first
    QTimer m_lostReplyCheck; // looks at the count once the scan's replies have come
    devicelist::ConfigureHooks m_writeHooks;
    platform::Wakeup m_dhcpProbeStop;
    std::thread m_dhcpProbe;
    std::optional<PendingWrite> m_pendingWrite;
    CPlanApplier* m_planApplier = nullptr; // while the plan dialog is open
    QTimer m_pendingWriteTimer;
};
