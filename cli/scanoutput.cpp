#include "cli/scanoutput.h"
#include "commissioning/scancsv.h"
#include "commissioning/scanview.h"

#include "modules/boundedsort.h"
#include "modules/columnspec.h"
#include "modules/columntexts.h"
#include "modules/csvwriter.h"
#include "modules/macaddress.h"
#include "platform/textescape.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace cli {
namespace {

constexpr const char* kHostNameHeading = "Host name";
constexpr const char* kNotesHeading = "Notes";
constexpr const char* kTableNoteSeparator = "; ";
constexpr std::size_t kColumnGap = 2;
constexpr int kJsonIndent = 2;

// A record's text field: up to its NUL, never past its end (the library
// leaves absent fields unterminated).
std::string RecordText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return std::string(field, ::strnlen(field, QORT_TEXT_FIELD_SIZE));
}

std::string HostNameText(const QORT_ModuleScanResponseType& record)
{
    return record.HostNameValid != 0 ? RecordText(record.HostName) : modules::kNotAvailableText;
}

commissioning::WarningCodes CodesOf(const QORT_ModuleScanResponseType& record, const ScanWarnings& warnings)
{
    const auto codes = warnings.find(modules::macOfRecord(record));
    return codes == warnings.end() ? commissioning::WarningCodes{} : codes->second;
}

std::string NotesText(const QORT_ModuleScanResponseType& record, const ScanNotes& notes)
{
    const auto said = notes.find(modules::macOfRecord(record));
    std::string text;
    if (said == notes.end())
        return text;
    for (const commissioning::ScanNote& note : said->second)
        text += (text.empty() ? "" : kTableNoteSeparator) + note.text;
    return text;
}

modules::DeviceRowData RowOf(const QORT_ModuleScanResponseType& record)
{
    const modules::DeviceColumnTexts texts = modules::formatColumnTexts(record);
    modules::DeviceRowData row;
    row.ColumnTexts.assign(texts.begin(), texts.end());
    row.ColumnTexts.push_back(HostNameText(record));
    return row;
}

std::vector<std::string> Headings()
{
    std::vector<std::string> headings;
    for (const modules::ColumnSpec& column : modules::parseColumnSpec(modules::kDeviceListColumnSpec))
        headings.push_back(column.heading);
    headings.push_back(kHostNameHeading);
    headings.push_back(kNotesHeading);
    return headings;
}

void AppendAligned(std::string& out, const std::vector<std::string>& cells, const std::vector<std::size_t>& widths)
{
    for (std::size_t column = 0; column < cells.size(); ++column) {
        out += cells[column];
        if (column + 1 < cells.size())
            out.append(widths[column] - cells[column].size() + kColumnGap, ' ');
    }
    // An empty last column (a module without notes) leaves no blanks behind.
    out.erase(out.find_last_not_of(' ') + 1);
    out += '\n';
}

} // namespace

std::vector<QORT_ModuleScanResponseType> SortedModules(const modules::ModuleStore& modules, modules::SortOrder order)
{
    std::vector<modules::DeviceRowData> rows;
    for (std::size_t i = 0; i < modules.Size(); ++i)
        rows.push_back(RowOf(modules.At(i)));
    std::vector<std::size_t> positions(rows.size());
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    modules::boundedMergeSort(positions, [&rows, order](std::size_t first, std::size_t second) {
        return modules::compareRows(rows[first], rows[second], order);
    });
    std::vector<QORT_ModuleScanResponseType> sorted;
    sorted.reserve(positions.size());
    for (std::size_t position : positions)
        sorted.push_back(modules.At(position));
    return sorted;
}

std::string FormatTable(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanNotes& notes)
{
    std::vector<std::vector<std::string>> lines{Headings()};
    for (const QORT_ModuleScanResponseType& record : modules) {
        std::vector<std::string> cells = RowOf(record).ColumnTexts;
        cells.push_back(NotesText(record, notes));
        for (std::string& cell : cells)
            cell = platform::escapeControlBytes(cell);
        lines.push_back(std::move(cells));
    }
    std::vector<std::size_t> widths(kTableColumnCount, 0);
    for (const auto& cells : lines)
        for (std::size_t column = 0; column < cells.size(); ++column)
            widths[column] = std::max(widths[column], cells[column].size());
    std::string out;
    for (const auto& cells : lines)
        AppendAligned(out, cells, widths);
    return out;
}

std::string FormatJson(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanWarnings& warnings)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const QORT_ModuleScanResponseType& record : modules) {
        array.push_back(commissioning::moduleJson(record, CodesOf(record, warnings)));
    }
    // Bytes that are not UTF-8 become U+FFFD instead of ending the output.
    return array.dump(kJsonIndent, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string FormatCsv(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanWarnings& warnings)
{
    return commissioning::scanCsv(modules, warnings);
}

} // namespace cli
