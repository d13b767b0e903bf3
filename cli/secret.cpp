#include "cli/secret.h"

#include "cli/secretguard.h"
#include "platform/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace cli {
namespace {

std::string WithoutLineEnd(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// A first line longer than this is cut; passwords are far shorter.
constexpr std::size_t kSecretLineLimit = 1024;

// Read without a stream buffer, into a string that never grows, so that no
// copy of the password is left behind in memory that is not wiped.
std::optional<std::string> ReadFirstLine(const std::string& path, std::string& error)
{
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    static_cast<void>(std::setvbuf(in, nullptr, _IONBF, 0));
    std::string line;
    line.reserve(kSecretLineLimit);
    for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in))
        if (line.size() < kSecretLineLimit)
            line.push_back(static_cast<char>(c));
    static_cast<void>(std::fclose(in));
    return WithoutLineEnd(std::move(line));
}

std::optional<std::string> PromptWithoutEcho(const char* prompt)
{
    const EchoRestoringSignals echoGuard;
    std::optional<std::string> line = platform::readLineWithoutEcho(prompt);
    if (!line)
        return std::nullopt;
    return WithoutLineEnd(std::move(*line));
}

} // namespace

std::optional<std::string> ReadSecret(const SecretSource& source, std::string& error)
{
    if (source.file)
        return ReadFirstLine(*source.file, error);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in this program changes its environment
    if (const char* value = std::getenv(source.environmentVariable))
        return std::string(value);
    if (!platform::standardInputIsTerminal()) {
        error = std::string("set ") + source.environmentVariable + " or give a file";
        return std::nullopt;
    }
    std::optional<std::string> typed = PromptWithoutEcho(source.prompt);
    if (!typed) {
        error = "nothing was typed";
        return std::nullopt;
    }
    if (source.confirm) {
        std::optional<std::string> again = PromptWithoutEcho("Repeat it: ");
        const bool same = again == typed;
        if (again)
            WipeSecret(*again);
        if (!same) {
            WipeSecret(*typed);
            error = "the two entries differ";
            return std::nullopt;
        }
    }
    return typed;
}

} // namespace cli
