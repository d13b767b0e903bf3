#include "commissioning/planfile.h"

#include "modules/columntexts.h"
#include "modules/csvwriter.h"
#include "modules/dottedaddress.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/ethernetconfigfields.h"
#include "platform/textescape.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <system_error>

namespace commissioning {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kSeparator = ',';
constexpr char kQuote = '"';
constexpr std::string_view kBlanks = " \t";
// A plan for a whole plant is well under a megabyte; anything near this is
// no plan, and is not read into memory.
constexpr std::uintmax_t kLargestPlanFile = std::uintmax_t{16} * 1024 * 1024;
constexpr int kHeaderLine = 1;

constexpr std::string_view kDhcpOn = "on";
constexpr std::string_view kDhcpOff = "off";

// The cell reader: one record from at, which it leaves after the record's end.
class CsvScanner {
public:
    CsvScanner(std::string_view text, CsvReading& reading)
        : text_(text)
        , reading_(reading)
    {
    }

    bool atEnd() const { return at_ >= text_.size(); }

    CsvRecord record()
    {
        CsvRecord record{line_, {}};
        for (;;) {
            record.cells.push_back(cell(record.line));
            if (atEnd() || text_[at_] != kSeparator)
                break;
            ++at_;
        }
        endLine();
        return record;
    }

private:
    bool atLineEnd() const { return !atEnd() && (text_[at_] == '\r' || text_[at_] == '\n'); }

    // CR LF, LF or a lone CR: one line end.
    void endLine()
    {
        if (atEnd())
            return;
        if (text_[at_] == '\r' && at_ + 1 < text_.size() && text_[at_ + 1] == '\n')
            ++at_;
        ++at_;
        ++line_;
    }

    void problem(int line, std::string message) { reading_.problems.emplace_back(line, std::move(message)); }

    std::string cell(int recordLine)
    {
        if (!atEnd() && text_[at_] == kQuote)
            return quotedCell(recordLine);
        std::string value;
        bool straySeen = false;
        while (!atEnd() && text_[at_] != kSeparator && !atLineEnd()) {
            if (text_[at_] == kQuote && !straySeen) {
                problem(line_, "a quote inside a cell that does not start with one");
                straySeen = true;
            }
            value += text_[at_++];
        }
        return value;
    }

    std::string quotedCell(int recordLine)
    {
        std::string value;
        ++at_;
        for (;;) {
            if (atEnd()) {
                problem(recordLine, "a quoted cell is not closed");
                return value;
            }
            const char c = text_[at_];
            if (c == kQuote) {
                if (at_ + 1 < text_.size() && text_[at_ + 1] == kQuote) {
                    value += kQuote;
                    at_ += 2;
                    continue;
                }
                ++at_;
                break;
            }
            if (c == '\n' || (c == '\r' && (at_ + 1 >= text_.size() || text_[at_ + 1] != '\n')))
                ++line_;
            value += c;
            ++at_;
        }
        if (!atEnd() && text_[at_] != kSeparator && !atLineEnd()) {
            problem(line_, "text after the closing quote of a cell");
            while (!atEnd() && text_[at_] != kSeparator && !atLineEnd())
                value += text_[at_++];
        }
        return value;
    }

    std::string_view text_;
    CsvReading& reading_;
    std::size_t at_ = 0;
    int line_ = kHeaderLine;
};

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool isBlank(const CsvRecord& record)
{
    return std::all_of(
        record.cells.begin(), record.cells.end(), [](const std::string& cell) { return trimmed(cell).empty(); });
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

std::string quotedText(std::string_view text)
{
    return "\"" + platform::escapeBytes(text) + "\"";
}

enum class Column { Mac, Ip, Mask, Gateway, Dns1, Dns2, HostName, Dhcp };

struct ColumnName {
    std::string_view name;
    Column column;
};

constexpr ColumnName kColumns[] = {
    {kPlanMacColumn, Column::Mac},
    {"ip", Column::Ip},
    {"mask", Column::Mask},
    {"gateway", Column::Gateway},
    {"dns1", Column::Dns1},
    {"dns2", Column::Dns2},
    {"hostname", Column::HostName},
    {"dhcp", Column::Dhcp},
};

constexpr std::optional<std::uint32_t> modules::GivenSettings::*addressMember(Column column)
{
    switch (column) {
    case Column::Ip:
        return &modules::GivenSettings::ip;
    case Column::Mask:
        return &modules::GivenSettings::mask;
    case Column::Gateway:
        return &modules::GivenSettings::gateway;
    case Column::Dns1:
        return &modules::GivenSettings::dns1;
    case Column::Dns2:
        return &modules::GivenSettings::dns2;
    default:
        return nullptr;
    }
}

using Problems = std::vector<std::pair<int, std::string>>;

class PlanChecker {
public:
    PlanChecker(PlanReading& reading, Problems& problems)
        : reading_(reading)
        , problems_(problems)
    {
    }

    // False when the header cannot carry a plan.
    bool readHeader(const CsvRecord& header)
    {
        bool fine = true;
        for (std::size_t index = 0; index < header.cells.size(); ++index) {
            const std::string name = lowerCase(trimmed(modules::csvCellValue(header.cells[index])));
            const auto known = std::find_if(
                std::begin(kColumns), std::end(kColumns), [&name](const ColumnName& c) { return c.name == name; });
            if (known == std::end(kColumns))
                continue;
            if (!columns_.emplace(known->column, index).second) {
                problem(header.line, "column " + name + " appears twice");
                fine = false;
            }
        }
        if (columns_.count(Column::Mac) == 0) {
            problem(header.line, "no column \"mac\": every row needs the MAC of its module");
            fine = false;
        }
        return fine;
    }

    void readRow(const CsvRecord& record)
    {
        line_ = record.line;
        rowFine_ = true;
        macRead_ = false;
        PlanRow row{record.line, {}, {}};
        for (const auto& [column, index] : columns_) {
            const std::string value = index < record.cells.size() ? modules::csvCellValue(record.cells[index]) : "";
            readCell(column, value, row);
        }
        checkUnique(row);
        if (rowFine_)
            reading_.plan.rows.push_back(std::move(row));
    }

private:
    void problem(int line, std::string message) { problems_.emplace_back(line, std::move(message)); }

    void rowProblem(std::string message)
    {
        problem(line_, std::move(message));
        rowFine_ = false;
    }

    void readCell(Column column, const std::string& value, PlanRow& row)
    {
        const std::string_view text = trimmed(value);
        if (column == Column::Mac) {
            if (text.empty())
                return rowProblem("no MAC");
            const auto mac = modules::parseMacText(text);
            if (!mac)
                return rowProblem("bad MAC " + quotedText(text));
            row.mac = *mac;
            macRead_ = true;
        } else if (column == Column::HostName) {
            readHostName(value, row);
        } else if (text.empty()) {
            return; // the module keeps its value
        } else if (column == Column::Dhcp) {
            readDhcp(text, row);
        } else {
            readAddress(column, text, row);
        }
    }

    void readAddress(Column column, std::string_view text, PlanRow& row)
    {
        const std::string name(std::find_if(std::begin(kColumns), std::end(kColumns), [column](const ColumnName& c) {
            return c.column == column;
        })->name);
        const std::optional<std::uint32_t> value = modules::parseDottedAddress(text);
        if (!value)
            return rowProblem("bad " + name + " address " + quotedText(text));
        if (column == Column::Ip && !modules::isAcceptableIpAddress(*value))
            return rowProblem("ip " + std::string(text) + ": " + std::string(modules::kIpLastByte255Message));
        row.settings.*addressMember(column) = *value;
    }

    // Whether the name obeys the dialog's characters depends on whether the
    // row changes it: planProblems decides after the scan. Its length the
    // dialog's edit limits, whatever the module has.
    void readHostName(const std::string& value, PlanRow& row)
    {
        if (value.empty())
            return;
        if (value.size() > modules::kConfigTextMaxChars)
            return rowProblem("hostname " + quotedText(value) + " is longer than "
                + std::to_string(modules::kConfigTextMaxChars) + " characters");
        row.settings.hostName = value;
    }

    void readDhcp(std::string_view text, PlanRow& row)
    {
        const std::string lower = lowerCase(text);
        if (lower != kDhcpOn && lower != kDhcpOff)
            return rowProblem("dhcp " + quotedText(text) + " is neither on nor off");
        row.settings.dhcp = lower == kDhcpOn;
    }

    // Also for a row with other problems: every problem is listed at once.
    void checkUnique(const PlanRow& row)
    {
        if (macRead_)
            if (const auto [first, added] = macLines_.emplace(row.mac, row.line); !added)
                rowProblem("MAC " + modules::formatMac(row.mac) + " is also in line " + std::to_string(first->second));
        // 0.0.0.0 is no address anybody holds: many modules may be given it.
        if (!row.settings.ip || *row.settings.ip == 0)
            return;
        if (const auto [first, added] = ipLines_.emplace(*row.settings.ip, row.line); !added)
            rowProblem("ip " + modules::formatDottedAddress(*row.settings.ip) + " is also the target of line "
                + std::to_string(first->second));
    }

    PlanReading& reading_;
    Problems& problems_;
    std::map<Column, std::size_t> columns_;
    std::map<modules::MacAddress, int> macLines_;
    std::map<std::uint32_t, int> ipLines_;
    int line_ = 0;
    bool rowFine_ = true;
    bool macRead_ = false;
};

} // namespace

CsvReading readCsv(std::string_view text)
{
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    CsvReading reading;
    CsvScanner scanner(text, reading);
    while (!scanner.atEnd()) {
        CsvRecord record = scanner.record();
        if (!isBlank(record))
            reading.records.push_back(std::move(record));
    }
    return reading;
}

PlanReading readPlan(std::string_view text, const std::string& file)
{
    PlanReading reading{{file, {}}, {}};
    CsvReading csv = readCsv(text);
    Problems problems = std::move(csv.problems);
    if (csv.records.empty()) {
        problems.emplace_back(kHeaderLine, "no header row: a plan needs at least the column \"mac\"");
    } else {
        PlanChecker checker(reading, problems);
        if (checker.readHeader(csv.records.front()))
            std::for_each(csv.records.begin() + 1, csv.records.end(),
                [&checker](const CsvRecord& record) { checker.readRow(record); });
    }
    std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [line, message] : problems) {
        std::string text = file;
        text.append(":").append(std::to_string(line)).append(": ").append(message);
        reading.problems.push_back(std::move(text));
    }
    return reading;
}

PlanReading readPlanFile(const std::filesystem::path& path)
{
    const std::string file = path.string();
    const auto cannotRead = [&file](const std::string& reason) {
        return PlanReading{{file, {}}, {file + ": cannot read: " + reason}};
    };
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return cannotRead("it is a folder");
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error)
        return cannotRead(error.message());
    if (size > kLargestPlanFile)
        return cannotRead("larger than " + std::to_string(kLargestPlanFile) + " bytes");
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad())
        return cannotRead(errno != 0 ? std::generic_category().message(errno) : "it cannot be opened");
    return readPlan(text, file);
}

} // namespace commissioning
