#include "cli/scanoutput.h"

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
#include <optional>

namespace cli {
namespace {

constexpr const char* kHostNameHeading = "Host name";
constexpr const char* kNotesHeading = "Notes";
constexpr const char* kWarningsName = "warnings";
constexpr const char* kTableCodeSeparator = ", ";
constexpr const char* kCsvCodeSeparator = ";";
constexpr std::size_t kColumnGap = 2;
constexpr int kJsonIndent = 2;
constexpr std::uint8_t kOn = 1;
constexpr std::uint8_t kOff = 0;

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

std::string Joined(const commissioning::WarningCodes& codes, const char* separator)
{
    std::string text;
    for (const std::string& code : codes)
        text += (text.empty() ? "" : separator) + code;
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

// One named field of a record, as the JSON and CSV outputs write it.
struct Field {
    const char* name;
    std::optional<nlohmann::ordered_json> value; // nothing: not reported
    std::string csvText;
};

std::optional<bool> OnOff(std::uint8_t valid, std::uint8_t value)
{
    // A reported value that is neither on nor off is no fact to print.
    if (valid == 0 || (value != kOn && value != kOff))
        return std::nullopt;
    return value == kOn;
}

Field AddressField(const char* name, std::uint8_t valid, std::uint32_t address)
{
    if (valid == 0)
        return {name, std::nullopt, {}};
    const std::string text = modules::formatDottedAddress(address);
    return {name, text, text};
}

Field OnOffField(const char* name, std::uint8_t valid, std::uint8_t value)
{
    const std::optional<bool> state = OnOff(valid, value);
    if (!state)
        return {name, std::nullopt, {}};
    return {name, *state, *state ? "on" : "off"};
}

Field TextField(const char* name, std::uint8_t valid, const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    if (valid == 0)
        return {name, std::nullopt, {}};
    const std::string text = RecordText(field);
    return {name, text, platform::escapeControlBytes(text)};
}

std::vector<Field> FieldsOf(const QORT_ModuleScanResponseType& r)
{
    std::vector<Field> fields;
    const std::string mac = modules::formatMac(modules::macOfRecord(r));
    fields.push_back({"mac", mac, mac});
    fields.push_back(AddressField("ip", r.IpAddrValid, r.IpAddr));
    fields.push_back(AddressField("mask", r.SubnetMaskValid, r.SubnetMask));
    fields.push_back(AddressField("gateway", r.GatewayValid, r.Gateway));
    fields.push_back(OnOffField("dhcp", r.DhcpValid, r.Dhcp));
    fields.push_back(OnOffField("password", r.PswdValid, r.Pswd));
    fields.push_back(TextField("hostname", r.HostNameValid, r.HostName));
    fields.push_back(AddressField("dns1", r.Dns1Valid, r.Dns1));
    fields.push_back(AddressField("dns2", r.Dns2Valid, r.Dns2));
    fields.push_back(TextField("type", r.FbTypeValid, r.FbType));
    if (r.ModuleVersionValid != 0) {
        const std::string version =
            modules::formatModuleVersion(r.ModuleVersionMajor, r.ModuleVersionMinor, r.ModuleVersionBuild);
        fields.push_back({"version", version, version});
    } else {
        fields.push_back({"version", std::nullopt, {}});
    }
    if (r.ProtocolVersionValid != 0) {
        const std::string protocol =
            std::to_string(r.ProtocolVersionMajor) + "." + std::to_string(r.ProtocolVersionMinor);
        fields.push_back({"protocol", protocol, protocol});
    } else {
        fields.push_back({"protocol", std::nullopt, {}});
    }
    return fields;
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

std::string FormatTable(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanWarnings& warnings)
{
    std::vector<std::vector<std::string>> lines{Headings()};
    for (const QORT_ModuleScanResponseType& record : modules) {
        std::vector<std::string> cells = RowOf(record).ColumnTexts;
        cells.push_back(Joined(CodesOf(record, warnings), kTableCodeSeparator));
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
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (Field& field : FieldsOf(record))
            if (field.value)
                object[field.name] = std::move(*field.value);
        object[kWarningsName] = CodesOf(record, warnings);
        array.push_back(std::move(object));
    }
    // Bytes that are not UTF-8 become U+FFFD instead of ending the output.
    return array.dump(kJsonIndent, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string FormatCsv(const std::vector<QORT_ModuleScanResponseType>& modules, const ScanWarnings& warnings)
{
    std::vector<std::string> header;
    for (const Field& field : FieldsOf(QORT_ModuleScanResponseType{}))
        header.push_back(field.name);
    header.push_back(kWarningsName);
    std::string out = modules::csvRecord(header);
    for (const QORT_ModuleScanResponseType& record : modules) {
        std::vector<std::string> cells;
        for (const Field& field : FieldsOf(record))
            cells.push_back(field.csvText);
        cells.push_back(Joined(CodesOf(record, warnings), kCsvCodeSeparator));
        out += modules::csvRecord(cells);
    }
    return out;
}

} // namespace cli
