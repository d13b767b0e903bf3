#include "modules/csvwriter.h"

namespace devicelist {
namespace {

constexpr char kSeparator = ',';
constexpr char kQuote = '"';
constexpr std::string_view kRecordEnd = "\r\n";
constexpr std::string_view kNeedsQuoting = ",\"\r\n";

} // namespace

std::string CsvField(std::string_view text)
{
    if (text.find_first_of(kNeedsQuoting) == std::string_view::npos) {
        return std::string(text);
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

std::string CsvRecord(const std::vector<std::string>& fields)
{
    std::string record;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            record += kSeparator;
        }
        record += CsvField(fields[i]);
    }
    record += kRecordEnd;
    return record;
}

} // namespace devicelist
