// Idle cost: CPU time the started library burns with no traffic at all, its
// receive thread included. Measured with getrusage over
// the whole process, whose main thread only sleeps meanwhile.
//
//   bench_idlecpu [SECONDS]      default: 10
// Inside scripts/isolated-net only (the library binds UDP 3250 when loaded).
#include "protocol/qort.h"
#include "tests/support/isolatednetwork.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr int kDefaultSeconds = 10;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long contextSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

} // namespace

int main(int argc, char** argv)
{
    testsupport::requireIsolatedNetwork();
    const int seconds = argc > 1 ? std::atoi(argv[1]) : kDefaultSeconds;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_idlecpu [SECONDS]\n");
        return 2;
    }
    if (QORT_Start() != 1) {
        std::fprintf(stderr, "QORT_Start refused\n");
        return 1;
    }
    const double cpuBefore = cpuSeconds();
    const long switchesBefore = contextSwitches();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = cpuSeconds() - cpuBefore;
    const long switches = contextSwitches() - switchesBefore;

    std::printf("idle %.1f s: cpu %.3f s (%.2f %% of one core), %.0f context switches/s\n", wall, cpu,
        100.0 * cpu / wall, switches / wall);
    return 0;
}
