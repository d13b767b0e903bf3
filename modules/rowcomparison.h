#ifndef MODULES_ROWCOMPARISON_H
#define MODULES_ROWCOMPARISON_H

#include <string_view>

#include "modules/devicerowdata.h"

namespace modules {

struct SortOrder {
    int column = 0; // the IP column until the user picks another
    bool ascending = true;

    bool operator==(const SortOrder&) const = default;
};

// A click on a heading: a new column starts ascending, the same column again
// reverses the direction.
SortOrder sortOrderAfterClick(SortOrder current, int clickedColumn);

// Case-sensitive text order as a user would expect it from a list: letters
// compare alphabetically first (a before B), and only texts that differ in
// nothing but case put the lower-case letter first ("a" before "A"); other
// bytes compare by value. A consistent total order, identical to byte order
// for digits, dots, dashes and upper-case hexadecimal.
int compareTexts(std::string_view a, std::string_view b);

// The row order for the list sort: negative when first goes first, positive
// when second goes first, 0 when they are equal.
// When the first row's text is a dotted address, both texts are compared as
// addresses (CompareDottedAddresses); otherwise as texts (CompareTexts);
// descending swaps the two texts. A dotted address against a text that is
// not one (usually "N/A") is not left to the address reader: in ascending
// order every address goes before every non-address, in descending order
// after it, whichever row holds which.
// Note that CompareDottedAddresses is not a consistent order for two texts
// that both hold numbers above 255; the sort that uses this function must
// cope with that.
// A column the row has no text for compares as an empty text.
int compareRows(const DeviceRowData& first, const DeviceRowData& second, SortOrder order);

} // namespace modules

#endif
