#include "commissioning/scancsv.h"

#include "commissioning/scanview.h"
#include "modules/csvwriter.h"

namespace commissioning {
namespace {

constexpr const char* kCodeSeparator = ";";

std::string codesOf(
    const QORT_ModuleScanResponseType& record, const std::map<modules::MacAddress, WarningCodes>& warnings)
{
    const auto codes = warnings.find(modules::macOfRecord(record));
    std::string text;
    if (codes == warnings.end())
        return text;
    for (const std::string& code : codes->second)
        text += (text.empty() ? "" : kCodeSeparator) + code;
    return text;
}

} // namespace

std::string scanCsv(const std::vector<QORT_ModuleScanResponseType>& modules,
    const std::map<modules::MacAddress, WarningCodes>& warnings)
{
    std::vector<std::string> header;
    for (const ScanField& field : scanFields(QORT_ModuleScanResponseType{}))
        header.push_back(field.name);
    header.push_back(kWarningsName);
    std::string out = modules::csvRecord(header);
    for (const QORT_ModuleScanResponseType& record : modules) {
        std::vector<std::string> cells;
        for (const ScanField& field : scanFields(record))
            cells.push_back(field.csvText);
        cells.push_back(codesOf(record, warnings));
        out += modules::csvRecord(cells);
    }
    return out;
}

} // namespace commissioning
