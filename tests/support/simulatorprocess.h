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
std::vector<std::string> moduleArgs(std::initializer_list<std::string> specs);

// One sorvinda-modulesim run in the modules namespace of the current
// isolated network (`ip netns exec $SORVINDA_NETNS_MODULES`), for tests and
// benchmarks. Its stdout is read on a thread of its own and every line kept
// (format: sorvinda-modulesim --help); its stderr goes to the test's. The
// destructor stops it. All members may be called from any thread.
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

    // Spawns the simulator and waits for its "ready" line; false (and
    // error() says why) when it did not get ready in time. Call once.
    bool start(std::chrono::milliseconds readyTimeout = kDefaultReadyTimeout);
    std::string error() const;

    // Every line so far, without its newline.
    std::vector<std::string> lines() const;
    std::size_t lineCount() const;

    // The first line from index `from` on that matches, waiting up to
    // `timeout`; nothing when none came. lineCount() before an action as
    // `from` looks only at what the action caused.
    std::optional<std::string> waitForLine(
        const LinePredicate& matches, std::chrono::milliseconds timeout, std::size_t from = 0) const;
    std::optional<std::string> waitForLine(
        const std::regex& pattern, std::chrono::milliseconds timeout, std::size_t from = 0) const;
    // Waits until at least `count` lines from `from` on match; true then.
    bool waitForLines(
        const LinePredicate& matches, std::size_t count, std::chrono::milliseconds timeout, std::size_t from = 0) const;
    std::vector<std::string> linesMatching(const LinePredicate& matches, std::size_t from = 0) const;

    // SIGTERM, then SIGKILL after kStopTimeout. Its exit status, 128+signal,
    // or -1 when it was never started. Idempotent.
    int stop();

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
