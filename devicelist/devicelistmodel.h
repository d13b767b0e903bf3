#ifndef DEVICELIST_DEVICELISTMODEL_H
#define DEVICELIST_DEVICELISTMODEL_H

#include <QAbstractTableModel>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "modules/devicetable.h"

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

    // What to tell about a module's row (warnings, a write not verified): a
    // warning icon in its first column and the text as its tooltip. Replaces
    // every earlier note; ClearModules drops them with the rows.
    void SetNotes(std::map<modules::MacAddress, std::string> notes);
    std::string NoteOfRow(int row) const;

private:
    // Runs a reordering of the table between the layout-change signals and
    // moves the views' persistent indexes (selection, current row) along.
    void Reorder(const std::function<std::vector<std::size_t>()>& reorder);

    modules::DeviceTable table_;
    std::map<modules::MacAddress, std::string> notes_;
};

} // namespace devicelist

#endif
