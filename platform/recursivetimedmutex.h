#ifndef PLATFORM_RECURSIVETIMEDMUTEX_H
#define PLATFORM_RECURSIVETIMEDMUTEX_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace platform {

// A re-entrant mutex with bounded waits: the behaviour and interface of
// std::recursive_timed_mutex (usable with std::unique_lock and a timeout).
//
// Why not std::recursive_timed_mutex itself: libstdc++ implements its timed
// waits with pthread_mutex_clocklock, which ThreadSanitizer (GCC 12) does
// not intercept; it then misses every timed acquisition and reports false
// races on everything the lock guards. Built on std::mutex and
// std::condition_variable, this lock is seen correctly, so the sanitizer
// checks the lock the library really uses. Timeouts run on steady_clock.
class RecursiveTimedMutex {
public:
    RecursiveTimedMutex() = default;
    RecursiveTimedMutex(const RecursiveTimedMutex&) = delete;
    RecursiveTimedMutex& operator=(const RecursiveTimedMutex&) = delete;

    void lock();
    bool try_lock();

    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& timeout)
    {
        return tryLockUntil(
            std::chrono::steady_clock::now() + std::chrono::ceil<std::chrono::steady_clock::duration>(timeout));
    }

    template <typename Duration>
    bool try_lock_until(const std::chrono::time_point<std::chrono::steady_clock, Duration>& deadline)
    {
        return tryLockUntil(std::chrono::time_point_cast<std::chrono::steady_clock::duration>(deadline));
    }

    // Undoes one lock by the owning thread; an unlock by any other thread
    // is ignored rather than corrupting the owner's count.
    void unlock();

    // For a thread that has just released the lock on purpose so that
    // others get a turn: waits, at most `timeout`, until one of the threads
    // that were waiting for the lock has taken it. Returns at once when no
    // thread waits. Call it without holding the lock.
    void yieldToWaiters(std::chrono::nanoseconds timeout);

private:
    bool tryLockUntil(std::chrono::steady_clock::time_point deadline);
    bool acquirableBy(std::thread::id self) const { return depth_ == 0 || owner_ == self; }
    void take(std::thread::id self);
    // Waits on released_ for the lock, counted in waiting_.
    bool waitUntilAcquirable(
        std::unique_lock<std::mutex>& state, std::thread::id self, std::chrono::steady_clock::time_point deadline);

    std::mutex mutex_;
    std::condition_variable released_;
    std::thread::id owner_;
    std::size_t depth_ = 0;
    std::size_t waiting_ = 0;
    std::size_t yielding_ = 0;
    std::uint64_t acquisitions_ = 0;
    std::condition_variable handedOver_;
};

} // namespace platform

#endif
