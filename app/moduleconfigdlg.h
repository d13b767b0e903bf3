#pragma once

#include "app/controllayout.h"
#include "app/libraryversion.h"
#include "app/qortapi.h"
#include "dhcp/dhcpservercontrol.h"
#include "ui/templatedialog.h"

#include <QIcon>
#include <QString>
#include <QTimer>

#include <string>

class CDeviceListCtrl;
class QContextMenuEvent;
class QLabel;

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
    bool IsDhcpServerRunning() const { return m_DhcpServer.IsRunning(); }

    // Handlers, public so that the commands can be driven as the user would.
    void OnScan();
    void OnWink();
    void OnFile();
    void OnAdvancedOptions();
    // Asks for a file and writes the list to it as CSV.
    void OnExportList();
    // Writes the list as CSV to path; a box tells when that fails.
    bool ExportListTo(const QString& path);
    // The About entry and Close; any other command is ignored.
    void OnSysCommand(unsigned commandId);
    // 0 when a scan-reply notice found no reply waiting, 1 otherwise. A
    // scan-reply notice takes every reply waiting (see TakeReplies).
    int OnLibraryNotify(int code);
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
    void ApplyMinimumWindowSize();

    // Declared first so that it is destroyed last; the destructor stops the
    // server explicitly before anything else goes.
    DhcpServerControl m_DhcpServer;
    CDeviceListCtrl* m_pDeviceList = nullptr; // owned by the dialog as control IDC_DEVICE_LIST
    QIcon m_hIcon;
    const QortApi& m_api;
    std::string m_libraryFile;
    CControlLayout m_layout;
    QString m_aboutText;             // empty: no About entry
    QLabel* m_pStatusLine = nullptr; // owned by the dialog; hidden while nothing was lost
    QTimer m_lostReplyCheck;         // looks at the count once the scan's replies have come
};
