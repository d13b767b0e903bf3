#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A program started by a test with its standard output and error in one
// file; sent SIGTERM and reaped when it goes out of scope.
class ChildProcess {
public:
    static constexpr std::chrono::milliseconds kKillWait{5000};

    ChildProcess() = default;
    // argv[0] is looked up in PATH when it holds no slash; pid() is -1 when
    // it could not be started.
    ChildProcess(std::vector<std::string> argv, const std::filesystem::path& output);
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();

    pid_t pid() const { return pid_; }

    // Its wait status once it ends by itself within timeout (then it is
    // reaped and forgotten), else nothing.
    std::optional<int> endsWithin(std::chrono::milliseconds timeout);
    // Its exit status (128 + signal when a signal ended it) once it ends by
    // itself within timeout, else -1.
    int waitExit(std::chrono::milliseconds timeout);
    // Sends the signal and reaps the child; SIGKILL when it is not gone
    // within wait. Its exit status (128 + signal), -1 when it had to be
    // killed or never ran.
    int stop(int signal, std::chrono::milliseconds wait = kKillWait);

private:
    pid_t pid_ = -1;
};

} // namespace testsupport

#endif
