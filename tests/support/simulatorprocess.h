#ifndef TESTS_SUPPORT_SIMULATORPROCESS_H
#define TESTS_SUPPORT_SIMULATORPROCESS_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

// "--module SPEC" for each spec: simulator arguments for a list of modules.
std::vector<std::string> moduleArgs(std::initializer_list<const char*> specs);

// One sorvinda-modulesim run in the modules namespace of the current
// isolated network, for tests and benchmarks:
//
//     testsupport::requireIsolatedNetwork();
//     testsupport::SimulatorProcess simulator({"--count", "5"});
//     ASSERT_TRUE(simulator.start()) << simulator.error();
//     ... QORT_SendModuleScan() ...
//     ASSERT_TRUE(simulator.waitForLine(std::regex("^wink 00-30-11-00-00-01"), 2s));
//
// It runs `ip netns exec $SORVINDA_NETNS_MODULES <bin>/sorvinda-modulesim
// ARGS`, reads its stdout on a thread of its own and
// keeps every line (format: sorvinda-modulesim --help). The simulator's
// stderr goes to the test's stderr. The destructor stops it (SIGTERM, then
// SIGKILL after a bounded wait), so it never outlives the test.
// All members may be called from any thread.
class SimulatorProcess {
public:
    static constexpr std::chrono::milliseconds kDefaultReadyTimeout{10000};
    static constexpr std::chrono::milliseconds kStopTimeout{3000};

    using LinePredicate = std::function<bool(const std::string&)>;

    // `network` 2: in the second modules namespace (isolated-net run
    // --networks 2); start() fails without one.
    explicit SimulatorProcess(std::vector<std::string> arguments, int network = 1);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Spawns the simulator and waits for its "ready" line. False when it
    // could not be spawned, exited, or was not ready in time; error() then
    // says why (with the simulator's last lines). Call once.
    bool start(std::chrono::milliseconds readyTimeout = kDefaultReadyTimeout);
    std::string error() const;

    // Every line so far, without its newline.
    std::vector<std::string> lines() const;
    std::size_t lineCount() const;

    // The first line with index >= `from` that `matches`, waiting up to
    // `timeout` for it; nothing on timeout or when the simulator has ended
    // without such a line. Use lineCount() before an action as `from` to
    // look only at what the action caused.
    std::optional<std::string> waitForLine(
        const LinePredicate& matches, std::chrono::milliseconds timeout, std::size_t from = 0) const;
    std::optional<std::string> waitForLine(
        const std::regex& pattern, std::chrono::milliseconds timeout, std::size_t from = 0) const;
    // Waits until at least `count` lines from `from` on match; true then.
    bool waitForLines(
        const LinePredicate& matches, std::size_t count, std::chrono::milliseconds timeout, std::size_t from = 0) const;
    std::vector<std::string> linesMatching(const LinePredicate& matches, std::size_t from = 0) const;

    // Ends the simulator: SIGTERM, up to kStopTimeout for it to exit, then
    // SIGKILL. Returns its exit status, 128+signal when a signal ended it, or
    // -1 when it was never started. Idempotent.
    int stop();
    pid_t pid() const { return pid_; }

private:
    void readOutput();
    bool waitForExit(std::chrono::milliseconds timeout);

    std::vector<std::string> arguments_;
    int network_ = 1;
    pid_t pid_ = -1;
    int outputFd_ = -1;
    int exitStatus_ = -1;
    bool reaped_ = false;
    std::thread reader_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool outputClosed_ = false;
    std::string error_;
};

// A "recv" or "send" line taken apart.
struct DatagramLine {
    std::string direction; // "recv" or "send"
    std::string address;   // "255.255.255.255"
    std::uint16_t port = 0;
    std::size_t length = 0;       // the datagram's length on the wire
    std::string bytes;            // the bytes, unescaped (NULs included)
    std::int64_t timestampNs = 0; // CLOCK_MONOTONIC (std::chrono::steady_clock)
};

// Nothing for any other kind of line or a malformed one.
std::optional<DatagramLine> parseDatagramLine(const std::string& line);

} // namespace testsupport

#endif
