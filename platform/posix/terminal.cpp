#include "platform/terminal.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

// The terminal's settings while echo is off, for the interrupt handler: a
// Ctrl+C at the prompt must not leave the user's terminal without echo.
struct termios savedTerminal;

void restoreTerminalAndExit(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::_exit(128 + signal);
}

} // namespace

bool standardInputIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> readLineWithoutEcho(const char* prompt)
{
    if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return std::nullopt;
    struct termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    struct sigaction restore { };
    struct sigaction previousInt { };
    struct sigaction previousTerm { };
    restore.sa_handler = restoreTerminalAndExit;
    sigemptyset(&restore.sa_mask);
    ::sigaction(SIGINT, &restore, &previousInt);
    ::sigaction(SIGTERM, &restore, &previousTerm);

    std::fprintf(stderr, "%s", prompt);
    static_cast<void>(std::fflush(stderr)); // a prompt that cannot be shown still reads the answer
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::fputc('\n', stderr);

    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    if (!read)
        return std::nullopt;
    return line;
}

} // namespace platform
