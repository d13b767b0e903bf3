// diff: what changed between two saved scans (`sorvinda scan --format
// json`): modules that are new, missing, or report other values. Exit
// status as diff(1) has it: 0 the same, 1 different, 2 trouble.
#include "cli/commands.h"
#include "commissioning/scanview.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kExitDifferent = 1;
constexpr int kJsonIndent = 2;
constexpr const char* kAbsentText = "(none)";

struct Difference {
    const char* event;
    std::string mac;
    Json before, after;
    std::vector<std::string> fields; // changed only
};

std::optional<commissioning::ScanView> ReadScanFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in.is_open())
        text << in.rdbuf();
    if (!in.is_open() || in.bad()) {
        Complain(file + ": cannot be read");
        return std::nullopt;
    }
    std::string error;
    std::optional<commissioning::ScanView> view = commissioning::readScanView(text.str(), error);
    if (!view)
        Complain(file + ": not a list of `sorvinda scan --format json` (" + error + ")");
    return view;
}

std::vector<Difference> Differences(const commissioning::ScanView& before, const commissioning::ScanView& after)
{
    std::map<std::string, Difference> found;
    for (const auto& [mac, record] : before)
        if (after.count(mac) == 0)
            found[mac] = {"missing", mac, record, nullptr, {}};
    for (const auto& [mac, record] : after) {
        const auto old = before.find(mac);
        if (old == before.end())
            found[mac] = {"new", mac, nullptr, record, {}};
        else if (std::vector<std::string> fields = commissioning::changedFields(old->second, record); !fields.empty())
            found[mac] = {"changed", mac, old->second, record, std::move(fields)};
    }
    std::vector<Difference> list;
    for (auto& [mac, difference] : found)
        list.push_back(std::move(difference));
    return list;
}

// A value as JSON text: quoted, pure ASCII, so no module's text can
// forge a line or reach the terminal as a control byte.
std::string ValueText(const Json& record, const std::string& field)
{
    const auto value = record.find(field);
    if (value == record.end())
        return kAbsentText;
    return value->dump(-1, ' ', true, Json::error_handler_t::replace);
}

std::string TextOf(const std::vector<Difference>& differences)
{
    std::string out;
    for (const Difference& difference : differences) {
        out += std::string(difference.event) + " " + difference.mac;
        for (std::size_t i = 0; i < difference.fields.size(); ++i) {
            const std::string& field = difference.fields[i];
            out += (i == 0 ? " " : ", ") + field + " " + ValueText(difference.before, field) + " -> "
                + ValueText(difference.after, field);
        }
        out += '\n';
    }
    return out;
}

std::string JsonOf(const std::vector<Difference>& differences)
{
    Json list = Json::array();
    for (const Difference& difference : differences) {
        Json entry{{"event", difference.event}, {"mac", difference.mac}, {"before", difference.before},
            {"after", difference.after}};
        if (!difference.fields.empty())
            entry["fields"] = difference.fields;
        list.push_back(std::move(entry));
    }
    return list.dump(kJsonIndent, ' ', true, Json::error_handler_t::replace) + "\n";
}

} // namespace

int RunDiff(const DiffOptions& options)
{
    const std::optional<commissioning::ScanView> before = ReadScanFile(options.before);
    const std::optional<commissioning::ScanView> after = ReadScanFile(options.after);
    if (!before || !after)
        return kExitUsage;
    const std::vector<Difference> differences = Differences(*before, *after);
    const std::string out = options.json ? JsonOf(differences) : TextOf(differences);
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        Complain("the differences could not be written: " + std::generic_category().message(errno));
        return kExitUsage;
    }
    return differences.empty() ? kExitOk : kExitDifferent;
}

} // namespace cli
