// Started by qort_test (ProcessExit). Built twice: qort_exit_child is bound
// to libqort as SorvindaConfig is; qort_unload_child (QORT_CHILD_DLOPEN)
// loads it with dlopen. Each starts the library, sends itself replies so
// that the receive thread is working, and ends in the way its argument
// names:
//   return    returns from main
//   exit      calls exit() from main
//   callback  calls exit() from inside the library's callback, that is on
//             the receive thread, while the library lock is held
//   start     returns from main while the callback calls QORT_Start, so
//             that the unload step stops a thread that is starting the
//             library
//   unload    (qort_unload_child) unloads the library with dlclose from
//             inside the callback: a started library stays mapped until the
//             process ends, so the callback returns into mapped code and
//             later replies are still handled
//   fork      forks a child that calls exit() without exec (the library's
//             unload step runs in it); the parent must still receive
//             replies afterwards (regression: the child woke the shared
//             wake-up descriptor and the parent's receive thread spun
//             without ever reading again)
// The library's unload step must neither crash nor hang.
#include "platform/udpsocket.h"
#include "protocol/qort.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::uint16_t kProtocolPort = 3250;
constexpr int kExitFromCallback = 3;
constexpr int kUsage = 64;
constexpr int kSetUpFailed = 65;
constexpr int kForkedChildFailed = 66;
constexpr int kRepliesLostAfterFork = 67;
constexpr int kReplies = 200;
constexpr int kRepliesAfterwards = 3;
constexpr auto kCallbackWait = std::chrono::seconds(5);

void* library = nullptr;
int (*start)() = nullptr;
std::atomic<int> callbacks{0};
std::atomic<bool> unloaded{false};

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
    start();
}
void unloadFromCallback(int)
{
    if (library != nullptr && !unloaded.exchange(true))
        ::dlclose(library);
    ++callbacks;
}

bool sendReplies(int replies)
{
    platform::UdpSocket modules;
    const std::string reply = "hn = child;ip = 10.0.0.1;";
    bool sent = modules.open();
    for (int i = 0; i < replies && sent; ++i)
        sent = modules.sendTo(platform::UdpSocket::kLoopbackAddress, kProtocolPort, reply.data(), reply.size());
    return sent;
}

bool waitForCallbacks(int count)
{
    const auto deadline = std::chrono::steady_clock::now() + kCallbackWait;
    while (callbacks < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return callbacks >= count;
}

// The child exits at once (its unload step runs); true when it ended with
// status 0 within the bound (it is killed otherwise).
bool forkedChildExits()
{
    const pid_t child = ::fork();
    if (child == 0)
        std::exit(0);
    if (child < 0)
        return false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kCallbackWait;
    while (::waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int receiveAfterFork()
{
    if (!sendReplies(1) || !waitForCallbacks(1))
        return kSetUpFailed;
    if (!forkedChildExits())
        return kForkedChildFailed;
    for (int i = 1; i <= kRepliesAfterwards; ++i)
        if (!sendReplies(1) || !waitForCallbacks(1 + i))
            return kRepliesLostAfterFork;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::map<std::string, QORT_CallBackType> modes = {{"return", count}, {"exit", count}, {"callback", exitNow},
        {"start", startAgain}, {"unload", unloadFromCallback}, {"fork", count}};
    const auto mode = modes.find(argc == 2 ? argv[1] : "");
    if (mode == modes.end())
        return kUsage;
#ifdef QORT_CHILD_DLOPEN
    const char* libDir = std::getenv("SORVINDA_LIB_DIR");
    library = libDir ? ::dlopen((std::string(libDir) + "/libqort.so.1").c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (library == nullptr)
        return kSetUpFailed;
    auto* registerCallBack = reinterpret_cast<void (*)(QORT_CallBackType)>(::dlsym(library, "QORT_RegisterCallBack"));
    start = reinterpret_cast<int (*)()>(::dlsym(library, "QORT_Start"));
    if (registerCallBack == nullptr || start == nullptr)
        return kSetUpFailed;
#else
    const auto registerCallBack = &QORT_RegisterCallBack;
    start = &QORT_Start;
#endif
    registerCallBack(mode->second);
    if (start() != 1)
        return kSetUpFailed;
    if (mode->first == "fork")
        return receiveAfterFork();
    if (mode->first == "unload") {
        for (int i = 1; i <= 1 + kRepliesAfterwards; ++i)
            if (!sendReplies(1) || !waitForCallbacks(i))
                return kSetUpFailed;
        return 0;
    }
    if (!sendReplies(kReplies))
        return kSetUpFailed;
    if (mode->first == "callback") {
        std::this_thread::sleep_for(kCallbackWait);
        return kSetUpFailed; // the callback should have ended the process
    }
    if (!waitForCallbacks(1))
        return kSetUpFailed;
    if (mode->first == "exit")
        std::exit(0);
    return 0;
}
