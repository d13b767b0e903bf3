#ifndef TOOLS_MODULESIM_SIMULATOR_H
#define TOOLS_MODULESIM_SIMULATOR_H

#include "tools/modulesim/request.h"
#include "tools/modulesim/simulatoroptions.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <queue>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace modulesim {

// The simulator's one socket and event loop: receives requests on the
// protocol port, lets the modules react, sends their replies when due and
// logs every step as one line on `log` (format: SimulatorOptions::helpText).
// Single-threaded; replies that wait for --delay/--jitter sit in a queue
// ordered by due time, so a slow reply never holds up the next request.
class Simulator {
public:
    Simulator(SimulatorOptions options, std::FILE* log);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens and binds the socket (SO_REUSEADDR, SO_BROADCAST, all local
    // addresses) and writes the "ready" line. False after an "error" line.
    bool open();

    // Serves until *stopRequested becomes non-zero or --exit-after is
    // reached. `waitMask` is the signal mask while waiting (ppoll), so that
    // signals blocked elsewhere interrupt the wait. Returns the exit status.
    int run(const volatile std::sig_atomic_t* stopRequested, const sigset_t* waitMask);

private:
    using Clock = std::chrono::steady_clock;

    struct Outgoing {
        Clock::time_point due;
        std::uint64_t sequence; // keeps replies due at the same moment in order
        std::uint32_t address;
        std::uint16_t port;
        std::string bytes;
        bool operator>(const Outgoing& other) const
        {
            return due != other.due ? due > other.due : sequence > other.sequence;
        }
    };
    struct Sent {
        const Outgoing* outgoing;
        std::int64_t timestampNs;
        bool ok;
        int error;
    };

    bool receiveWaiting();
    void handleDatagram(std::string_view bytes, std::uint32_t address, std::uint16_t port);
    void answerScan(std::uint32_t address, std::uint16_t port);
    void answerConfigure(const Request& request, std::uint32_t address, std::uint16_t port);
    void noteWink(const Request& request);
    void schedule(std::string bytes, std::uint32_t address, std::uint16_t port);
    void sendDue();
    Sent sendOne(const Outgoing& outgoing);
    void logSent(const Sent& sent);

    bool isOwnEcho(std::string_view bytes, std::uint16_t port);
    void expectEcho(const std::string& bytes);
    void forgetOldEchoes();

    int waitTimeoutMs() const;
    bool finished() const;
    void logLine(const std::string& line);

    SimulatorOptions options_;
    std::FILE* log_;
    int socket_ = -1;
    std::mt19937 random_;
    std::uint32_t seed_ = 0;
    std::priority_queue<Outgoing, std::vector<Outgoing>, std::greater<>> pending_;
    std::uint64_t nextSequence_ = 0;
    // Broadcast payloads whose copy has not come back yet, with send times.
    std::unordered_map<std::string, std::deque<Clock::time_point>> expectedEchoes_;
    std::deque<std::pair<Clock::time_point, std::string>> echoAges_;
    std::vector<char> receiveBuffer_;
    long received_ = 0;
    long sent_ = 0;
    bool logBroken_ = false;
};

} // namespace modulesim

#endif
