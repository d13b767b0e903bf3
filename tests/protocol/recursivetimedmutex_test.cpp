#include "platform/recursivetimedmutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::RecursiveTimedMutex;

constexpr auto kShortTimeout = 20ms;
constexpr auto kLongBound = 5s;

bool tryFromOtherThread(RecursiveTimedMutex& mutex, std::chrono::milliseconds timeout)
{
    return std::async(std::launch::async, [&] {
        std::unique_lock lock(mutex, timeout);
        return lock.owns_lock();
    }).get();
}

TEST(RecursiveTimedMutexTest, OwnerMayLockAgainOthersWaitUntilTheLastUnlock)
{
    RecursiveTimedMutex mutex;
    mutex.lock();
    ASSERT_TRUE(mutex.try_lock());
    ASSERT_TRUE(mutex.try_lock_for(kShortTimeout));
    EXPECT_FALSE(tryFromOtherThread(mutex, kShortTimeout));
    mutex.unlock();
    mutex.unlock();
    EXPECT_FALSE(tryFromOtherThread(mutex, kShortTimeout)) << "still held once";
    mutex.unlock();
    EXPECT_TRUE(tryFromOtherThread(mutex, kShortTimeout));
}

TEST(RecursiveTimedMutexTest, TimedWaitGivesUpAfterItsBound)
{
    RecursiveTimedMutex mutex;
    std::lock_guard held(mutex);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(tryFromOtherThread(mutex, kShortTimeout));
    EXPECT_GE(std::chrono::steady_clock::now() - before, kShortTimeout);
}

TEST(RecursiveTimedMutexTest, WaiterGetsTheLockWhenItIsReleased)
{
    RecursiveTimedMutex mutex;
    mutex.lock();
    std::atomic<bool> started{false};
    auto waiter = std::async(std::launch::async, [&] {
        started = true;
        std::unique_lock lock(mutex, std::chrono::duration_cast<std::chrono::milliseconds>(kLongBound));
        return lock.owns_lock();
    });
    while (!started)
        std::this_thread::yield();
    mutex.unlock();
    EXPECT_TRUE(waiter.get());
}

TEST(RecursiveTimedMutexTest, UnlockByAnotherThreadIsIgnored)
{
    RecursiveTimedMutex mutex;
    mutex.lock();
    std::async(std::launch::async, [&] { mutex.unlock(); }).get();
    EXPECT_FALSE(tryFromOtherThread(mutex, kShortTimeout)) << "a stranger released the owner's lock";
    mutex.unlock();
    EXPECT_TRUE(tryFromOtherThread(mutex, kShortTimeout));
}

TEST(RecursiveTimedMutexTest, CountsStayExactUnderContention)
{
    RecursiveTimedMutex mutex;
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                std::lock_guard outer(mutex);
                std::unique_lock inner(mutex, kLongBound);
                ++counter;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, kThreads * kRounds);
}

} // namespace
