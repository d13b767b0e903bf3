#ifndef DEVICELIST_MODULESTORE_H
#define DEVICELIST_MODULESTORE_H

#include <cstddef>
#include <optional>
#include <vector>

#include "modules/macaddress.h"
#include "protocol/qort.h"

namespace devicelist {

// Full copies of the accepted scan replies in order of arrival, oldest first.
// Not kept in the rows' order: the rows are sorted, the store is not.
class ModuleStore {
public:
    // Compares the six MacId bytes only, whatever the MacIdValid bytes say.
    bool Contains(const MacAddress& mac) const;

    void Append(const QORT_ModuleScanResponseType& record);

    // A copy of the oldest record with these MacId bytes. A copy, because the
    // store may be emptied while the caller still works with the record (a
    // rescan during a modal dialog).
    std::optional<QORT_ModuleScanResponseType> FindModule(const MacAddress& mac) const;

    void Clear();
    std::size_t Size() const { return records_.size(); }
    const QORT_ModuleScanResponseType& At(std::size_t index) const { return records_.at(index); }

private:
    std::vector<QORT_ModuleScanResponseType> records_;
};

} // namespace devicelist

#endif
