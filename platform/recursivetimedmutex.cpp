#include "platform/recursivetimedmutex.h"

namespace platform {

void RecursiveTimedMutex::take(std::thread::id self)
{
    owner_ = self;
    ++depth_;
}

void RecursiveTimedMutex::lock()
{
    const auto self = std::this_thread::get_id();
    std::unique_lock state(mutex_);
    released_.wait(state, [&] { return acquirableBy(self); });
    take(self);
}

bool RecursiveTimedMutex::try_lock()
{
    const auto self = std::this_thread::get_id();
    std::lock_guard state(mutex_);
    if (!acquirableBy(self))
        return false;
    take(self);
    return true;
}

bool RecursiveTimedMutex::tryLockUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto self = std::this_thread::get_id();
    std::unique_lock state(mutex_);
    if (!released_.wait_until(state, deadline, [&] { return acquirableBy(self); }))
        return false;
    take(self);
    return true;
}

void RecursiveTimedMutex::unlock()
{
    {
        std::lock_guard state(mutex_);
        if (depth_ == 0 || owner_ != std::this_thread::get_id())
            return;
        if (--depth_ > 0)
            return;
        owner_ = std::thread::id();
    }
    released_.notify_one();
}

} // namespace platform
