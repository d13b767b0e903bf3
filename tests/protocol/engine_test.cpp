// The protocol engine over real UDP, in a private network namespace: a test
// socket plays the modules and sends to 127.0.0.1:3250, and the engine's
// own broadcasts come back to it as they would on a real segment.
#include "platform/udpsocket.h"
#include "protocol/engine.h"
#include "tests/support/threadcount.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::UdpSocket;
using qort::Engine;

constexpr auto kWaitBound = 2s;
// How long a LockHolder keeps the lock at most if the test never releases
// it. A test may run several operations that each wait out the engine's
// full lock bound, so this is far longer than their sum.
constexpr auto kHoldBound = 60s;
const std::string kMarker = "hn = marker;";

// Codes received by the callback, with a bounded wait for them. The
// callback is a plain C function pointer, hence one shared recorder.
class CodeRecorder {
public:
    void record(int code)
    {
        {
            std::lock_guard lock(mutex_);
            codes_.push_back(code);
        }
        changed_.notify_all();
    }

    bool waitForCount(std::size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kWaitBound, [&] { return codes_.size() >= count; });
    }

    std::vector<int> codes()
    {
        std::lock_guard lock(mutex_);
        return codes_;
    }

    void clear()
    {
        std::lock_guard lock(mutex_);
        codes_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> codes_;
};

CodeRecorder recorder;
void recordCode(int code)
{
    recorder.record(code);
}

std::string hostNameOf(const QORT_ModuleScanResponseType& r)
{
    if (r.HostNameValid != 1)
        return "<absent>";
    return std::string(r.HostName, ::strnlen(r.HostName, QORT_TEXT_FIELD_SIZE));
}

QORT_ConfigureRequestType winkRecord()
{
    QORT_ConfigureRequestType request{};
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
    std::memcpy(request.MacId, mac, sizeof mac);
    request.IpAddr = 0x0A000005;
    request.SubnetMask = request.Gateway = request.Dns1 = request.Dns2 = QORT_ADDR_NOT_GIVEN;
    request.Dhcp = 1;
    return request;
}

// Holds the engine's lock on a thread of its own until released, as a
// stuck receive pass or a slow caller would.
class LockHolder {
public:
    explicit LockHolder(platform::RecursiveTimedMutex& mutex)
        : thread_([this, &mutex] {
            std::unique_lock held(mutex);
            {
                std::lock_guard lock(stateMutex_);
                holding_ = true;
            }
            changed_.notify_all();
            std::unique_lock lock(stateMutex_);
            changed_.wait_for(lock, kHoldBound, [this] { return released_; });
        })
    {
        std::unique_lock lock(stateMutex_);
        changed_.wait_for(lock, kWaitBound, [this] { return holding_; });
    }

    ~LockHolder() { release(); }

    void release()
    {
        {
            std::lock_guard lock(stateMutex_);
            released_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    bool holding()
    {
        std::lock_guard lock(stateMutex_);
        return holding_;
    }

private:
    std::mutex stateMutex_;
    std::condition_variable changed_;
    bool holding_ = false;
    bool released_ = false;
    std::thread thread_;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorder.clear();
        engine.setUp();
        engine.registerCallback(recordCode);
        ASSERT_EQ(engine.start(), 1);
        ASSERT_TRUE(modules.open());
    }

    void send(const std::string& bytes)
    {
        ASSERT_TRUE(modules.sendTo(UdpSocket::kLoopbackAddress, qort::kProtocolPort, bytes.data(), bytes.size()))
            << "errno " << modules.lastError();
    }

    // Sends a scan reply that the test can recognise and waits until the
    // engine has announced it: everything sent before it has been handled.
    void sendMarkerAndWait(std::size_t codesBefore)
    {
        send(kMarker);
        ASSERT_TRUE(recorder.waitForCount(codesBefore + 1)) << "marker not handled in time";
    }

    std::vector<QORT_ModuleScanResponseType> takeAll()
    {
        std::vector<QORT_ModuleScanResponseType> responses;
        QORT_ModuleScanResponseType response;
        while (engine.takeResponse(response) == 1)
            responses.push_back(response);
        return responses;
    }

    Engine engine;
    UdpSocket modules;
};

TEST_F(EngineTest, RepliesBecomeEntriesAndCodesInArrivalOrder)
{
    {
        // All three wait in the socket before one pass picks them up.
        LockHolder holder(engine.lockForTesting());
        ASSERT_TRUE(holder.holding());
        for (const char* name : {"first", "second", "third"})
            send(std::string("hn = ") + name + ";");
    }
    ASSERT_TRUE(recorder.waitForCount(3));
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_RESPONSE, QORT_CB_RESPONSE, QORT_CB_RESPONSE}));

    QORT_ModuleScanResponseType response;
    for (const char* name : {"first", "second", "third"}) {
        ASSERT_EQ(engine.takeResponse(response), 1);
        EXPECT_EQ(hostNameOf(response), name);
    }
    std::memset(&response, 0x5A, sizeof response);
    QORT_ModuleScanResponseType untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(engine.takeResponse(response), 0);
    EXPECT_EQ(std::memcmp(&response, &untouched, sizeof response), 0) << "an empty take wrote into the record";
}

TEST_F(EngineTest, SameModuleTwiceGivesTwoEqualEntries)
{
    const std::string reply = "mac = 00-30-11-01-02-03;ip = 10.200.1.3;";
    send(reply);
    send(reply);
    ASSERT_TRUE(recorder.waitForCount(2));
    const auto responses = takeAll();
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(std::memcmp(&responses[0], &responses[1], sizeof responses[0]), 0);
    EXPECT_EQ(responses[0].IpAddr, 0x0AC80103u);
}

TEST_F(EngineTest, InvalidPasswordPeekPeekDrop)
{
    send("Invalid Password: 02-00-00-00-00-01");
    send("INVALID PASSWORD:02-00-00-00-00-02");
    ASSERT_TRUE(recorder.waitForCount(2));
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_INVALID_PASSWORD, QORT_CB_INVALID_PASSWORD}));

    qort::MacAddress mac{};
    ASSERT_EQ(engine.peekInvalidPasswordMac(mac.data()), 1);
    EXPECT_EQ(mac, (qort::MacAddress{0x02, 0, 0, 0, 0, 0x01}));
    mac.fill(0);
    ASSERT_EQ(engine.peekInvalidPasswordMac(mac.data()), 1);
    EXPECT_EQ(mac, (qort::MacAddress{0x02, 0, 0, 0, 0, 0x01})) << "a peek must not remove the entry";

    engine.dropInvalidPasswordMac();
    ASSERT_EQ(engine.peekInvalidPasswordMac(mac.data()), 1);
    EXPECT_EQ(mac, (qort::MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})) << "no space after the colon";

    engine.dropInvalidPasswordMac();
    mac.fill(0x5A);
    EXPECT_EQ(engine.peekInvalidPasswordMac(mac.data()), 0);
    EXPECT_EQ(mac, (qort::MacAddress{0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}));
    engine.dropInvalidPasswordMac(); // on an empty queue: nothing happens
    EXPECT_TRUE(takeAll().empty()) << "invalid-password replies do not reach the response queue";
}

TEST_F(EngineTest, ReconfiguredRaisesCodeTwoOnceAndQueuesNothing)
{
    send("Reconfigured: 02-00-00-12-34-56;ip = 1.2.3.4;");
    sendMarkerAndWait(1);
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_RECONFIGURED, QORT_CB_RESPONSE}));
    const auto responses = takeAll();
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(hostNameOf(responses[0]), "marker");
    qort::MacAddress mac{};
    EXPECT_EQ(engine.peekInvalidPasswordMac(mac.data()), 0);
}

TEST_F(EngineTest, DatagramsAroundTheSizeLimit)
{
    const std::string key = "hn = big;";
    const std::string exact = std::string(qort::kMaxReplyLength - key.size(), ' ') + key;
    ASSERT_EQ(exact.size(), 1500u);
    send(" " + exact); // 1501 bytes: lost whole, no code
    send(exact);       // 1500 bytes: handled
    sendMarkerAndWait(1);
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_RESPONSE, QORT_CB_RESPONSE}));
    const auto responses = takeAll();
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(hostNameOf(responses[0]), "big");
    EXPECT_EQ(hostNameOf(responses[1]), "marker");
}

TEST_F(EngineTest, EmptyDatagramAtTheHeadDoesNotHideTheReplyBehindIt)
{
    {
        LockHolder holder(engine.lockForTesting());
        ASSERT_TRUE(holder.holding());
        send("");
        send(kMarker);
    }
    ASSERT_TRUE(recorder.waitForCount(1)) << "the reply behind an empty datagram was never handled";
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_RESPONSE}));
    ASSERT_EQ(takeAll().size(), 1u);
}

TEST_F(EngineTest, TextEndsAtItsFirstNul)
{
    send(std::string("hn = a\0ip = 1.2.3.4;", 20));
    ASSERT_TRUE(recorder.waitForCount(1));
    const auto responses = takeAll();
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(hostNameOf(responses[0]), "a");
    EXPECT_EQ(responses[0].IpAddrValid, 0);
}

TEST_F(EngineTest, RepliesWithoutCallbackAreQueued)
{
    engine.registerCallback(nullptr);
    send("hn = one;");
    send("hn = two;");
    std::vector<QORT_ModuleScanResponseType> responses;
    const auto deadline = std::chrono::steady_clock::now() + kWaitBound;
    while (responses.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        for (const auto& r : takeAll())
            responses.push_back(r);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(hostNameOf(responses[0]), "one");
    EXPECT_EQ(hostNameOf(responses[1]), "two");
    EXPECT_TRUE(recorder.codes().empty());
}

// The engine's own broadcasts come back to its socket. Both go the same way,
// so when the wink's echo has arrived the scan's echo has been handled too.
TEST_F(EngineTest, OwnScanEchoIgnoredOwnWinkAndConfigureEchoesParsed)
{
    EXPECT_EQ(engine.sendModuleScan(), 1);
    const QORT_ConfigureRequestType request = winkRecord();
    engine.sendWink(request);
    ASSERT_TRUE(recorder.waitForCount(1)) << "no echo of our own broadcast";
    engine.sendConfigure(request);
    ASSERT_TRUE(recorder.waitForCount(2));
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_RESPONSE, QORT_CB_RESPONSE}));

    const auto responses = takeAll();
    ASSERT_EQ(responses.size(), 2u);
    const auto& wink = responses[0];
    for (const std::uint8_t valid : {wink.ProtocolVersionValid, wink.FbTypeValid, wink.ModuleVersionValid,
             wink.MacIdValid, wink.IpAddrValid, wink.SubnetMaskValid, wink.GatewayValid, wink.DhcpValid, wink.PswdValid,
             wink.HostNameValid, wink.Dns1Valid, wink.Dns2Valid})
        EXPECT_EQ(valid, 0);
    const auto& configure = responses[1];
    EXPECT_EQ(configure.MacIdValid, 0);
    EXPECT_EQ(configure.IpAddrValid, 1);
    EXPECT_EQ(configure.IpAddr, 0x0A000005u);
    EXPECT_EQ(configure.DhcpValid, 1);
    EXPECT_EQ(configure.Dhcp, 1);
    EXPECT_EQ(hostNameOf(configure), "");
    EXPECT_EQ(configure.SubnetMaskValid, 0);
}

TEST_F(EngineTest, OperationsGiveUpWhenTheLockStaysTaken)
{
    send("hn = queued;");
    send("Invalid Password: 02-00-00-00-00-07");
    ASSERT_TRUE(recorder.waitForCount(2));

    QORT_ModuleScanResponseType response;
    std::memset(&response, 0x5A, sizeof response);
    qort::MacAddress mac{};
    {
        LockHolder holder(engine.lockForTesting());
        ASSERT_TRUE(holder.holding());
        EXPECT_EQ(engine.sendModuleScan(), 0);
        EXPECT_EQ(engine.takeResponse(response), 0);
        EXPECT_EQ(response.HostNameValid, 0x5A) << "the record was written without the lock";
        EXPECT_EQ(engine.peekInvalidPasswordMac(mac.data()), 0);
        engine.dropInvalidPasswordMac();
        const QORT_ConfigureRequestType request = winkRecord();
        engine.sendWink(request);
        engine.sendConfigure(request);
    }
    // Nothing was removed and nothing was sent while the lock was held: the
    // only echo that can arrive now is of the marker.
    sendMarkerAndWait(2);
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_RESPONSE, QORT_CB_INVALID_PASSWORD, QORT_CB_RESPONSE}));
    const auto responses = takeAll();
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(hostNameOf(responses[0]), "queued");
    EXPECT_EQ(hostNameOf(responses[1]), "marker");
    ASSERT_EQ(engine.peekInvalidPasswordMac(mac.data()), 1);
    EXPECT_EQ(mac[5], 0x07);
}

Engine* reentrantEngine = nullptr;
std::vector<std::string> takenInCallback;

void takeInsideCallback(int code)
{
    QORT_ModuleScanResponseType response;
    if (code == QORT_CB_RESPONSE && reentrantEngine->takeResponse(response) == 1)
        takenInCallback.push_back(hostNameOf(response));
    recorder.record(code);
}

TEST_F(EngineTest, CallbackMayCallTheEngineOnItsOwnThread)
{
    reentrantEngine = &engine;
    takenInCallback.clear();
    engine.registerCallback(takeInsideCallback);
    send("hn = inside;");
    ASSERT_TRUE(recorder.waitForCount(1));
    engine.registerCallback(recordCode);
    EXPECT_EQ(takenInCallback, (std::vector<std::string>{"inside"}));
    EXPECT_TRUE(takeAll().empty());
}

TEST_F(EngineTest, SecondStartStartsNothing)
{
    const std::size_t before = testsupport::threadCount();
    ASSERT_GT(before, 0u);
    EXPECT_EQ(engine.start(), 1);
    EXPECT_EQ(testsupport::threadCount(), before);
    sendMarkerAndWait(0);
    EXPECT_EQ(recorder.codes(), (std::vector<int>{QORT_CB_RESPONSE}));
}

TEST_F(EngineTest, ShutdownStopsThreadsAndSends)
{
    const std::size_t running = testsupport::threadCount();
    engine.shutdown();
    EXPECT_EQ(testsupport::threadCount(), running - 1) << "receive thread still alive";
    EXPECT_EQ(engine.sendModuleScan(), 0);
    EXPECT_EQ(engine.start(), 0);
}

TEST(EngineLifecycle, StartBeforeSetUpIsRefused)
{
    Engine engine;
    const std::size_t before = testsupport::threadCount();
    EXPECT_EQ(engine.start(), 0);
    EXPECT_EQ(testsupport::threadCount(), before);
    EXPECT_EQ(engine.sendModuleScan(), 0) << "no socket before set-up";
}

TEST(EngineLifecycle, SetUpWithoutPortStillStartsButSendsFail)
{
    UdpSocket squatter;
    ASSERT_TRUE(squatter.open());
    ASSERT_TRUE(squatter.bind(qort::kProtocolPort));
    Engine engine;
    engine.setUp();
    EXPECT_EQ(engine.start(), 1);
    EXPECT_EQ(engine.sendModuleScan(), 0);
    QORT_ModuleScanResponseType response;
    EXPECT_EQ(engine.takeResponse(response), 0);
}

} // namespace
