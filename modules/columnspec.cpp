#include "modules/columnspec.h"

#include "modules/leadingnumber.h"

#include <limits>

namespace modules {
namespace {

constexpr char kHeadingWidthSeparator = ',';
constexpr char kPairSeparator = ';';

} // namespace

std::vector<ColumnSpec> parseColumnSpec(std::string_view spec)
{
    std::vector<ColumnSpec> columns;
    std::size_t pos = 0;
    while (pos <= spec.size()) {
        const std::size_t comma = spec.find(kHeadingWidthSeparator, pos);
        if (comma == std::string_view::npos) {
            break;
        }
        ColumnSpec column;
        column.heading = std::string(spec.substr(pos, comma - pos));
        pos = comma + 1;
        std::size_t widthEnd = spec.find(kPairSeparator, pos);
        if (widthEnd == std::string_view::npos) {
            widthEnd = spec.size();
        }
        column.width = leadingNumber(spec.substr(pos, widthEnd - pos));
        pos = widthEnd + 1;
        columns.push_back(std::move(column));
    }
    return columns;
}

int scaleColumnWidth(int width, int fontBaseUnitX)
{
    if (width < 0 || fontBaseUnitX <= 0)
        return width;
    const long long scaled =
        (static_cast<long long>(width) * fontBaseUnitX + kColumnSpecFontBaseUnitX / 2) / kColumnSpecFontBaseUnitX;
    return scaled > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(scaled);
}

} // namespace modules
