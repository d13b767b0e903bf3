#ifndef MODULES_DEVICETABLE_H
#define MODULES_DEVICETABLE_H

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "modules/columnspec.h"
#include "modules/devicerowdata.h"
#include "modules/macaddress.h"
#include "modules/modulestore.h"
#include "modules/rowcomparison.h"
#include "protocol/qort.h"

namespace modules {

// The device list without its widget: columns, the module store, one row per
// module with a MAC, the sort order and the last configured MAC. The widget
// (CDeviceListCtrl) shows exactly these rows in exactly this order.
//
// Row indexes are positions in the current sorted order. Every operation
// that reorders rows returns, for each former row index, the row's new
// index, so that a view can carry its selection along.
class DeviceTable {
public:
    enum class AddOutcome {
        kDuplicate,        // a record with these MacId bytes is already stored: nothing changed
        kStoredWithoutRow, // stored, but the reply carried no MAC, so no row
        kRowAdded,         // stored and appended as the last row (before any re-sort)
    };

    // Appends columns at the next indexes. Rows added afterwards carry a text
    // for every column.
    void AddColumns(const std::vector<ColumnSpec>& columns);
    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    const std::vector<ColumnSpec>& Columns() const { return columns_; }

    // True when Accept would append a row (a new MAC, and the reply has one).
    bool WouldAddRow(const QORT_ModuleScanResponseType& record) const;
    bool IsDuplicate(const QORT_ModuleScanResponseType& record) const;

    // Stores a new reply and appends its row at the end, without sorting.
    AddOutcome Accept(const QORT_ModuleScanResponseType& record);

    // Accept, then sort the new row in (SortInAppendedRows).
    AddOutcome AddModule(const QORT_ModuleScanResponseType& record);

    // The replies of batch that Accept would store, in order: the first
    // reply of each MAC that is not stored yet. A view that adds a burst of
    // replies at once learns from it how many rows will be appended.
    std::vector<QORT_ModuleScanResponseType> NewReplies(const std::vector<QORT_ModuleScanResponseType>& batch) const;

    // Sorts the rows by the current order; see BoundedMergeSort for why this
    // never trusts the comparison to be consistent.
    std::vector<std::size_t> Resort();
    // Resort for a table whose rows before firstAppended are in order and
    // whose later rows were just appended: sorts only the appended rows and
    // merges them in, n + k log k comparisons instead of n log n. For a
    // consistent order the result is Resort's; like it, it stays in bounds
    // and keeps every row whatever the comparison says.
    std::vector<std::size_t> SortInAppendedRows(std::size_t firstAppended);
    std::vector<std::size_t> SortByColumn(SortOrder order);
    SortOrder GetSortOrder() const { return order_; }

    // Empties rows and store; columns, sort order and last configured MAC stay.
    void Clear();

    std::size_t RowCount() const { return rows_.size(); }
    const DeviceRowData& Row(std::size_t row) const { return rows_.at(row); }
    // Empty for a row or column that does not exist.
    std::string_view RowText(std::size_t row, int column) const;

    // The MAC shown in the row's MAC column, read back from its text. No value
    // for a row that does not exist or whose MAC column is missing.
    std::optional<MacAddress> GetRowMac(std::size_t row) const;

    std::optional<QORT_ModuleScanResponseType> FindModule(const MacAddress& mac) const
    {
        return store_.FindModule(mac);
    }
    const ModuleStore& Store() const { return store_; }

    // No value until the first configure request was sent.
    std::optional<MacAddress> GetLastConfiguredMac() const { return lastConfiguredMac_; }
    void SetLastConfiguredMac(const MacAddress& mac) { lastConfiguredMac_ = mac; }

private:
    DeviceRowData MakeRow(const QORT_ModuleScanResponseType& record) const;
    int CompareRowsAt(std::size_t first, std::size_t second) const;
    // Puts the rows in the order oldRowAt names (a permutation of the row
    // numbers); returns each former row's new index.
    std::vector<std::size_t> ApplyOrder(const std::vector<std::size_t>& oldRowAt);

    std::vector<ColumnSpec> columns_;
    ModuleStore store_;
    std::vector<DeviceRowData> rows_;
    SortOrder order_;
    std::optional<MacAddress> lastConfiguredMac_;
};

} // namespace modules

#endif
