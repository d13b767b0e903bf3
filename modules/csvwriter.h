#ifndef DEVICELIST_CSVWRITER_H
#define DEVICELIST_CSVWRITER_H

#include <string>
#include <string_view>
#include <vector>

namespace devicelist {

// Comma-separated values as RFC 4180 writes them: fields joined by ",",
// every record ended by CR LF; a field holding a comma, a double quote, CR
// or LF is enclosed in double quotes, with each double quote inside it
// doubled. Every other byte is written as it is, so the caller decides what
// a field may contain. Used for the command line's CSV output and the list's
// export.
std::string CsvField(std::string_view text);
std::string CsvRecord(const std::vector<std::string>& fields);

} // namespace devicelist

#endif
