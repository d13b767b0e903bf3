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
#include <iostream>
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
// Memory follows from these, not from the text: a record keeps at most
// kMostCells cells (a plan has a handful of columns; a spreadsheet's own
// add some), a plan at most kMostRows rows (more modules than any segment
// holds), and at most kMostProblems problems are listed.
constexpr std::size_t kMostCells = 256;
constexpr std::size_t kMostRows = 65536;
constexpr std::size_t kMostProblems = 100;
constexpr std::string_view kStandardInput = "-";

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
            std::string value = cell(record.line);
            if (record.cells.size() < kMostCells)
                record.cells.push_back(std::move(value));
            else if (record.cells.size() == kMostCells && !value.empty() && !tooWide_) {
                problem(record.line, "more than " + std::to_string(kMostCells) + " cells in one row");
                tooWide_ = true;
            }
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

    void problem(int line, std::string message)
    {
        if (reading_.problems.size() <= kMostProblems)
            reading_.problems.emplace_back(line, std::move(message));
    }

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
    bool tooWide_ = false; // said once
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

// Edits (insert, delete, replace, swap two neighbours) from a to b, counted
// up to limit + 1.
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t limit)
{
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit)
        return limit + 1;
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// A heading is taken for a misspelt known one when it is the known name
// with blanks, "-" or "_" in it ("Host name"), or a few keystrokes off it:
// a swap for the two- and three-letter names (so that a spreadsheet's "id"
// is no "ip"), one edit for four letters, two for longer names.
bool isNearMiss(std::string_view heading, std::string_view known)
{
    std::string compact;
    for (const char c : heading)
        if (c != ' ' && c != '\t' && c != '-' && c != '_')
            compact += c;
    if (compact == known)
        return true;
    if (heading.size() > known.size() + 2)
        return false;
    const std::size_t allowed = known.size() <= 3 ? 0 : known.size() == 4 ? 1 : 2;
    if (allowed == 0)
        return heading.size() == known.size() && heading != known && editDistance(heading, known, 1) == 1
            && std::is_permutation(heading.begin(), heading.end(), known.begin());
    return editDistance(heading, known, allowed) <= allowed;
}

class PlanChecker {
public:
    PlanChecker(PlanReading& reading, Problems& problems)
        : reading_(reading)
        , problems_(problems)
    {
    }

    // False when the header cannot carry a plan. A column it does not use
    // is named in the reading's notes; a near miss of a known name is taken
    // for a typo and refused, so that no edit in it is dropped unseen.
    bool readHeader(const CsvRecord& header)
    {
        bool fine = true;
        for (std::size_t index = 0; index < header.cells.size(); ++index) {
            const std::string given(trimmed(modules::csvCellValue(header.cells[index])));
            const std::string name = lowerCase(given);
            const auto known = std::find_if(
                std::begin(kColumns), std::end(kColumns), [&name](const ColumnName& c) { return c.name == name; });
            if (known == std::end(kColumns)) {
                fine = unusedColumn(header.line, given, name) && fine;
                continue;
            }
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
        if (rowFine_ && reading_.plan.rows.size() == kMostRows)
            rowProblem("more than " + std::to_string(kMostRows) + " rows: no segment holds so many modules");
        if (rowFine_)
            reading_.plan.rows.push_back(std::move(row));
    }

    std::vector<std::string> takeNotes() { return std::move(notes_); }

private:
    bool unusedColumn(int line, const std::string& given, const std::string& name)
    {
        if (name.empty())
            return true; // a spreadsheet's column without a heading
        const auto near = std::find_if(std::begin(kColumns), std::end(kColumns),
            [&name](const ColumnName& c) { return isNearMiss(name, c.name); });
        if (near != std::end(kColumns)) {
            problem(line,
                "column " + quotedText(given) + " is no column of a plan: is it \"" + std::string(near->name)
                    + "\" misspelt? (a column the plan does not use needs a name of its own, such as \"note\")");
            return false;
        }
        notes_.push_back("column " + quotedText(given) + " ignored");
        return true;
    }

    void problem(int line, std::string message)
    {
        if (problems_.size() <= kMostProblems)
            problems_.emplace_back(line, std::move(message));
    }

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
        row.settings.*addressMember(column) = *value;
    }

    // Whether the name obeys the dialog's rules (characters, length)
    // depends on whether the row changes it: the scan's own CSV restates
    // every name as the module reports it. planProblems decides after the
    // scan. Longer than any module reports, it is no name.
    void readHostName(const std::string& value, PlanRow& row)
    {
        if (value.empty())
            return;
        if (value.size() >= QORT_TEXT_FIELD_SIZE)
            return rowProblem("hostname " + quotedText(value) + " is longer than "
                + std::to_string(QORT_TEXT_FIELD_SIZE - 1) + " characters");
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
    }

    PlanReading& reading_;
    Problems& problems_;
    std::map<Column, std::size_t> columns_;
    std::map<modules::MacAddress, int> macLines_;
    std::vector<std::string> notes_;
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

// Record by record: only one record's cells are held at a time.
PlanReading readPlan(std::string_view text, const std::string& file)
{
    PlanReading reading{{file, {}}, {}, {}};
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    CsvReading csv; // its problems only: the records are taken one at a time
    Problems rowProblems;
    PlanChecker checker(reading, rowProblems);
    CsvScanner scanner(text, csv);
    bool headerRead = false, headerFine = false;
    while (!scanner.atEnd()) {
        const CsvRecord record = scanner.record();
        if (isBlank(record))
            continue;
        if (!headerRead)
            headerFine = checker.readHeader(record);
        else if (headerFine)
            checker.readRow(record);
        headerRead = true;
    }
    Problems problems = std::move(csv.problems);
    problems.insert(problems.end(), rowProblems.begin(), rowProblems.end());
    if (!headerRead)
        problems.emplace_back(kHeaderLine, "no header row: a plan needs at least the column \"mac\"");
    for (const std::string& note : checker.takeNotes())
        reading.notes.push_back(
            std::string(file).append(":").append(std::to_string(kHeaderLine)).append(": ").append(note));
    std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const bool cut = problems.size() > kMostProblems;
    problems.resize(std::min(problems.size(), kMostProblems));
    for (const auto& [line, message] : problems) {
        std::string text = file;
        text.append(":").append(std::to_string(line)).append(": ").append(message);
        reading.problems.push_back(std::move(text));
    }
    if (cut)
        reading.problems.push_back(
            file + ": more problems follow; the first " + std::to_string(kMostProblems) + " are listed");
    return reading;
}

PlanReading readPlanStream(std::istream& in, const std::string& file)
{
    std::string text;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kLargestPlanFile)
            return PlanReading{
                {file, {}}, {file + ": cannot read: larger than " + std::to_string(kLargestPlanFile) + " bytes"}, {}};
    }
    if (in.bad())
        return PlanReading{{file, {}}, {file + ": cannot read: " + std::generic_category().message(EIO)}, {}};
    return readPlan(text, file);
}

PlanReading readPlanFile(const std::filesystem::path& path)
{
    const std::string file = path.string();
    if (file == kStandardInput)
        return readPlanStream(std::cin, file);
    const auto cannotRead = [&file](const std::string& reason) {
        return PlanReading{{file, {}}, {file + ": cannot read: " + reason}, {}};
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
