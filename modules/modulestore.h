#ifndef MODULES_MODULESTORE_H
#define MODULES_MODULESTORE_H

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <vector>

#include "modules/macaddress.h"
#include "protocol/qort.h"

namespace modules {

// Hashes a MAC's six bytes, for sets and maps keyed by MAC.
struct MacAddressHash {
    std::size_t operator()(const MacAddress& mac) const;
};

// Full copies of the accepted scan replies in order of arrival, oldest first,
// looked up by their MacId bytes in constant time: a flood of replies from
// thousands of modules must not cost a search of the whole store per reply.
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
    // Position in records_ of the oldest record with each MAC.
    std::unordered_map<MacAddress, std::size_t, MacAddressHash> oldestIndex_;
};

} // namespace modules

#endif
