#include "platform/autoresetevent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace {

using namespace std::chrono_literals;
using platform::AutoResetEvent;

constexpr auto kShortTimeout = 10ms;
constexpr auto kLongBound = 5s;

TEST(AutoResetEventTest, OneSetReleasesOneWait)
{
    AutoResetEvent event;
    EXPECT_FALSE(event.waitFor(kShortTimeout));
    event.set();
    event.set(); // setting a set event changes nothing
    EXPECT_TRUE(event.waitFor(kShortTimeout));
    EXPECT_FALSE(event.waitFor(kShortTimeout)) << "the first wait should have reset the event";
}

TEST(AutoResetEventTest, SetFromAnotherThreadWakesTheWaiter)
{
    AutoResetEvent event;
    auto waiter = std::async(std::launch::async, [&] { return event.waitFor(kLongBound); });
    event.set();
    EXPECT_TRUE(waiter.get());
}

} // namespace
