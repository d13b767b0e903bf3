#include "modules/devicetable.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "modules/boundedsort.h"
#include "modules/columntexts.h"

namespace modules {

void DeviceTable::AddColumns(const std::vector<ColumnSpec>& columns)
{
    columns_.insert(columns_.end(), columns.begin(), columns.end());
}

bool DeviceTable::IsDuplicate(const QORT_ModuleScanResponseType& record) const
{
    return store_.Contains(macOfRecord(record));
}

bool DeviceTable::WouldAddRow(const QORT_ModuleScanResponseType& record) const
{
    return record.MacIdValid != 0 && !IsDuplicate(record);
}

DeviceTable::AddOutcome DeviceTable::Accept(const QORT_ModuleScanResponseType& record)
{
    if (IsDuplicate(record)) {
        return AddOutcome::kDuplicate;
    }
    store_.Append(record);
    if (record.MacIdValid == 0) {
        return AddOutcome::kStoredWithoutRow;
    }
    rows_.push_back(MakeRow(record));
    return AddOutcome::kRowAdded;
}

DeviceTable::AddOutcome DeviceTable::AddModule(const QORT_ModuleScanResponseType& record)
{
    const std::size_t rowsBefore = rows_.size();
    const AddOutcome outcome = Accept(record);
    if (outcome == AddOutcome::kRowAdded) {
        SortInAppendedRows(rowsBefore);
    }
    return outcome;
}

std::vector<QORT_ModuleScanResponseType> DeviceTable::NewReplies(
    const std::vector<QORT_ModuleScanResponseType>& batch) const
{
    std::vector<QORT_ModuleScanResponseType> fresh;
    std::unordered_set<MacAddress, MacAddressHash> batchMacs;
    for (const QORT_ModuleScanResponseType& record : batch) {
        const MacAddress mac = macOfRecord(record);
        if (!store_.Contains(mac) && batchMacs.insert(mac).second) {
            fresh.push_back(record);
        }
    }
    return fresh;
}

DeviceRowData DeviceTable::MakeRow(const QORT_ModuleScanResponseType& record) const
{
    const DeviceColumnTexts texts = formatColumnTexts(record);
    DeviceRowData row;
    row.ColumnTexts.resize(columns_.size());
    for (std::size_t column = 0; column < row.ColumnTexts.size() && column < texts.size(); ++column) {
        row.ColumnTexts[column] = texts[column];
    }
    return row;
}

int DeviceTable::CompareRowsAt(std::size_t first, std::size_t second) const
{
    return compareRows(rows_[first], rows_[second], order_);
}

std::vector<std::size_t> DeviceTable::Resort()
{
    // Sort row numbers rather than rows: the result tells where each row went.
    std::vector<std::size_t> oldRowAt(rows_.size());
    std::iota(oldRowAt.begin(), oldRowAt.end(), std::size_t{0});
    boundedMergeSort(oldRowAt, [this](std::size_t first, std::size_t second) { return CompareRowsAt(first, second); });
    return ApplyOrder(oldRowAt);
}

std::vector<std::size_t> DeviceTable::SortInAppendedRows(std::size_t firstAppended)
{
    const std::size_t count = rows_.size();
    firstAppended = std::min(firstAppended, count);
    std::vector<std::size_t> appended(count - firstAppended);
    std::iota(appended.begin(), appended.end(), firstAppended);
    boundedMergeSort(appended, [this](std::size_t first, std::size_t second) { return CompareRowsAt(first, second); });

    std::vector<std::size_t> oldRowAt;
    oldRowAt.reserve(count);
    std::size_t kept = 0;
    auto next = appended.begin();
    while (kept < firstAppended && next != appended.end()) {
        // An appended row goes first only when strictly smaller, as in a
        // stable sort of the whole table.
        if (CompareRowsAt(*next, kept) < 0) {
            oldRowAt.push_back(*next++);
        } else {
            oldRowAt.push_back(kept++);
        }
    }
    for (; kept < firstAppended; ++kept) {
        oldRowAt.push_back(kept);
    }
    oldRowAt.insert(oldRowAt.end(), next, appended.end());
    return ApplyOrder(oldRowAt);
}

std::vector<std::size_t> DeviceTable::ApplyOrder(const std::vector<std::size_t>& oldRowAt)
{
    std::vector<DeviceRowData> sorted;
    sorted.reserve(rows_.size());
    std::vector<std::size_t> newRowOf(rows_.size());
    for (std::size_t newRow = 0; newRow < oldRowAt.size(); ++newRow) {
        sorted.push_back(std::move(rows_[oldRowAt[newRow]]));
        newRowOf[oldRowAt[newRow]] = newRow;
    }
    rows_.swap(sorted);
    return newRowOf;
}

std::vector<std::size_t> DeviceTable::SortByColumn(SortOrder order)
{
    order_ = order;
    return Resort();
}

void DeviceTable::Clear()
{
    rows_.clear();
    store_.Clear();
}

std::string_view DeviceTable::RowText(std::size_t row, int column) const
{
    if (row >= rows_.size() || column < 0) {
        return {};
    }
    const std::vector<std::string>& texts = rows_[row].ColumnTexts;
    const auto index = static_cast<std::size_t>(column);
    return index < texts.size() ? std::string_view(texts[index]) : std::string_view();
}

std::optional<MacAddress> DeviceTable::GetRowMac(std::size_t row) const
{
    if (row >= rows_.size() || static_cast<std::size_t>(kColumnMac) >= rows_[row].ColumnTexts.size()) {
        return std::nullopt;
    }
    return parseRowMac(RowText(row, kColumnMac));
}

} // namespace modules
