#include "platform/recursivetimedmutex.h"

namespace platform {

void RecursiveTimedMutex::take(std::thread::id self)
{
    owner_ = self;
    ++depth_;
    ++acquisitions_;
    if (yielding_ > 0)
        handedOver_.notify_all();
}

bool RecursiveTimedMutex::waitUntilAcquirable(
    std::unique_lock<std::mutex>& state, std::thread::id self, std::chrono::steady_clock::time_point deadline)
{
    if (acquirableBy(self))
        return true;
    ++waiting_;
    const bool acquirable = released_.wait_until(state, deadline, [&] { return acquirableBy(self); });
    --waiting_;
    return acquirable;
}

void RecursiveTimedMutex::lock()
{
    const auto self = std::this_thread::get_id();
    std::unique_lock state(mutex_);
    ++waiting_;
    released_.wait(state, [&] { return acquirableBy(self); });
    --waiting_;
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
    if (!waitUntilAcquirable(state, self, deadline))
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

void RecursiveTimedMutex::yieldToWaiters(std::chrono::nanoseconds timeout)
{
    std::unique_lock state(mutex_);
    if (waiting_ == 0)
        return;
    const std::uint64_t before = acquisitions_;
    ++yielding_;
    handedOver_.wait_for(state, timeout, [&] { return acquisitions_ != before || waiting_ == 0; });
    --yielding_;
}

} // namespace platform
