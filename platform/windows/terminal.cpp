#include "platform/terminal.h"

#include <windows.h>

#include <cstdio>
#include <iostream>

namespace platform {
namespace {

HANDLE consoleInput()
{
    return ::GetStdHandle(STD_INPUT_HANDLE);
}

// The console mode while echo is off, for the Ctrl+C handler, which runs on
// a thread of its own and must give the console its echo back.
DWORD savedMode = 0;

BOOL WINAPI restoreConsole(DWORD)
{
    ::SetConsoleMode(consoleInput(), savedMode);
    return FALSE; // then the default handler ends the process
}

} // namespace

bool standardInputIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(consoleInput(), &mode) != FALSE;
}

bool standardErrorIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

std::optional<std::string> readLineWithoutEcho(const char* prompt)
{
    const HANDLE input = consoleInput();
    if (!::GetConsoleMode(input, &savedMode))
        return std::nullopt;
    ::SetConsoleCtrlHandler(restoreConsole, TRUE);
    std::fprintf(stderr, "%s", prompt);
    static_cast<void>(std::fflush(stderr)); // a prompt that cannot be shown still reads the answer
    ::SetConsoleMode(input, savedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    ::SetConsoleMode(input, savedMode);
    ::SetConsoleCtrlHandler(restoreConsole, FALSE);
    std::fputc('\n', stderr);
    if (!read)
        return std::nullopt;
    return line;
}

} // namespace platform
