#include "platform/terminal.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

// The terminal's settings while echo is off, for the interrupt handler: a
// Ctrl+C at the prompt must not leave the user's terminal without echo.
struct termios savedTerminal;

// A typed line longer than this is cut; passwords are far shorter.
constexpr std::size_t kTypedLineLimit = 1024;

// Overwrites what held a secret; volatile so that the compiler keeps the
// stores although the memory is not read again.
void wipe(char* data, std::size_t size)
{
    volatile char* bytes = data;
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = 0;
}

// One line from standard input, read straight from the descriptor into a
// buffer of fixed size: no stream buffer keeps a copy of what was typed,
// and the buffer is wiped once the line is copied into a string that never
// grows (and so leaves no copy behind when it moves). Nothing at end of
// input before any character.
std::optional<std::string> readTypedLine()
{
    std::array<char, kTypedLineLimit> buffer{};
    std::size_t length = 0;
    bool readAny = false;
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1)
            break;
        readAny = true;
        if (c == '\n')
            break;
        if (length < buffer.size())
            buffer[length++] = c;
    }
    std::optional<std::string> line;
    if (readAny) {
        line.emplace();
        line->reserve(kTypedLineLimit);
        line->assign(buffer.data(), length);
    }
    wipe(buffer.data(), buffer.size());
    wipe(&c, 1);
    return line;
}

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

bool standardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
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
    std::optional<std::string> line = readTypedLine();
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::fputc('\n', stderr);

    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    return line;
}

} // namespace platform
