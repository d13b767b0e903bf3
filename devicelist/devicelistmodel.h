#ifndef DEVICELIST_DEVICELISTMODEL_H
#define DEVICELIST_DEVICELISTMODEL_H

#include <QAbstractTableModel>
#include <QIcon>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "commissioning/scanwarnings.h"
#include "modules/devicetable.h"

#include <optional>

namespace devicelist {

// Presents a DeviceTable to Qt's item views and tells them about every
// change, so that a view keeps its selection on the same module while rows
// are added and re-sorted. All table changes go through this model.
class DeviceListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit DeviceListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Appends the columns of spec; returns them so the view can size them.
    std::vector<modules::ColumnSpec> InitColumns(std::string_view spec);
    // Stores the new replies of batch (see DeviceTable::NewReplies), appends
    // their rows in one insertion and re-sorts once. Returns how many
    // replies were stored.
    std::size_t AddModules(const std::vector<QORT_ModuleScanResponseType>& batch);
    void ClearModules();
    void SortByColumn(modules::SortOrder order);
    void Resort();

    const modules::DeviceTable& Table() const { return table_; }
    void SetLastConfiguredMac(const modules::MacAddress& mac) { table_.SetLastConfiguredMac(mac); }

    using Notes = std::map<modules::MacAddress, std::vector<commissioning::ScanNote>>;
    // What to tell about a module's row (warnings, a write that did not
    // take): the mark of its most serious note in its first column (an
    // information, warning or error icon) and the notes as its tooltip,
    // followed by the host name. Replaces every earlier note; ClearModules
    // drops them with the rows.
    void SetNotes(Notes notes);
    // The row's notes, one per line (UTF-8); empty when it has none.
    std::string NoteOfRow(int row) const;
    std::optional<commissioning::NoteKind> NoteKindOfRow(int row) const;
    // The mark a kind of note shows.
    static QIcon MarkOf(commissioning::NoteKind kind);
    // The text a cell shows for bytes a module sent (modules::moduleTextToUtf8).
    static QString ShownText(std::string_view bytes);

    // Nothing for a row without notes.
    const std::vector<commissioning::ScanNote>* NotesOfRow(int row) const;

private:
    QString ToolTipOfRow(int row) const;
    // Runs a reordering of the table between the layout-change signals and
    // moves the views' persistent indexes (selection, current row) along.
    void Reorder(const std::function<std::vector<std::size_t>()>& reorder);

    modules::DeviceTable table_;
    Notes notes_;
};

} // namespace devicelist

#endif
