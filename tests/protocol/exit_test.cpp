// Process exit with the protocol engine running. This program does not
// load libqort itself (its helper must be free to bind the protocol port);
// it starts qort_exit_child, which does, and watches how it ends.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto kChildBound = 20s;

std::string exitChildPath()
{
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return {};
    std::string path(self, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + "qort_exit_child";
}

// Runs the helper and waits for it, at most kChildBound; a child that is
// still alive then has hung in its exit and is killed.
struct ChildEnd {
    bool hung = false;
    int status = 0;
};

ChildEnd runExitChild(const char* mode)
{
    const std::string path = exitChildPath();
    char* const argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(mode), nullptr};
    pid_t child = 0;
    ChildEnd end;
    if (::posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
        ADD_FAILURE() << "cannot start " << path;
        return end;
    }
    const auto deadline = std::chrono::steady_clock::now() + kChildBound;
    while (::waitpid(child, &end.status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            end.hung = true;
            ::kill(child, SIGKILL);
            ::waitpid(child, &end.status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    return end;
}

TEST(ProcessExitTest, EndsCleanlyWithTheEngineRunning)
{
    const struct {
        const char* mode;
        int code;
    } cases[] = {{"return", 0}, {"exit", 0}, {"callback", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const ChildEnd end = runExitChild(c.mode);
        EXPECT_FALSE(end.hung);
        ASSERT_TRUE(WIFEXITED(end.status))
            << "ended by signal " << (WIFSIGNALED(end.status) ? WTERMSIG(end.status) : 0);
        EXPECT_EQ(WEXITSTATUS(end.status), c.code);
    }
}

} // namespace
