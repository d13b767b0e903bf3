#ifndef PLATFORM_TERMINAL_H
#define PLATFORM_TERMINAL_H

#include <optional>
#include <string>

namespace platform {

// True when standard input is a terminal (a console on Windows).
bool standardInputIsTerminal();

// True when standard error is a terminal (a console on Windows): progress
// that rewrites its line is shown only there, never in a log file.
bool standardErrorIsTerminal();

// Shows prompt on standard error and reads one line from standard input
// with echo off, then ends the line on standard error. The line comes
// without its line end. Nothing when echo cannot be turned off or input
// ended. An interrupt (Ctrl+C) while echo is off gives the terminal its
// echo back before the program ends.
std::optional<std::string> readLineWithoutEcho(const char* prompt);

} // namespace platform

#endif
