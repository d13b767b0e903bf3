#ifndef COMMISSIONING_PLANFILE_H
#define COMMISSIONING_PLANFILE_H

#include "modules/configurerequest.h"
#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <filesystem>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

// A plan: the addresses a whole line of modules is to get, as a CSV table a
// spreadsheet edits. RFC 4180, UTF-8 with or without a byte order mark, LF
// or CR LF, a header row naming the columns. Column `mac` is required; `ip`,
// `mask`, `gateway`, `dns1`, `dns2` (dotted), `hostname` and `dhcp` (`on` or
// `off`) are optional; every other column is ignored and named in the
// reading's notes (a spreadsheet's own "note", "location"), so the CSV that
// `sorvinda scan --format csv` writes is a plan that changes nothing.
// Header names are compared without case and surrounding blanks; so are
// MAC, address and dhcp cells (00-30-11-00-00-01 or 00:30:11:00:00:01), but
// a host name is taken as it stands. An empty cell keeps the module's
// value. A cell that our CSV writer protected with a leading "'" reads back
// without it (modules::csvCellValue).
//
// The whole plan is checked before anything is sent:
//   const auto reading = commissioning::readPlanFile(path);
//   if (!reading.problems.empty()) print each and send nothing (exit 2);
// then scan and go on with planSteps (plansteps.h), which also lists the
// problems only the scan can show (planProblems).

namespace commissioning {

inline constexpr std::string_view kPlanMacColumn = "mac";

struct PlanRow {
    int line = 0; // 1-based line where the row starts (the header is line 1)
    modules::MacAddress mac{};
    modules::GivenSettings settings; // nothing: keep the module's value
};

struct Plan {
    std::string file; // as given, for "FILE:LINE: message"
    std::vector<PlanRow> rows;
};

struct PlanReading {
    Plan plan;
    // "FILE:LINE: message" in line order. Not empty: nothing may be sent.
    // Listed: a bad MAC, a MAC in two rows, a bad address, dhcp neither on
    // nor off, a host name longer than any module reports (127 bytes), a
    // missing or doubled column, a heading that is a near miss of a known
    // one (a typo: "hostnmae", "gatway", "Host name"), a cell after a
    // closing quote, a quote in an unquoted cell, a quoted cell never
    // closed, more than 256 cells in a row, more than 65536 rows. At most
    // 100 are listed (a last line says more follow). A row with fewer or
    // more cells than the header is fine as long as it has its MAC. What
    // depends on the module (an IP ending in 255, a host name the dialog
    // refuses, two writes to one IP) only the scan shows: planSteps.
    std::vector<std::string> problems;
    // "FILE:1: column "note" ignored" for each column the plan does not
    // use, in header order: every output shows them.
    std::vector<std::string> notes;
};

PlanReading readPlan(std::string_view text, const std::string& file);

// The file's text through readPlan; a file that cannot be read, or is
// larger than 16 MB, gives the one problem "FILE: cannot read: REASON".
// "-" reads standard input (to its end, within the same bound).
PlanReading readPlanFile(const std::filesystem::path& path);
PlanReading readPlanStream(std::istream& in, const std::string& file);

// The RFC 4180 layer on its own: records with the line each starts on,
// cells unquoted (but not through csvCellValue). A record whose cells are
// all blank (an empty line, a spreadsheet's ",,,") is skipped. problems as above, without the "FILE:" part ("LINE: message").
struct CsvRecord {
    int line = 0;
    std::vector<std::string> cells;
};
struct CsvReading {
    std::vector<CsvRecord> records;
    std::vector<std::pair<int, std::string>> problems; // line, message
};
CsvReading readCsv(std::string_view text);

} // namespace commissioning

#endif
