#include "platform/pollticker.h"

#include <system_error>

namespace platform {

PollTicker::PollTicker(AutoResetEvent& event, std::chrono::nanoseconds period)
    : event_(event)
    , period_(period)
{
}

PollTicker::~PollTicker()
{
    stop();
}

bool PollTicker::start()
{
    if (thread_.joinable())
        return false;
    stopping_ = false;
    try {
        thread_ = std::thread(&PollTicker::run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void PollTicker::stop()
{
    stopping_ = true;
    if (!thread_.joinable())
        return;
    // A tick handler cannot join its own thread; it lets it end on its own.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

void PollTicker::run()
{
    auto next = std::chrono::steady_clock::now();
    while (!stopping_) {
        next += period_;
        const auto now = std::chrono::steady_clock::now();
        // After a long stall (suspended machine, overloaded host) start
        // afresh instead of firing a burst of ticks to catch up.
        if (next < now)
            next = now + period_;
        std::this_thread::sleep_until(next);
        event_.set();
    }
}

} // namespace platform
