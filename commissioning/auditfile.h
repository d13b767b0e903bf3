#ifndef COMMISSIONING_AUDITFILE_H
#define COMMISSIONING_AUDITFILE_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

// The audit log's file as the system keeps it (posix/, windows/): opening
// with the checks the writer and the reader share, appending whole records,
// reading blocks back. auditlog.cpp builds the records and reads them.

namespace commissioning::auditfile {

// Opens file for appending: creates its folder and the file, sets their
// modes (0700, 0600) and refuses a symbolic link, anything but a regular
// file, and a folder or file of another user. A descriptor, or -1 with the
// sentence in error.
int openForAppend(const std::filesystem::path& file, std::string& error);

// Appends text with one write, after a newline when the file does not end
// in one, and flushes it to the disk. A sentence when that failed.
std::optional<std::string> appendText(int fd, const std::string& text, const std::filesystem::path& file);

// appendText's write from a signal handler: only async-signal-safe calls.
// text starts with a newline that is left out when the file ends in one.
void appendFromSignal(int fd, const char* text, std::size_t size) noexcept;
void flushFromSignal(int fd) noexcept;

void closeFile(int fd);

// Opens file for reading with openForAppend's checks (missing is no
// error: -1, error empty). A descriptor, or -1 with the sentence in error.
int openForReading(const std::filesystem::path& file, std::string& error);
std::uint64_t fileSize(int fd);
// size bytes at offset; false when they could not all be read.
bool readAt(int fd, std::uint64_t offset, char* out, std::size_t size);

// The time now, from a signal handler too.
std::time_t timeNowFromSignal() noexcept;

std::string userName();

// Why AuditLog::forUser() found no place for the log (an empty path).
const char* unplacedReason();

} // namespace commissioning::auditfile

#endif
