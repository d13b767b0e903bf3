#ifndef PLATFORM_POLLTICKER_H
#define PLATFORM_POLLTICKER_H

#include "platform/autoresetevent.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

// A periodic clock: its own thread sets an AutoResetEvent once per period,
// paced by steady_clock and sleep_until so that lateness does not add up.
// The event must outlive the ticker. stop() (also run by the destructor)
// joins the thread; it returns within about one period.
class PollTicker {
public:
    explicit PollTicker(AutoResetEvent& event, std::chrono::nanoseconds period = std::chrono::milliseconds(1));
    ~PollTicker();
    PollTicker(const PollTicker&) = delete;
    PollTicker& operator=(const PollTicker&) = delete;

    // Starts the thread. False when it could not be created or already runs.
    bool start();
    void stop();
    bool isRunning() const { return thread_.joinable(); }

private:
    void run();

    AutoResetEvent& event_;
    const std::chrono::nanoseconds period_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace platform

#endif
