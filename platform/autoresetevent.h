#ifndef PLATFORM_AUTORESETEVENT_H
#define PLATFORM_AUTORESETEVENT_H

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

// An event that lets one waiter through per set(): a successful wait
// consumes the signal. Setting an already-set event changes nothing, so
// signals that pile up while nobody waits release only one wait.
class AutoResetEvent {
public:
    void set();
    // True when the event was set (and is now reset); false on timeout.
    bool waitFor(std::chrono::nanoseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
};

} // namespace platform

#endif
