#ifndef DEVICELIST_COLUMNSPEC_H
#define DEVICELIST_COLUMNSPEC_H

#include <string>
#include <string_view>
#include <vector>

namespace devicelist {

// The main window's columns: heading and width in pixels, pairs joined by ","
// and separated by ";".
inline constexpr std::string_view kDeviceListColumnSpec = "IP,90;SN,90;GW,90;DHCP,50;Version,50;Type,114;MAC,115";

struct ColumnSpec {
    std::string heading;
    int width = 0;

    bool operator==(const ColumnSpec&) const = default;
};

// Splits a column spec into its pairs, in order. Parsing stops at the first
// heading without a "," after it (so a text without any "," gives no column);
// the last width may run to the end of the text without ";". A width is read
// like atoi: no digits give 0, a sign is honoured, overlong numbers saturate.
std::vector<ColumnSpec> ParseColumnSpec(std::string_view spec);

} // namespace devicelist

#endif
