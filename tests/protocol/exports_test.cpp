// The shared library through its C interface, as a program binds it: the
// load-time set-up has run before main, the engine lives until the process
// ends. Runs in a private network namespace.
#include "platform/udpsocket.h"
#include "protocol/qort.h"
#include "tests/support/threadcount.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::UdpSocket;

constexpr std::uint16_t kProtocolPort = 3250;
constexpr auto kWaitBound = 2s;

std::atomic<int> responses{0};
std::atomic<int> invalidPasswords{0};

void countCodes(int code)
{
    if (code == QORT_CB_RESPONSE)
        ++responses;
    else if (code == QORT_CB_INVALID_PASSWORD)
        ++invalidPasswords;
}

bool waitFor(const std::atomic<int>& counter, int value)
{
    const auto deadline = std::chrono::steady_clock::now() + kWaitBound;
    while (counter < value && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return counter >= value;
}

void sendToLibrary(const std::string& text)
{
    UdpSocket modules;
    ASSERT_TRUE(modules.open());
    ASSERT_TRUE(modules.sendTo(UdpSocket::kLoopbackAddress, kProtocolPort, text.data(), text.size()));
}

// The engine is process-wide: started once, by the first test that needs it.
void startLibrary()
{
    QORT_RegisterCallBack(countCodes);
    ASSERT_EQ(QORT_Start(), 1);
}

TEST(DllGetVersionTest, WritesTheBuildVersionWhateverTheSizeField)
{
    for (const std::uint32_t size : {0u, 20u, 0xFFFFFFFFu}) {
        DLLVERSIONINFO info;
        std::memset(&info, 0xEE, sizeof info);
        info.cbSize = size;
        EXPECT_EQ(DllGetVersion(&info), 0);
        EXPECT_EQ(info.cbSize, size) << "the size field is not the library's to write";
        EXPECT_EQ(info.dwMajorVersion, 1u);
        EXPECT_EQ(info.dwMinorVersion, 1u);
        EXPECT_EQ(info.dwBuildNumber, 2u);
        EXPECT_EQ(info.dwPlatformID, static_cast<std::uint32_t>(DLLVER_PLATFORM_WINDOWS));
    }
}

TEST(DllGetVersionTest, NullRecordIsRefused)
{
    EXPECT_NE(DllGetVersion(nullptr), 0);
}

TEST(ExportsTest, NullArgumentsAreHarmless)
{
    EXPECT_EQ(QORT_GetResponse(nullptr), 0);
    EXPECT_EQ(QORT_GetInvPswdMacId(nullptr), 0);
    QORT_SendConfigure(nullptr);
    QORT_SendWink(nullptr);
    QORT_RemoveFirstInvPswdMacId();
}

TEST(ExportsTest, ScanReplyAndInvalidPasswordThroughTheCInterface)
{
    startLibrary();
    EXPECT_EQ(QORT_SendModuleScan(), 1);
    sendToLibrary("mac = 02-00-00-12-34-56;");
    ASSERT_TRUE(waitFor(responses, 1));
    QORT_ModuleScanResponseType response;
    ASSERT_EQ(QORT_GetResponse(&response), 1);
    EXPECT_EQ(response.MacIdValid, 1);
    EXPECT_EQ(response.MacId[5], 0x56);
    EXPECT_EQ(response.IpAddrValid, 0);
    EXPECT_EQ(response.IpAddr, 0xFFFFFFFFu);
    EXPECT_EQ(QORT_GetResponse(&response), 0) << "the scan's own echo must not be queued";

    sendToLibrary("Invalid Password: 02-00-00-12-34-56");
    ASSERT_TRUE(waitFor(invalidPasswords, 1));
    std::uint8_t mac[QORT_MAC_SIZE] = {};
    ASSERT_EQ(QORT_GetInvPswdMacId(mac), 1);
    EXPECT_EQ(mac[0], 0x02);
    QORT_RemoveFirstInvPswdMacId();
    EXPECT_EQ(QORT_GetInvPswdMacId(mac), 0);
}

TEST(ExportsTest, SecondStartReportsOneAndStartsNoThread)
{
    startLibrary();
    const std::size_t before = testsupport::threadCount();
    EXPECT_EQ(QORT_Start(), 1);
    EXPECT_EQ(testsupport::threadCount(), before);
}

} // namespace
