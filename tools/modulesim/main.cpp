// sorvinda-modulesim: plays field modules on the protocol port, for tests,
// demos and training. See SimulatorOptions::helpText for the options and the
// output format.
#include "tools/modulesim/simulator.h"
#include "tools/modulesim/simulatoroptions.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNotIsolated = 3;
constexpr const char* kIsolationVariable = "SORVINDA_ISOLATED";

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

bool runsIsolated(const modulesim::SimulatorOptions& options)
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread starts
    const char* isolated = std::getenv(kIsolationVariable);
    return options.isolatedByFlag || (isolated != nullptr && std::strcmp(isolated, "1") == 0);
}

// SIGINT and SIGTERM stay blocked except while the loop waits in ppoll, so
// a stop request can never slip in between the check and the wait.
bool installStopSignals(sigset_t& waitMask)
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, &waitMask) != 0)
        return false;
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    struct sigaction action { };
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // A reader that went away must not kill us mid-line; the write fails
    // instead and the loop ends.
    if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        return false;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    auto options = modulesim::SimulatorOptions::parse(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "sorvinda-modulesim: %s\n", error.c_str());
        return kExitUsage;
    }
    if (options->helpRequested) {
        std::fputs(modulesim::SimulatorOptions::helpText().c_str(), stdout);
        return 0;
    }
    if (!runsIsolated(*options)) {
        std::fprintf(stderr,
            "sorvinda-modulesim: refusing to start: it sends broadcasts and runs only inside the\n"
            "namespaces of scripts/isolated-net (%s=1 is not set). See --help.\n",
            kIsolationVariable);
        return kExitNotIsolated;
    }

    sigset_t waitMask;
    if (!installStopSignals(waitMask)) {
        std::perror("sorvinda-modulesim: signals");
        return 1;
    }
    modulesim::Simulator simulator(std::move(*options), stdout);
    if (!simulator.open())
        return 1;
    return simulator.run(&stopRequested, &waitMask);
}
