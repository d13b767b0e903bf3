#ifndef DEVICELIST_DEVICELISTCTRL_H
#define DEVICELIST_DEVICELISTCTRL_H

#include <QString>
#include <QTimer>
#include <QTreeView>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commissioning/adaptersubnets.h"
#include "devicelist/devicelistmodel.h"
#include "modules/columnspec.h"
#include "modules/macaddress.h"
#include "protocol/qort.h"

class CSortArrowHeaderCtrl;
class QMenu;

// The main window's list of modules: a report-style list, one row per module
// that answered a scan and reported a MAC, single selection of whole rows,
// always sorted by one column. Clicking a heading sorts by that column
// (again: reverses the direction). It keeps a copy of every accepted scan
// reply (the module store) for the configure flow and the wink command.
//
// All operations run on the GUI thread. The rows' order is decided by our
// own bounded sort (see BoundedMergeSort), never by Qt's item sort, because
// the row comparison is not a consistent order for every possible text.
class CDeviceListCtrl : public QTreeView {
    Q_OBJECT

public:
    explicit CDeviceListCtrl(QWidget* parent = nullptr);
    ~CDeviceListCtrl() override;

    // Appends one column per "heading,width" pair of spec, each width scaled
    // from the font the column spec string's widths were chosen for to one
    // whose average character is fontBaseUnitX
    // pixels wide (see ScaleColumnWidth). Always true: a Qt model does not
    // refuse columns.
    bool InitColumns(std::string_view spec, int fontBaseUnitX = modules::kColumnSpecFontBaseUnitX);

    // Stores a new scan reply and, when it carries a MAC, adds its row at its
    // sorted place. A reply whose MacId bytes are already stored is ignored,
    // even if its other values changed, until the next ClearModules.
    void AddModule(const QORT_ModuleScanResponseType& record);
    // AddModule for each reply of a burst, with one insertion of rows and
    // one sort for the whole batch.
    void AddModules(const std::vector<QORT_ModuleScanResponseType>& batch);

    // Empties rows and store; columns, sort order and arrow stay.
    void ClearModules();

    // The MAC text of the row read back as six bytes; no value for a row that
    // does not exist.
    std::optional<modules::MacAddress> GetRowMac(int row) const;
    std::optional<QORT_ModuleScanResponseType> FindModule(const modules::MacAddress& mac) const;
    // Every stored scan reply that carries a MAC (one per row), oldest first.
    std::vector<QORT_ModuleScanResponseType> Modules() const;

    // The subnets of this computer's adapters, against which the rows'
    // notes (commissioning::scanNotes) are judged.
    void SetAdapterSubnets(std::vector<commissioning::AdapterSubnet> subnets);
    const std::vector<commissioning::AdapterSubnet>& AdapterSubnets() const;
    // A write to the module did not take: its row shows these failure notes
    // (commissioning::notVerifiedNotes, unansweredNote), also after later
    // scans, until ClearFailure after a write of the module that was
    // verified.
    void MarkFailure(const modules::MacAddress& mac, std::vector<commissioning::ScanNote> notes);
    void ClearFailure(const modules::MacAddress& mac);
    // The row's notes in words, one per line; empty for a row with nothing to
    // tell. The scan's notes follow the rows once the event loop has run (a
    // burst of replies is judged once).
    QString RowNote(int row) const;
    // The kind of the row's most serious note, which its mark shows.
    std::optional<commissioning::NoteKind> RowNoteKind(int row) const;
    // How many listed modules have notes of each kind (index: NoteKind).
    std::array<int, 3> NoteCounts() const;

    // Shows only the rows whose IP, MAC, type or host name holds text (any
    // part, any case); an empty text shows every row. Kept while rows come
    // and go and the list is sorted.
    void SetFilter(const QString& text);
    QString Filter() const { return m_filter; }
    int VisibleRowCount() const;

    // Runs what a double-click on the row runs (the configure flow).
    void ConfigureRow(int row);

    // No value until a configure request has been sent.
    std::optional<modules::MacAddress> GetLastConfiguredMac() const;
    void SetLastConfiguredMac(const modules::MacAddress& mac);

    void SortByColumn(int column, bool ascending);
    void Resort();
    modules::SortOrder GetSortOrder() const;

    int GetItemCount() const;
    QString GetItemText(int row, int column) const;
    // -1 when no row is selected.
    int GetFirstSelectedRow() const;
    // The row at the given height in viewport coordinates, whatever column the
    // point is over; -1 below the last row.
    int RowAtY(int y) const;

    CSortArrowHeaderCtrl* GetHeaderCtrl() const { return m_header; }

    // A scan has just been sent: an empty list says "Scanning..." until
    // kScanningTextMs have passed, then that no module has answered.
    void BeginScan();
    // The grey text in the middle of an empty list; empty while rows exist.
    QString PlaceholderText() const;

    // The selected row's texts joined by tabs; empty without a selection.
    QString SelectedRowText() const;
    // Puts SelectedRowText on the clipboard (also Ctrl+C); nothing without a
    // selection.
    void CopySelectedRow();
    // Every module in the order shown, in the scan's CSV dialect
    // (commissioning::scanCsv, as `sorvinda scan --format csv` writes it),
    // so that the file, edited, is a plan. Rows hidden by the filter are
    // written too.
    std::string ExportCsv() const;

    // The list's entries of a context menu: "Copy" (enabled with a
    // selection) and "Export list..." (enabled with rows), which emits
    // ExportListRequested; the owner asks for the file.
    void AddContextActions(QMenu& menu);

    static constexpr int kScanningTextMs = 2000;

signals:
    // Rows came or went, or their notes changed.
    void NotesChanged();
    // A double-click on a row (anywhere across its width); the configure flow
    // starts from here.
    void RowDoubleClicked(int row);
    void ExportListRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // The hook for a double-clicked row; by default emits RowDoubleClicked.
    virtual void OnRowDoubleClicked(int row);

private:
    void OnColumnClick(int column);
    void UpdateNotes();
    // The first column grows by the mark's width while a row shows a mark,
    // so that a mark never shortens the IP.
    void FitFirstColumnToMarks();
    int WidestMarkedIpWidth() const;
    void ApplyFilter();
    bool RowMatchesFilter(int row) const;

    // Nothing until the owner has read them: no row is judged against none.
    std::optional<std::vector<commissioning::AdapterSubnet>> m_subnets;
    std::map<modules::MacAddress, std::vector<commissioning::ScanNote>> m_failures;
    int m_markWidthAdded = 0;
    QString m_filter;
    QTimer m_notesTimer; // zero-time: the notes are judged once per burst of replies
    devicelist::DeviceListModel* m_model;
    CSortArrowHeaderCtrl* m_header;
    QTimer m_scanningTimer; // runs while the "Scanning..." text applies
};

#endif
