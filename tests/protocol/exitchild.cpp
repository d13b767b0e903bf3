// Helper for qort_test (ProcessExit): a program bound to libqort that ends while the
// engine runs, in the way named by its argument:
//   return    returns from main with the receive thread busy
//   exit      calls exit() from main
//   callback  calls exit() from inside the library's callback, that is on
//             the receive thread, while the library lock is held
//   start     returns from main while the callback calls QORT_Start, so
//             that the unload step stops a thread that is starting the
//             library
// It sends itself replies so that the receive thread is working when the
// process ends. The library's unload step must neither crash nor hang.
#include "platform/udpsocket.h"
#include "protocol/qort.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr std::uint16_t kProtocolPort = 3250;
constexpr int kExitFromCallback = 3;
constexpr int kUsage = 64;
constexpr int kSetUpFailed = 65;
constexpr int kReplies = 200;
constexpr auto kCallbackWait = std::chrono::seconds(5);

std::atomic<int> callbacks{0};

void count(int)
{
    ++callbacks;
}
void exitNow(int)
{
    std::exit(kExitFromCallback);
}
void startAgain(int)
{
    ++callbacks;
    QORT_Start();
}

bool sendReplies()
{
    platform::UdpSocket modules;
    if (!modules.open())
        return false;
    const std::string reply = "hn = child;ip = 10.0.0.1;";
    for (int i = 0; i < kReplies; ++i)
        if (!modules.sendTo(platform::UdpSocket::kLoopbackAddress, kProtocolPort, reply.data(), reply.size()))
            return false;
    return true;
}

bool waitForFirstCallback()
{
    const auto deadline = std::chrono::steady_clock::now() + kCallbackWait;
    while (callbacks == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return callbacks > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return kUsage;
    const std::string mode = argv[1];
    if (mode != "return" && mode != "exit" && mode != "callback" && mode != "start")
        return kUsage;
    QORT_RegisterCallBack(mode == "callback" ? exitNow : mode == "start" ? startAgain : count);
    if (QORT_Start() != 1 || !sendReplies())
        return kSetUpFailed;
    if (mode == "callback") {
        std::this_thread::sleep_for(kCallbackWait);
        return kSetUpFailed; // the callback should have ended the process
    }
    if (!waitForFirstCallback())
        return kSetUpFailed;
    if (mode == "exit")
        std::exit(0);
    return 0;
}
