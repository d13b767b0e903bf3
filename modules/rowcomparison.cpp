#include "modules/rowcomparison.h"

#include <algorithm>

#include "modules/dottedaddress.h"

namespace modules {
namespace {

constexpr unsigned char FoldCase(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

constexpr bool IsLowerCase(unsigned char c)
{
    return c >= 'a' && c <= 'z';
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

std::string_view TextAt(const DeviceRowData& row, int column)
{
    if (column < 0 || static_cast<std::size_t>(column) >= row.ColumnTexts.size()) {
        return {};
    }
    return row.ColumnTexts[static_cast<std::size_t>(column)];
}

int CompareAscending(std::string_view t1, std::string_view t2)
{
    const bool firstIsAddress = isDottedAddress(t1);
    const bool secondIsAddress = isDottedAddress(t2);
    if (firstIsAddress && secondIsAddress) {
        return compareDottedAddresses(t1, t2);
    }
    if (firstIsAddress != secondIsAddress) {
        return firstIsAddress ? -1 : 1;
    }
    return compareTexts(t1, t2);
}

} // namespace

SortOrder sortOrderAfterClick(SortOrder current, int clickedColumn)
{
    if (clickedColumn != current.column) {
        return SortOrder{clickedColumn, true};
    }
    return SortOrder{clickedColumn, !current.ascending};
}

int compareTexts(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char ca = FoldCase(static_cast<unsigned char>(a[i]));
        const unsigned char cb = FoldCase(static_cast<unsigned char>(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            return IsLowerCase(static_cast<unsigned char>(a[i])) ? -1 : 1;
        }
    }
    return 0;
}

int compareRows(const DeviceRowData& first, const DeviceRowData& second, SortOrder order)
{
    const std::string_view t1 = TextAt(first, order.column);
    const std::string_view t2 = TextAt(second, order.column);
    return Sign(order.ascending ? CompareAscending(t1, t2) : CompareAscending(t2, t1));
}

} // namespace modules
