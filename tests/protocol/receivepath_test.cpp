// The engine's receive path over real UDP, in a private network namespace:
// waiting on the socket, bounded passes under a flood, capped queues, lost
// replies, and the lifecycle calls that may come from inside the callback.
#include "platform/udpsocket.h"
#include "protocol/engine.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::UdpSocket;
using qort::Engine;
using testsupport::waitUntil;

constexpr auto kWaitBound = 5000ms;
// A flood long enough to keep one pass busy far beyond the lock bound if
// passes were not bounded, short enough for a sanitizer build.
constexpr int kFloodDatagrams = 40000;
constexpr auto kFloodBound = 8000ms;
// Datagrams sent to a blocked engine to overflow its 1 MiB buffer (each
// takes about 2 KiB of it in the kernel's accounting).
constexpr int kOverflowDatagrams = 3000;
constexpr std::size_t kOverflowDatagramSize = 1400;
// Senders pause for the engine after this many datagrams, so that the
// kernel drops none of them.
constexpr std::size_t kSendChunk = 200;

std::atomic<int> callbacks{0};
void countCallback(int)
{
    ++callbacks;
}

// Ends the test program when `work` has not finished within the bound: a
// deadlock then fails the test instead of hanging it.
void runWithWatchdog(const char* what, const std::function<void()>& work)
{
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(kWaitBound) != std::future_status::ready) {
        ADD_FAILURE() << what << " did not end within the bound";
        std::fflush(nullptr);
        std::_Exit(EXIT_FAILURE);
    }
}

class ReceivePathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        callbacks = 0;
        engine.setUp();
        engine.registerCallback(countCallback);
        ASSERT_EQ(engine.start(), 1);
        ASSERT_TRUE(modules.open());
    }

    bool send(const std::string& bytes)
    {
        return modules.sendTo(UdpSocket::kLoopbackAddress, qort::kProtocolPort, bytes.data(), bytes.size());
    }

    // Sends each text and waits, chunk by chunk, until the engine has
    // raised a code for every one.
    void sendAllHandled(const std::vector<std::string>& texts)
    {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            ASSERT_TRUE(send(texts[i]));
            if ((i + 1) % kSendChunk == 0 || i + 1 == texts.size()) {
                ASSERT_TRUE(waitUntil([&] { return callbacks >= static_cast<int>(i + 1); }, kWaitBound));
            }
        }
    }

    std::vector<std::string> takeAllHostNames()
    {
        std::vector<std::string> names;
        QORT_ModuleScanResponseType response;
        while (engine.takeResponse(response) == 1)
            names.emplace_back(response.HostName, ::strnlen(response.HostName, QORT_TEXT_FIELD_SIZE));
        return names;
    }

    Engine engine;
    UdpSocket modules;
};

TEST_F(ReceivePathTest, ShutdownWhileBlockedInTheWaitEndsPromptly)
{
    ASSERT_TRUE(send("hn = before;"));
    ASSERT_TRUE(waitUntil([] { return callbacks == 1; }, kWaitBound));
    runWithWatchdog("shutdown", [this] { engine.shutdown(); });
    EXPECT_EQ(engine.start(), 0);
}

// A start from inside the callback returns at once: 1 while the engine
// runs, 0 once its unload step has begun (which then joins this thread).
Engine* startingEngine = nullptr;
std::atomic<bool> shutdownBegun{false};
std::vector<int> startResults;

void startFromCallback(int)
{
    if (callbacks++ == 1)
        waitUntil([] { return shutdownBegun.load(); }, kWaitBound);
    startResults.push_back(startingEngine->start());
}

TEST_F(ReceivePathTest, StartFromTheCallbackNeverWaitsForTheUnloadStep)
{
    startingEngine = &engine;
    startResults.clear();
    shutdownBegun = false;
    engine.registerCallback(startFromCallback);
    ASSERT_TRUE(send("hn = first;"));
    ASSERT_TRUE(waitUntil([] { return callbacks == 1; }, kWaitBound));
    ASSERT_TRUE(send("hn = second;"));
    ASSERT_TRUE(waitUntil([] { return callbacks == 2; }, kWaitBound));
    runWithWatchdog("shutdown during a start from the callback", [this] {
        shutdownBegun = true;
        engine.shutdown();
    });
    EXPECT_EQ(startResults, (std::vector<int>{1, 0}));
}

// Every caller gets the lock while datagrams keep coming, and the queue
// never holds more than its limit.
TEST_F(ReceivePathTest, FloodLocksNoCallerOutAndQueuesStayCapped)
{
    std::atomic<bool> flooding{true};
    auto flood = std::async(std::launch::async, [&] {
        UdpSocket flooder;
        const auto deadline = std::chrono::steady_clock::now() + kFloodBound;
        if (flooder.open())
            for (int i = 0; i < kFloodDatagrams && std::chrono::steady_clock::now() < deadline; ++i)
                flooder.sendTo(UdpSocket::kLoopbackAddress, qort::kProtocolPort, "hn = flood;", 11);
        flooding = false;
    });
    int callsDuringFlood = 0;
    while (flooding) {
        EXPECT_EQ(engine.sendModuleScan(), 1) << "a caller was locked out";
        ++callsDuringFlood;
    }
    flood.get();
    EXPECT_GT(callsDuringFlood, 0);
    EXPECT_LE(takeAllHostNames().size(), Engine::kMaxQueuedResponses);
}

// A full queue drops its oldest entry for the new one.
TEST_F(ReceivePathTest, FullQueuesKeepTheNewestEntries)
{
    constexpr std::size_t kBeyond = 300;
    std::vector<std::string> replies;
    for (std::size_t i = 0; i < Engine::kMaxQueuedResponses + kBeyond; ++i)
        replies.push_back("hn = " + std::to_string(i) + ";");
    sendAllHandled(replies);
    const auto names = takeAllHostNames();
    ASSERT_EQ(names.size(), Engine::kMaxQueuedResponses);
    EXPECT_EQ(names.front(), std::to_string(kBeyond));
    EXPECT_EQ(names.back(), std::to_string(Engine::kMaxQueuedResponses + kBeyond - 1));

    callbacks = 0;
    std::vector<std::string> rejections;
    for (std::size_t i = 0; i < Engine::kMaxQueuedInvalidPasswords + kBeyond; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "02-00-00-00-%02zX-%02zX", i / 256, i % 256);
        rejections.push_back(std::string("Invalid Password: ") + mac);
    }
    sendAllHandled(rejections);
    qort::MacAddress head{};
    ASSERT_EQ(engine.peekInvalidPasswordMac(head.data()), 1);
    EXPECT_EQ(head, (qort::MacAddress{0x02, 0, 0, 0, kBeyond / 256, kBeyond % 256}));
}

// An entry left from before a scan (its take gave up on the lock, or it was
// never taken) must not come out at the head of the new scan's replies.
TEST_F(ReceivePathTest, ScanDropsEntriesQueuedBeforeIt)
{
    ASSERT_TRUE(send("hn = stale;"));
    ASSERT_TRUE(waitUntil([] { return callbacks == 1; }, kWaitBound));
    ASSERT_EQ(engine.sendModuleScan(), 1);
    ASSERT_TRUE(send("hn = fresh;"));
    ASSERT_TRUE(waitUntil([] { return callbacks == 2; }, kWaitBound));
    EXPECT_EQ(takeAllHostNames(), (std::vector<std::string>{"fresh"}));
}

// A round of a scan (the scan or a repeat) whose replies overflow the
// kernel's buffer while the engine waits for the lock. Its replies come
// from kModulesPerRound modules, taking turns, so the first datagrams,
// which the buffer keeps, name every one: modules new to the scan, or
// those of the round before.
enum class Round { NewModules, SameModules };
constexpr int kModulesPerRound = 8;

struct RepeatCase {
    const char* name;
    std::vector<Round> rounds;
    std::uint32_t repeats;
};

// Losses repeat a scan while the repeats bring new modules, at most
// kMaxRepeats times; what the last round lost is reported.
TEST_F(ReceivePathTest, LossesRepeatTheScanWhileRepeatsBringNewModules)
{
    const RepeatCase cases[] = {
        {"the second repeat brings nothing new", {Round::NewModules, Round::NewModules, Round::SameModules}, 2},
        {"every repeat brings new modules", std::vector(Engine::kMaxRepeats + 1, Round::NewModules),
            Engine::kMaxRepeats},
    };
    int moduleGroup = 0;
    for (const RepeatCase& c : cases) {
        const std::uint32_t repeatedBefore = engine.repeatedScans(), declinedBefore = engine.declinedRepeats();
        ASSERT_EQ(engine.sendModuleScan(), 1);
        for (std::size_t round = 0; round < c.rounds.size(); ++round) {
            moduleGroup += c.rounds[round] == Round::NewModules ? 1 : 0;
            {
                std::unique_lock held(engine.lockForTesting());
                for (int i = 0; i < kOverflowDatagrams; ++i) {
                    char mac[32];
                    std::snprintf(mac, sizeof mac, "mac = 02-00-00-00-%02X-%02X;", moduleGroup, i % kModulesPerRound);
                    ASSERT_TRUE(send(std::string(kOverflowDatagramSize - std::strlen(mac), ' ') + mac));
                }
            }
            const bool last = round + 1 == c.rounds.size();
            ASSERT_TRUE(waitUntil(
                [&] {
                    return last ? engine.declinedRepeats() == declinedBefore + 1
                                : engine.repeatedScans() == repeatedBefore + round + 1;
                },
                kWaitBound))
                << c.name << ", round " << round;
        }
        EXPECT_EQ(engine.repeatedScans() - repeatedBefore, c.repeats) << c.name;
        EXPECT_GT(engine.lostReplies(), 0u) << c.name;
    }
    ASSERT_EQ(engine.sendModuleScan(), 1);
    EXPECT_EQ(engine.lostReplies(), 0u) << "a new scan starts a new count";
}

} // namespace
