#ifndef MODULES_CSVWRITER_H
#define MODULES_CSVWRITER_H

#include <string>
#include <string_view>
#include <vector>

namespace modules {

// Comma-separated values as RFC 4180 writes them: fields joined by ",",
// every record ended by CR LF; a field holding a comma, a double quote, CR
// or LF is enclosed in double quotes, with each double quote inside it
// doubled. A field starting with a byte a spreadsheet takes as the start of
// a formula (= + - @, TAB, CR), also after leading "'", gets one more
// leading "'" first, so a module's text opens as text, never as a formula. Every other byte is written as it is,
// so the caller decides what a field may contain. Used for the command
// line's CSV output and the list's export.
std::string csvField(std::string_view text);
std::string csvRecord(const std::vector<std::string>& fields);

// The text of a cell as CsvField was given it, from the cell's value after
// CSV unquoting: the "'" CsvField added is taken off again, and nothing
// else, so csvCellValue(unquoted csvField(t)) == t for every text. Every reader of our CSV files reads cells through it.
std::string csvCellValue(std::string_view cell);

} // namespace modules

#endif
