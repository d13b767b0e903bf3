#include "tests/support/childprocess.h"

#include "tests/support/waituntil.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace testsupport {
namespace {

int exitStatusOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::filesystem::path& output)
{
    std::vector<char*> words;
    for (std::string& word : argv)
        words.push_back(word.data());
    words.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawnp(&pid_, words[0], &files, nullptr, words.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1))
{
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    stop(SIGTERM);
    pid_ = std::exchange(other.pid_, -1);
    return *this;
}

ChildProcess::~ChildProcess()
{
    stop(SIGTERM);
}

std::optional<int> ChildProcess::endsWithin(std::chrono::milliseconds timeout)
{
    int status = 0;
    if (pid_ <= 0 || !waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout))
        return std::nullopt;
    pid_ = -1;
    return status;
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout)
{
    const std::optional<int> status = endsWithin(timeout);
    return status ? exitStatusOf(*status) : -1;
}

int ChildProcess::stop(int signal, std::chrono::milliseconds wait)
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, signal);
    int status = 0;
    const bool ended = waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, wait);
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return ended ? exitStatusOf(status) : -1;
}

} // namespace testsupport
