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

std::string childPath(const char* name)
{
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return {};
    std::string path(self, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + name;
}

// Runs the helper and waits for it, at most kChildBound; a child that is
// still alive then has hung in its exit and is killed.
struct ChildEnd {
    bool hung = false;
    int status = 0;
};

ChildEnd runChild(const char* program, const char* mode)
{
    const std::string path = childPath(program);
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

// Each case is also a watchdog: a child that hangs is killed and fails.
TEST(ProcessExitTest, EndsCleanlyWithTheEngineRunning)
{
    const struct {
        const char* program;
        const char* mode;
        int code;
    } cases[] = {
        {"qort_exit_child", "return", 0},
        {"qort_exit_child", "exit", 0},
        {"qort_exit_child", "callback", 3},
        // The callback calls QORT_Start while the process exits.
        {"qort_exit_child", "start", 0},
        // The callback unloads the library (dlclose) on its own thread.
        {"qort_unload_child", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.mode);
        const ChildEnd end = runChild(c.program, c.mode);
        EXPECT_FALSE(end.hung);
        ASSERT_TRUE(WIFEXITED(end.status))
            << "ended by signal " << (WIFSIGNALED(end.status) ? WTERMSIG(end.status) : 0);
        EXPECT_EQ(WEXITSTATUS(end.status), c.code);
    }
}

} // namespace
