#ifndef MODULES_DEVICEROWDATA_H
#define MODULES_DEVICEROWDATA_H

#include <string>
#include <vector>

namespace modules {

// What the sort comparison knows about one row: an owned copy of the text of
// each of the list's columns (index 0 = IP ... 6 = MAC), one per column the
// list has. A list with more than seven columns has empty texts in the extra
// ones; a list with fewer holds fewer texts.
struct DeviceRowData {
    std::vector<std::string> ColumnTexts;
};

} // namespace modules

#endif
