#include "platform/autoresetevent.h"

namespace platform {

void AutoResetEvent::set()
{
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    condition_.notify_one();
}

bool AutoResetEvent::waitFor(std::chrono::nanoseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!condition_.wait_for(lock, timeout, [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

} // namespace platform
