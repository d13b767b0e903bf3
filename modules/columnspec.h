#ifndef MODULES_COLUMNSPEC_H
#define MODULES_COLUMNSPEC_H

#include <string>
#include <string_view>
#include <vector>

namespace modules {

// The main window's columns: heading and width in pixels, pairs joined by ","
// and separated by ";".
inline constexpr std::string_view kDeviceListColumnSpec = "IP,90;SN,90;GW,90;DHCP,50;Version,50;Type,114;MAC,115";

// The widths above were chosen for a dialog font whose average character is
// this many pixels wide (8-point "MS Sans Serif" at 96 dots per inch, the
// font the dialog templates name).
inline constexpr int kColumnSpecFontBaseUnitX = 6;

struct ColumnSpec {
    std::string heading;
    int width = 0;

    bool operator==(const ColumnSpec&) const = default;
};

// Splits a column spec into its pairs, in order. Parsing stops at the first
// heading without a "," after it (so a text without any "," gives no column);
// the last width may run to the end of the text without ";". A width is read
// like atoi: no digits give 0, a sign is honoured, overlong numbers saturate.
std::vector<ColumnSpec> parseColumnSpec(std::string_view spec);

// A spec width scaled to a font whose average character is fontBaseUnitX
// pixels wide (the factor that also turns dialog units into pixels), rounded
// to the nearest pixel; a negative width stays as it is.
int scaleColumnWidth(int width, int fontBaseUnitX);

} // namespace modules

#endif
