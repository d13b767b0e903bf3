#include "app/noticeguard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(NoticeGuardTest, DropsNoticesWithoutWindow)
{
    CNoticeGuard guard;
    EXPECT_FALSE(guard.Deliver(1));
}

TEST(NoticeGuardTest, DeliversCodesInOrderWhileAttached)
{
    CNoticeGuard guard;
    std::vector<int> seen;
    guard.Attach([&seen](int code) { seen.push_back(code); });
    EXPECT_TRUE(guard.Deliver(1));
    EXPECT_TRUE(guard.Deliver(3));
    EXPECT_TRUE(guard.Deliver(2));
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 2}));
}

TEST(NoticeGuardTest, DropsNoticesAfterDetach)
{
    CNoticeGuard guard;
    int calls = 0;
    guard.Attach([&calls](int) { ++calls; });
    guard.Detach();
    EXPECT_FALSE(guard.Deliver(1));
    EXPECT_EQ(calls, 0);
}

// A stand-in for the main window: it must never be used after it was
// destroyed, however the library's thread and the window's teardown
// interleave. ASan/TSan catch any use after the reset.
struct FakeWindow {
    std::atomic<int> received{0};
};

TEST(NoticeGuardTest, WindowDestroyedWhileLibraryThreadDeliversIsNeverUsedAfterwards)
{
    for (int round = 0; round < 50; ++round) {
        CNoticeGuard guard;
        auto window = std::make_unique<FakeWindow>();
        FakeWindow* target = window.get();
        guard.Attach([target](int) { target->received.fetch_add(1, std::memory_order_relaxed); });

        std::atomic<bool> stop{false};
        std::atomic<int> delivered{0};
        std::thread library([&] {
            while (!stop.load()) {
                if (guard.Deliver(1)) {
                    delivered.fetch_add(1);
                }
            }
        });
        // Let some notices through, then tear the window down as its
        // destructor does: detach first, destroy after.
        while (delivered.load() < 10) {
            std::this_thread::yield();
        }
        guard.Detach();
        const int atDetach = window->received.load();
        window.reset();
        stop = true;
        library.join();
        EXPECT_EQ(delivered.load(), atDetach) << "every successful delivery reached the window before it went";
    }
}

} // namespace
