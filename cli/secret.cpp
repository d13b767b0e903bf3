#include "cli/secret.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace cli {
namespace {

// The terminal's settings while echo is off, for the interrupt handler: a
// Ctrl+C at the prompt must not leave the user's terminal without echo.
struct termios savedTerminal;

void restoreTerminalAndExit(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::_exit(128 + signal);
}

std::string WithoutLineEnd(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::optional<std::string> ReadFirstLine(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    return WithoutLineEnd(line);
}

std::optional<std::string> PromptWithoutEcho(const char* prompt)
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
    std::fflush(stderr);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::fputc('\n', stderr);

    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    if (!read)
        return std::nullopt;
    return WithoutLineEnd(line);
}

} // namespace

std::optional<std::string> ReadSecret(const SecretSource& source, std::string& error)
{
    if (source.file)
        return ReadFirstLine(*source.file, error);
    if (const char* value = std::getenv(source.environmentVariable))
        return std::string(value);
    if (::isatty(STDIN_FILENO) != 1) {
        error = std::string("set ") + source.environmentVariable + " or give a file";
        return std::nullopt;
    }
    std::optional<std::string> typed = PromptWithoutEcho(source.prompt);
    if (!typed) {
        error = "nothing was typed";
        return std::nullopt;
    }
    if (source.confirm) {
        const std::optional<std::string> again = PromptWithoutEcho("Repeat it: ");
        if (again != typed) {
            error = "the two entries differ";
            return std::nullopt;
        }
    }
    return typed;
}

} // namespace cli
