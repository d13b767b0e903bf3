#include "tests/support/simulatorprocess.h"

#include "platform/textescape.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/waituntil.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

std::vector<std::string> moduleArgs(std::initializer_list<std::string> specs)
{
    std::vector<std::string> args;
    for (const std::string& spec : specs)
        args.insert(args.end(), {"--module", spec});
    return args;
}

namespace {

constexpr const char* kSimulatorProgram = "sorvinda-modulesim";
constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kLinesInErrors = 5;
constexpr int kSignalStatusBase = 128;

int statusCode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return kSignalStatusBase + WTERMSIG(status);
    return -1;
}

} // namespace

SimulatorProcess::SimulatorProcess(std::vector<std::string> arguments, int network)
    : arguments_(std::move(arguments))
    , network_(network)
{
}

SimulatorProcess::~SimulatorProcess()
{
    stop();
}

bool SimulatorProcess::start(std::chrono::milliseconds readyTimeout)
{
    const auto fail = [this](std::string why) {
        std::lock_guard lock(mutex_);
        error_ = std::move(why);
        return false;
    };
    if (pid_ > 0)
        return fail("start() was called twice");
    const auto network = IsolatedNetwork::fromEnvironment();
    if (!network)
        return fail(isolatedNetworkProblem());

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return fail(std::string("pipe: ") + std::strerror(errno));

    const std::string& modulesNamespace = network_ == 2 ? network->modulesNamespace2 : network->modulesNamespace;
    if (modulesNamespace.empty())
        return fail("no second module network: run through scripts/isolated-net run --networks 2");
    std::vector<std::string> command = {
        "ip", "netns", "exec", modulesNamespace, binaryDirectory() + "/" + kSimulatorProgram};
    command.insert(command.end(), arguments_.begin(), arguments_.end());
    std::vector<char*> argv;
    for (std::string& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // dup2 onto 1 clears close-on-exec for the child's stdout only; the
    // read end stays closed in the child.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int spawned = ::posix_spawnp(&pid_, "ip", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        pid_ = -1;
        return fail(std::string("spawning ip netns exec: ") + std::strerror(spawned));
    }
    outputFd_ = pipeFds[0];
    reader_ = std::thread(&SimulatorProcess::readOutput, this);

    const auto ready = waitForLine([](const std::string& line) { return line.rfind("ready ", 0) == 0; }, readyTimeout);
    if (ready)
        return true;
    std::string why = "the simulator did not report ready within " + std::to_string(readyTimeout.count()) + " ms";
    const auto seen = lines();
    for (std::size_t i = seen.size() > kLinesInErrors ? seen.size() - kLinesInErrors : 0; i < seen.size(); ++i)
        why += "\n  " + seen[i];
    stop();
    return fail(why);
}

void SimulatorProcess::readOutput()
{
    std::string pending;
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        const ssize_t got = ::read(outputFd_, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(chunk.data(), static_cast<std::size_t>(got));
        std::vector<std::string> complete;
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            complete.emplace_back(pending, start, end - start);
        pending.erase(0, start);
        if (!complete.empty()) {
            std::lock_guard lock(mutex_);
            for (std::string& line : complete)
                lines_.push_back(std::move(line));
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    if (!pending.empty())
        lines_.push_back(std::move(pending));
    outputClosed_ = true;
    changed_.notify_all();
}

std::string SimulatorProcess::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

std::vector<std::string> SimulatorProcess::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

std::size_t SimulatorProcess::lineCount() const
{
    std::lock_guard lock(mutex_);
    return lines_.size();
}

std::optional<std::string> SimulatorProcess::waitForLine(
    const LinePredicate& matches, std::chrono::milliseconds timeout, std::size_t from) const
{
    std::optional<std::string> found;
    waitForLines([&](const std::string& line) { return matches(line) && (found = line, true); }, 1, timeout, from);
    return found;
}

std::optional<std::string> SimulatorProcess::waitForLine(
    const std::regex& pattern, std::chrono::milliseconds timeout, std::size_t from) const
{
    return waitForLine([&pattern](const std::string& line) { return std::regex_search(line, pattern); }, timeout, from);
}

bool SimulatorProcess::waitForLines(
    const LinePredicate& matches, std::size_t count, std::chrono::milliseconds timeout, std::size_t from) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    std::size_t next = from;
    std::size_t found = 0;
    for (;;) {
        for (; next < lines_.size(); ++next)
            if (matches(lines_[next]) && ++found >= count)
                return true;
        if (outputClosed_)
            return false;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && next == lines_.size())
            return false;
    }
}

std::vector<std::string> SimulatorProcess::linesMatching(const LinePredicate& matches, std::size_t from) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (std::size_t i = from; i < lines_.size(); ++i)
        if (matches(lines_[i]))
            result.push_back(lines_[i]);
    return result;
}

bool SimulatorProcess::waitForExit(std::chrono::milliseconds timeout)
{
    return waitUntil(
        [this] {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done != pid_ && !(done < 0 && errno == ECHILD))
                return false;
            exitStatus_ = done == pid_ ? statusCode(status) : -1;
            reaped_ = true;
            return true;
        },
        timeout);
}

int SimulatorProcess::stop()
{
    if (pid_ <= 0)
        return -1;
    if (!reaped_) {
        // `ip netns exec` replaces itself with the simulator, so pid_ is the
        // simulator and the signal reaches it directly.
        ::kill(pid_, SIGTERM);
        if (!waitForExit(kStopTimeout)) {
            ::kill(pid_, SIGKILL);
            waitForExit(kStopTimeout);
        }
    }
    if (reader_.joinable())
        reader_.join();
    if (outputFd_ >= 0) {
        ::close(outputFd_);
        outputFd_ = -1;
    }
    return exitStatus_;
}

// Taken apart by hand: a datagram line can be a quarter of a megabyte, too
// long for a backtracking regular expression.
std::optional<DatagramLine> parseDatagramLine(const std::string& line)
{
    DatagramLine parsed;
    std::size_t pos = 0;
    const auto word = [&](char end) -> std::optional<std::string> {
        const auto stop = line.find(end, pos);
        if (stop == std::string::npos || stop == pos)
            return std::nullopt;
        std::string text = line.substr(pos, stop - pos);
        pos = stop + 1;
        return text;
    };
    const auto number = [](const std::string& text, unsigned long long& value) {
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18)
            return false;
        value = std::stoull(text);
        return true;
    };

    const auto direction = word(' ');
    const auto address = word(':');
    const auto port = word(' ');
    const auto length = word(' ');
    unsigned long long portValue = 0;
    unsigned long long lengthValue = 0;
    if (!direction || (*direction != "recv" && *direction != "send") || !address || !port || !length
        || !number(*port, portValue) || portValue > UINT16_MAX || !number(*length, lengthValue))
        return std::nullopt;
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    const std::size_t textStart = ++pos;
    while (pos < line.size() && line[pos] != '"')
        pos += line[pos] == '\\' ? 2 : 1;
    if (pos >= line.size())
        return std::nullopt;
    auto bytes = platform::unescapeBytes(std::string_view(line).substr(textStart, pos - textStart));
    constexpr std::string_view kTimestampMark = "\" t=";
    if (!bytes || line.compare(pos, kTimestampMark.size(), kTimestampMark) != 0)
        return std::nullopt;
    unsigned long long timestamp = 0;
    if (!number(line.substr(pos + kTimestampMark.size()), timestamp))
        return std::nullopt;

    parsed.direction = *direction;
    parsed.address = *address;
    parsed.port = static_cast<std::uint16_t>(portValue);
    parsed.length = static_cast<std::size_t>(lengthValue);
    parsed.bytes = std::move(*bytes);
    parsed.timestampNs = static_cast<std::int64_t>(timestamp);
    return parsed;
}

} // namespace testsupport
