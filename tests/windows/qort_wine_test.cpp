// qort.dll under wine, over real UDP against the Linux module simulator in
// the isolated network (tests/windows/run-wine-tests starts both). The
// simulator's log (its stdout, SORVINDA_SIM_LOG) shows what reached the
// modules. Suites by simulator set-up:
//   Modules  two plain modules and one with a password on the first module
//            network, one module on the second (not on the default route)
//   Hostile  a simulator answering with malformed and oversized datagrams
//   Library  needs no module
#include "protocol/qort.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kReplyTimeout = 10s;
constexpr DWORD kChildExitTimeoutMs = 20000;
constexpr char kExitChildFlag[] = "--exit-with-engine-running";
constexpr std::uint32_t kNotGiven = QORT_ADDR_NOT_GIVEN;

// Counts of the callback's codes, for bounded waits on the receive thread.
class Callbacks {
public:
    static Callbacks& instance()
    {
        static Callbacks* const callbacks = new Callbacks; // never freed: the receive thread may call late
        return *callbacks;
    }
    static void record(int code) { instance().add(code); }

    void reset()
    {
        std::lock_guard lock(mutex_);
        counts_.fill(0);
    }
    bool waitFor(int code, int count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kReplyTimeout, [&] { return counts_.at(code) >= count; });
    }
    int count(int code)
    {
        std::lock_guard lock(mutex_);
        return counts_.at(code);
    }

private:
    void add(int code)
    {
        std::lock_guard lock(mutex_);
        if (code > 0 && code < static_cast<int>(counts_.size()))
            ++counts_[code];
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<int, 4> counts_{};
};

std::string macText(const std::uint8_t* mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

QORT_ConfigureRequestType requestFor(std::array<std::uint8_t, QORT_MAC_SIZE> mac)
{
    QORT_ConfigureRequestType request{};
    std::memcpy(request.MacId, mac.data(), mac.size());
    request.IpAddr = request.SubnetMask = request.Gateway = request.Dns1 = request.Dns2 = kNotGiven;
    request.Dhcp = 0xFF;
    return request;
}

// Scans and takes the replies once `expected` callbacks came.
std::vector<QORT_ModuleScanResponseType> scan(int expected)
{
    Callbacks::instance().reset();
    EXPECT_EQ(QORT_SendModuleScan(), 1);
    EXPECT_TRUE(Callbacks::instance().waitFor(QORT_CB_RESPONSE, expected));
    std::vector<QORT_ModuleScanResponseType> replies;
    QORT_ModuleScanResponseType reply{};
    while (QORT_GetResponse(&reply) == 1)
        replies.push_back(reply);
    return replies;
}

// Waits (bounded) for a line of the simulator's log that begins with prefix.
bool simulatorLogged(const std::string& prefix)
{
    const char* path = std::getenv("SORVINDA_SIM_LOG");
    if (path == nullptr)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    do {
        std::ifstream log(path);
        for (std::string line; std::getline(log, line);)
            if (line.rfind(prefix, 0) == 0)
                return true;
        ::Sleep(50); // the log is a file another process appends to: re-read it
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

class WineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QORT_RegisterCallBack(&Callbacks::record);
        ASSERT_EQ(QORT_Start(), 1);
    }
};

using Modules = WineTest;
using Hostile = WineTest;
using Library = WineTest;

TEST_F(Modules, ScanReturnsEveryModuleWithItsFields)
{
    const auto replies = scan(4);
    ASSERT_EQ(replies.size(), 4u);
    std::set<std::string> macs;
    for (const auto& reply : replies) {
        ASSERT_EQ(reply.MacIdValid, 1);
        macs.insert(macText(reply.MacId));
        if (macText(reply.MacId) == "00-30-11-00-00-01") {
            EXPECT_EQ(reply.IpAddrValid, 1);
            EXPECT_EQ(reply.IpAddr, 0xC0A80A01u); // 192.168.10.1
            EXPECT_EQ(reply.SubnetMask, 0xFFFF0000u);
        }
    }
    EXPECT_EQ(macs,
        (std::set<std::string>{"00-30-11-00-00-01", "00-30-11-00-00-02", "00-30-11-00-00-0A", "00-30-11-00-00-22"}));
}

TEST_F(Modules, ConfigureIsAppliedAndConfirmed)
{
    Callbacks::instance().reset();
    auto request = requestFor({0x00, 0x30, 0x11, 0x00, 0x00, 0x01});
    request.IpAddr = 0xC0A80014; // 192.168.0.20
    std::strcpy(request.HostName, "winehost");
    QORT_SendConfigure(&request);
    EXPECT_TRUE(Callbacks::instance().waitFor(QORT_CB_RECONFIGURED, 1));
    EXPECT_TRUE(simulatorLogged("applied 00-30-11-00-00-01 ip=192.168.0.20"));
}

TEST_F(Modules, WrongPasswordIsQueuedAndReported)
{
    Callbacks::instance().reset();
    auto request = requestFor({0x00, 0x30, 0x11, 0x00, 0x00, 0x0A});
    std::strcpy(request.Password, "wrong");
    QORT_SendConfigure(&request);
    ASSERT_TRUE(Callbacks::instance().waitFor(QORT_CB_INVALID_PASSWORD, 1));
    std::uint8_t mac[QORT_MAC_SIZE] = {};
    ASSERT_EQ(QORT_GetInvPswdMacId(mac), 1);
    EXPECT_EQ(macText(mac), "00-30-11-00-00-0A");
    QORT_RemoveFirstInvPswdMacId();
    EXPECT_EQ(QORT_GetInvPswdMacId(mac), 0);
    EXPECT_TRUE(simulatorLogged("invalid-password 00-30-11-00-00-0A password=wrong"));
}

TEST_F(Modules, WinkReachesTheModule)
{
    const auto request = requestFor({0x00, 0x30, 0x11, 0x00, 0x00, 0x02});
    QORT_SendWink(&request);
    EXPECT_TRUE(simulatorLogged("wink 00-30-11-00-00-02"));
}

// The simulator answers each scan with garbage, an empty datagram, a reply
// longer than any real one (carrying MAC ...0D) and one good reply. The
// garbage is a reply that names no field (a record with every Valid 0), the
// empty one is skipped, the long one is discarded whole; the library keeps
// working for the next scan.
TEST_F(Hostile, OnlyTheWellFormedReplyIsQueued)
{
    for (int round = 0; round < 2; ++round) {
        Callbacks::instance().reset();
        ASSERT_EQ(QORT_SendModuleScan(), 1);
        ASSERT_TRUE(Callbacks::instance().waitFor(QORT_CB_RESPONSE, 2));
        std::vector<std::string> macs;
        QORT_ModuleScanResponseType reply{};
        while (QORT_GetResponse(&reply) == 1)
            macs.push_back(reply.MacIdValid == 1 ? macText(reply.MacId) : "<none>");
        EXPECT_EQ(macs, (std::vector<std::string>{"<none>", "00-30-11-00-00-0C"})) << "round " << round;
    }
}

TEST_F(Library, DllGetVersionReportsOneOneTwo)
{
    DLLVERSIONINFO info{};
    ASSERT_EQ(DllGetVersion(&info), 0);
    EXPECT_EQ(info.dwMajorVersion, 1u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_EQ(info.dwBuildNumber, 2u);
    EXPECT_EQ(info.dwPlatformID, static_cast<std::uint32_t>(DLLVER_PLATFORM_WINDOWS));
}

// Read with the Win32 version API, as a Windows program checks the library.
TEST_F(Library, VersionResourceReadsThroughTheVersionApi)
{
    char path[MAX_PATH] = {};
    HMODULE library = ::GetModuleHandleA("qort.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_GT(::GetModuleFileNameA(library, path, sizeof path), 0u);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    WORD* translation = nullptr;
    ASSERT_TRUE(
        ::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);
    for (const auto& [key, expected] : {std::pair{"FileVersion", "1, 1, 2, 0"},
             std::pair{"FileDescription", "qort dll"}, std::pair{"OriginalFilename", "qort.dll"}}) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
        ASSERT_TRUE(::VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << key;
        EXPECT_STREQ(value, expected) << key;
    }
}

// A program that returns from main while the receive thread waits (and has
// just handled replies) ends promptly and with its own status.
TEST_F(Library, ProcessExitsWithTheEngineRunning)
{
    char self[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    std::string command = std::string("\"") + self + "\" " + kExitChildFlag;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    const DWORD waited = ::WaitForSingleObject(child.hProcess, kChildExitTimeoutMs);
    DWORD status = STILL_ACTIVE;
    ::GetExitCodeProcess(child.hProcess, &status);
    if (waited != WAIT_OBJECT_0)
        ::TerminateProcess(child.hProcess, 1);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the child did not exit";
    EXPECT_EQ(status, 7u);
}

// The child: start, scan, return from main at once.
constexpr int kChildStatus = 7;
int runExitChild()
{
    QORT_RegisterCallBack(&Callbacks::record);
    if (QORT_Start() != 1)
        return 2;
    QORT_SendModuleScan();
    return kChildStatus;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], kExitChildFlag) == 0)
        return runExitChild();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
