#ifndef DHCP_LOGTOFILE_H
#define DHCP_LOGTOFILE_H

#include <cstddef>

// Size of the buffer one trace line is formatted into; a longer line is cut
// to 1023 characters.
constexpr std::size_t kLogToFileLineSize = 1024;

// Formats one line and appends it to the file at `path`, opening and closing
// the file for every line so that the file is complete whenever the process
// ends. Returns false (the line is dropped) when the file cannot be opened
// or written.
bool LogToFile(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
