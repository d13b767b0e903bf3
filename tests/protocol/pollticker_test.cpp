#include "platform/pollticker.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using platform::AutoResetEvent;
using platform::PollTicker;

constexpr auto kTickBound = 2s;
constexpr auto kShortTimeout = 50ms;

TEST(PollTickerTest, TicksUntilStopped)
{
    AutoResetEvent event;
    PollTicker ticker(event, 1ms);
    ASSERT_TRUE(ticker.start());
    EXPECT_FALSE(ticker.start()) << "a second thread must not start";
    for (int tick = 0; tick < 3; ++tick)
        EXPECT_TRUE(event.waitFor(kTickBound)) << "tick " << tick;
    ticker.stop();
    EXPECT_FALSE(ticker.isRunning());
    event.waitFor(0ms); // a tick set just before the stop
    EXPECT_FALSE(event.waitFor(kShortTimeout)) << "ticking after stop()";
}

TEST(PollTickerTest, StopWithoutStartAndRestart)
{
    AutoResetEvent event;
    PollTicker ticker(event);
    ticker.stop();
    ASSERT_TRUE(ticker.start());
    ticker.stop();
    ASSERT_TRUE(ticker.start());
    EXPECT_TRUE(event.waitFor(kTickBound));
}

} // namespace
