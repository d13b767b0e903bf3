// Helper for exit_test: loads libqort with dlopen (this program is not
// bound to it), starts it, and unloads it from inside the callback, on the
// library's own receive thread. A started library stays mapped until the
// process ends, so the callback returns into mapped code, later replies are
// still handled, and the process ends cleanly with status 0.
#include "protocol/qort.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::uint16_t kProtocolPort = 3250;
constexpr std::uint32_t kLoopback = 0x7F000001u;
constexpr int kSetUpFailed = 65;
constexpr int kRepliesAfterUnload = 3;
constexpr auto kCallbackWait = std::chrono::seconds(5);

void* library = nullptr;
std::atomic<int> callbacks{0};
std::atomic<bool> unloaded{false};

void unloadFromCallback(int)
{
    if (!unloaded.exchange(true))
        ::dlclose(library);
    ++callbacks;
}

bool sendReply()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kProtocolPort);
    to.sin_addr.s_addr = htonl(kLoopback);
    const std::string reply = "hn = child;";
    const bool sent = s >= 0
        && ::sendto(s, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
            == static_cast<ssize_t>(reply.size());
    if (s >= 0)
        ::close(s);
    return sent;
}

bool waitForCallbacks(int count)
{
    const auto deadline = std::chrono::steady_clock::now() + kCallbackWait;
    while (callbacks < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return callbacks >= count;
}

} // namespace

int main()
{
    const char* libDir = std::getenv("SORVINDA_LIB_DIR");
    if (libDir == nullptr)
        return kSetUpFailed;
    library = ::dlopen((std::string(libDir) + "/libqort.so.1").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return kSetUpFailed;
    auto* registerCallBack = reinterpret_cast<void (*)(QORT_CallBackType)>(::dlsym(library, "QORT_RegisterCallBack"));
    auto* start = reinterpret_cast<int (*)()>(::dlsym(library, "QORT_Start"));
    if (registerCallBack == nullptr || start == nullptr)
        return kSetUpFailed;
    registerCallBack(unloadFromCallback);
    if (start() != 1)
        return kSetUpFailed;
    for (int i = 1; i <= 1 + kRepliesAfterUnload; ++i)
        if (!sendReply() || !waitForCallbacks(i))
            return kSetUpFailed;
    return 0;
}
