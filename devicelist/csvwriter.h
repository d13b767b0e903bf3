#ifndef DEVICELIST_CSVWRITER_H
#define DEVICELIST_CSVWRITER_H

#include <string>
#include <string_view>
#include <vector>

namespace devicelist {

// Comma-separated values as RFC 4180 has them: fields joined by ",", each
// record ended by CR LF; a field containing a comma, a double quote, CR or
// LF is put in double quotes, and a double quote inside it is doubled.
// Other bytes pass unchanged: the caller hands in UTF-8.
std::string CsvField(std::string_view text);
std::string CsvRecord(const std::vector<std::string>& fields);

} // namespace devicelist

#endif
