#include "modules/csvwriter.h"

namespace modules {
namespace {

constexpr char kSeparator = ',';
constexpr char kQuote = '"';
constexpr std::string_view kRecordEnd = "\r\n";
constexpr std::string_view kNeedsQuoting = ",\"\r\n";
// The first bytes that make a spreadsheet read a cell as a formula (the
// common list: a leading '-' or '+' may also start a plain number, but a
// spreadsheet may evaluate "-1+cmd|..." all the same).
constexpr std::string_view kFormulaStarts = "=+-@\t\r";
constexpr char kTextMarker = '\'';

// A formula, also behind markers: a text that itself starts with "'=" is
// marked too, so that reading back takes off exactly what was added.
bool NeedsMarker(std::string_view text)
{
    const std::size_t start = text.find_first_not_of(kTextMarker);
    return start != std::string_view::npos && kFormulaStarts.find(text[start]) != std::string_view::npos;
}

std::string Neutralised(std::string_view text)
{
    std::string cell;
    if (NeedsMarker(text))
        cell += kTextMarker;
    cell += text;
    return cell;
}

} // namespace

std::string csvField(std::string_view field)
{
    std::string text = Neutralised(field);
    if (text.find_first_of(kNeedsQuoting) == std::string::npos) {
        return text;
    }
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += kQuote;
    for (char c : text) {
        if (c == kQuote) {
            quoted += kQuote;
        }
        quoted += c;
    }
    quoted += kQuote;
    return quoted;
}

std::string csvRecord(const std::vector<std::string>& fields)
{
    std::string record;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            record += kSeparator;
        }
        record += csvField(fields[i]);
    }
    record += kRecordEnd;
    return record;
}

std::string csvCellValue(std::string_view cell)
{
    if (!cell.empty() && cell.front() == kTextMarker && NeedsMarker(cell))
        cell.remove_prefix(1);
    return std::string(cell);
}

} // namespace modules
