#include "devicelist/devicelistmodel.h"

#include "modules/columntexts.h"
#include "modules/moduletext.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>
#include <cstring>

namespace devicelist {

DeviceListModel::DeviceListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int DeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(table_.RowCount());
}

int DeviceListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : table_.ColumnCount();
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) {
        return {};
    }
    if (role == Qt::DecorationRole && index.column() == 0) {
        const std::optional<commissioning::NoteKind> kind = NoteKindOfRow(index.row());
        return kind ? QVariant(MarkOf(*kind)) : QVariant();
    }
    if (role == Qt::ToolTipRole)
        return ToolTipOfRow(index.row());
    if (role != Qt::DisplayRole) {
        return {};
    }
    return ShownText(table_.RowText(static_cast<std::size_t>(index.row()), index.column()));
}

QString DeviceListModel::ShownText(std::string_view bytes)
{
    const std::string text = modules::moduleTextToUtf8(bytes);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The notes, then the host name, which the list has no column for.
QString DeviceListModel::ToolTipOfRow(int row) const
{
    const std::optional<modules::MacAddress> mac =
        row < 0 ? std::nullopt : table_.GetRowMac(static_cast<std::size_t>(row));
    const std::optional<QORT_ModuleScanResponseType> module = mac ? table_.FindModule(*mac) : std::nullopt;
    if (!module)
        return {};
    QString tip = QString::fromStdString(NoteOfRow(row));
    if (!tip.isEmpty())
        tip += QLatin1Char('\n');
    const QString name = module->HostNameValid == 1
        ? ShownText({module->HostName, ::strnlen(module->HostName, QORT_TEXT_FIELD_SIZE)})
        : QString::fromLatin1(modules::kNotAvailableText);
    return tip + QStringLiteral("Host name: ") + name;
}

QIcon DeviceListModel::MarkOf(commissioning::NoteKind kind)
{
    switch (kind) {
    case commissioning::NoteKind::Information:
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
    case commissioning::NoteKind::Warning:
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    case commissioning::NoteKind::Failure:
        break;
    }
    return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= table_.ColumnCount()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(table_.Columns()[static_cast<std::size_t>(section)].heading);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

std::vector<modules::ColumnSpec> DeviceListModel::InitColumns(std::string_view spec)
{
    std::vector<modules::ColumnSpec> columns = modules::parseColumnSpec(spec);
    if (columns.empty()) {
        return columns;
    }
    const int first = table_.ColumnCount();
    beginInsertColumns(QModelIndex(), first, first + static_cast<int>(columns.size()) - 1);
    table_.AddColumns(columns);
    endInsertColumns();
    return columns;
}

std::size_t DeviceListModel::AddModules(const std::vector<QORT_ModuleScanResponseType>& batch)
{
    const std::vector<QORT_ModuleScanResponseType> fresh = table_.NewReplies(batch);
    if (fresh.empty()) {
        return 0;
    }
    const auto newRows = static_cast<int>(std::count_if(
        fresh.begin(), fresh.end(), [](const QORT_ModuleScanResponseType& record) { return record.MacIdValid != 0; }));
    // One insertion and one sort per batch: a view told of every row on its
    // own, and a sort of the whole list after each, cost a flood of replies
    // far more than the replies themselves. The rows listed before are in
    // order already, so only the new ones are sorted and merged in.
    const int first = static_cast<int>(table_.RowCount());
    if (newRows > 0) {
        beginInsertRows(QModelIndex(), first, first + newRows - 1);
    }
    for (const QORT_ModuleScanResponseType& record : fresh) {
        table_.Accept(record);
    }
    if (newRows > 0) {
        endInsertRows();
        const auto firstAppended = static_cast<std::size_t>(first);
        Reorder([this, firstAppended] { return table_.SortInAppendedRows(firstAppended); });
    }
    return fresh.size();
}

void DeviceListModel::SetNotes(Notes notes)
{
    if (notes == notes_)
        return;
    notes_ = std::move(notes);
    if (table_.RowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DecorationRole, Qt::ToolTipRole});
}

const std::vector<commissioning::ScanNote>* DeviceListModel::NotesOfRow(int row) const
{
    const std::optional<modules::MacAddress> mac =
        row < 0 ? std::nullopt : table_.GetRowMac(static_cast<std::size_t>(row));
    const auto notes = mac ? notes_.find(*mac) : notes_.end();
    return notes == notes_.end() || notes->second.empty() ? nullptr : &notes->second;
}

std::string DeviceListModel::NoteOfRow(int row) const
{
    std::string text;
    if (const auto* notes = NotesOfRow(row)) {
        for (const commissioning::ScanNote& note : *notes)
            text += (text.empty() ? "" : "\n") + note.text;
    }
    return text;
}

std::optional<commissioning::NoteKind> DeviceListModel::NoteKindOfRow(int row) const
{
    const auto* notes = NotesOfRow(row);
    if (notes == nullptr)
        return std::nullopt;
    return std::max_element(notes->begin(), notes->end(), [](const auto& a, const auto& b) {
        return a.kind < b.kind;
    })->kind;
}

void DeviceListModel::ClearModules()
{
    notes_.clear();
    // Row removal rather than a model reset: a reset would make the header
    // forget its column widths.
    if (table_.RowCount() == 0) {
        table_.Clear();
        return;
    }
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(table_.RowCount()) - 1);
    table_.Clear();
    endRemoveRows();
}

void DeviceListModel::SortByColumn(modules::SortOrder order)
{
    Reorder([this, order] { return table_.SortByColumn(order); });
}

void DeviceListModel::Resort()
{
    Reorder([this] { return table_.Resort(); });
}

void DeviceListModel::Reorder(const std::function<std::vector<std::size_t>()>& reorder)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    const std::vector<std::size_t> newRowOf = reorder();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const auto oldRow = static_cast<std::size_t>(index.row());
        after.push_back(
            oldRow < newRowOf.size() ? this->index(static_cast<int>(newRowOf[oldRow]), index.column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace devicelist
