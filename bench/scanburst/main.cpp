// Scan burst: N simulated modules answer one scan at the same moment, back
// to back. Reports how many replies the library queued and how long it took
// from the scan to the last callback. Replies missing here were dropped by
// the receiving socket (its kernel buffer overflowed during the burst).
//
//   bench_scanburst [--rcvbuf BYTES] [--rounds R] [N ...]
//       default: 50 250 1000, three rounds each
//
// "listed" counts distinct MAC addresses among the replies taken, which is
// what the program's list shows (the library repeats a scan whose replies
// overflowed the socket; a module's second reply is not listed twice).
// "sent" over N is the number of scans the modules answered (the scan and
// its repeats); "lost" is what the library reports as lost after them
// (QORT_GetLostReplyCount, "-" for a library without it, which lets this
// program measure an older libqort through LD_LIBRARY_PATH).
// --rcvbuf BYTES gives the library's socket the buffer an ordinary user gets
// when net.core.rmem_max is BYTES: without CAP_NET_ADMIN the library's
// request is capped there (and the kernel doubles it for its bookkeeping).
// Setting it from here reproduces that exactly, also where the sysctl cannot
// be changed (it is read-only inside a network namespace).
// Inside scripts/isolated-net only (see bench/README.md).
#include "tests/integration/qortsession.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

using integration::QortSession;
using namespace std::chrono_literals;

constexpr int kDefaultRounds = 3;
constexpr auto kSendTimeout = 30s;
// After the simulator has sent everything, replies still in flight arrive
// within milliseconds; this long without a new callback means the rest are lost.
constexpr auto kQuietPeriod = 500ms;
constexpr auto kCollectLimit = 30s;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::uint16_t kProtocolPort = 3250;

// The library's socket: the one datagram socket of this process bound to
// the protocol port.
int librarySocket()
{
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr)
        return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in local{};
        socklen_t length = sizeof local;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET
            && ntohs(local.sin_port) == kProtocolPort && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0
            && type == SOCK_DGRAM)
            found = fd;
    }
    ::closedir(fds);
    return found;
}

bool capReceiveBuffer(int bytes)
{
    const int fd = librarySocket();
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0)
        return false;
    int actual = 0;
    socklen_t length = sizeof actual;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &actual, &length);
    std::printf("# library socket receive buffer: %d bytes (as with rmem_max %d)\n", actual, bytes);
    return true;
}

// What the program's list does: takes the replies as they come (the
// library's queue keeps only the newest 16,384, fewer than five rounds of
// 5000) and keeps each MAC once.
struct Listed {
    std::size_t taken = 0;
    std::set<std::string> macs;

    void takeQueued()
    {
        for (const auto& r : QortSession::takeAllResponses()) {
            ++taken;
            if (r.MacIdValid == 1)
                macs.insert(std::string(reinterpret_cast<const char*>(r.MacId), QORT_MAC_SIZE));
        }
    }
};

// Looked up rather than linked, so that the program also runs with a
// library from before the function existed.
std::string lostReplyCount()
{
    void* symbol = ::dlsym(RTLD_DEFAULT, "QORT_GetLostReplyCount");
    if (symbol == nullptr)
        return "-";
    auto* count = reinterpret_cast<std::uint32_t (*)()>(symbol);
    return std::to_string(count());
}

bool isSend(const std::string& line)
{
    return line.rfind("send ", 0) == 0;
}

void waitUntilQuiet(Listed& listed)
{
    std::size_t seen = QortSession::count(QORT_CB_RESPONSE);
    auto lastChange = std::chrono::steady_clock::now();
    const auto limit = lastChange + kCollectLimit;
    while (std::chrono::steady_clock::now() < limit && std::chrono::steady_clock::now() - lastChange < kQuietPeriod) {
        std::this_thread::sleep_for(testsupport::kWaitPollInterval);
        listed.takeQueued();
        const std::size_t now = QortSession::count(QORT_CB_RESPONSE);
        if (now != seen) {
            seen = now;
            lastChange = std::chrono::steady_clock::now();
        }
    }
}

bool runRound(int modules, int round)
{
    testsupport::SimulatorProcess simulator({"--count", std::to_string(modules), "--burst"});
    if (!simulator.start()) {
        std::fprintf(stderr, "simulator: %s\n", simulator.error().c_str());
        return false;
    }
    QortSession::reset();
    const std::size_t from = simulator.lineCount();
    const std::int64_t scanNs = nowNs();
    if (QORT_SendModuleScan() != 1) {
        std::fprintf(stderr, "QORT_SendModuleScan failed\n");
        return false;
    }
    simulator.waitForLines(isSend, static_cast<std::size_t>(modules), kSendTimeout, from);
    Listed taken;
    waitUntilQuiet(taken);
    taken.takeQueued();

    const auto sent = simulator.linesMatching(isSend, from);
    std::int64_t firstSendNs = 0;
    std::int64_t lastSendNs = 0;
    if (!sent.empty()) {
        firstSendNs = testsupport::parseDatagramLine(sent.front())->timestampNs;
        lastSendNs = testsupport::parseDatagramLine(sent.back())->timestampNs;
    }
    const auto events = QortSession::events();
    const std::int64_t lastCallbackNs = events.empty() ? scanNs : events.back().steadyNs;
    const std::size_t queued = taken.taken;
    const std::size_t received = QortSession::count(QORT_CB_RESPONSE);
    const std::size_t listed = taken.macs.size();
    const std::string lost = lostReplyCount();

    std::printf("%6d %5d %6zu %8zu %6zu %6zu %7zu %6s %12.3f %12.3f %12.3f\n", modules, round, sent.size(), received,
        queued, listed, static_cast<std::size_t>(modules) - std::min<std::size_t>(modules, listed), lost.c_str(),
        (lastCallbackNs - scanNs) / 1e6, (lastSendNs - firstSendNs) / 1e6, (lastCallbackNs - firstSendNs) / 1e6);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    testsupport::requireIsolatedNetwork();
    std::vector<int> counts;
    int receiveBuffer = 0;
    int rounds = kDefaultRounds;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rcvbuf") == 0 && i + 1 < argc)
            receiveBuffer = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else
            counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty())
        counts = {50, 250, 1000};
    if (!QortSession::startOnce()) {
        std::fprintf(stderr, "QORT_Start refused\n");
        return 1;
    }
    if (receiveBuffer > 0 && !capReceiveBuffer(receiveBuffer)) {
        std::fprintf(stderr, "cannot set the library socket's receive buffer\n");
        return 1;
    }
    std::printf("# times in ms; scan->last: from QORT_SendModuleScan to the last callback;\n"
                "# send span: first to last reply leaving the simulator; first send->last cb\n");
    std::printf("%6s %5s %6s %8s %6s %6s %7s %6s %12s %12s %12s\n", "N", "round", "sent", "callbacks", "queued",
        "listed", "missing", "lost", "scan->last", "send span", "send->last");
    for (int modules : counts)
        for (int round = 1; round <= rounds; ++round)
            if (!runRound(modules, round))
                return 1;
    return 0;
}
