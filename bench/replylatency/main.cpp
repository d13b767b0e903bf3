// Reply latency: from a reply leaving the simulator (its send timestamp) to
// the library's callback for it, both read from the same monotonic clock.
// The replies are spread out with jitter so that each is measured on its
// own, not queued behind the others.
//
//   bench_replylatency [MODULES [SCANS]]    default: 100 modules, 5 scans
// Inside scripts/isolated-net only (see bench/README.md).
#include "tests/integration/qortsession.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using integration::QortSession;
using namespace std::chrono_literals;

constexpr int kDefaultModules = 100;
constexpr int kDefaultScans = 5;
constexpr const char* kJitterMs = "1000";
constexpr auto kScanTimeout = 30s;

bool isSend(const std::string& line)
{
    return line.rfind("send ", 0) == 0;
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    testsupport::requireIsolatedNetwork();
    const int modules = argc > 1 ? std::atoi(argv[1]) : kDefaultModules;
    const int scans = argc > 2 ? std::atoi(argv[2]) : kDefaultScans;
    if (modules <= 0 || scans <= 0) {
        std::fprintf(stderr, "usage: bench_replylatency [MODULES [SCANS]]\n");
        return 2;
    }
    if (!QortSession::startOnce()) {
        std::fprintf(stderr, "QORT_Start refused\n");
        return 1;
    }
    testsupport::SimulatorProcess simulator({"--count", std::to_string(modules), "--jitter", kJitterMs});
    if (!simulator.start()) {
        std::fprintf(stderr, "simulator: %s\n", simulator.error().c_str());
        return 1;
    }

    std::vector<double> latenciesUs;
    std::size_t lost = 0;
    for (int scan = 0; scan < scans; ++scan) {
        QortSession::reset();
        const std::size_t from = simulator.lineCount();
        QORT_SendModuleScan();
        simulator.waitForLines(isSend, static_cast<std::size_t>(modules), kScanTimeout, from);
        QortSession::waitForCount(QORT_CB_RESPONSE, static_cast<std::size_t>(modules), 2s);
        // The k-th callback answers the k-th reply sent: one sender, one
        // path, and the library queues in arrival order.
        const auto sent = simulator.linesMatching(isSend, from);
        const auto events = QortSession::events();
        lost += sent.size() - std::min(sent.size(), events.size());
        for (std::size_t i = 0; i < std::min(sent.size(), events.size()); ++i)
            latenciesUs.push_back((events[i].steadyNs - testsupport::parseDatagramLine(sent[i])->timestampNs) / 1e3);
    }
    if (latenciesUs.empty()) {
        std::fprintf(stderr, "no reply arrived\n");
        return 1;
    }
    std::printf("reply latency over %zu replies (%d modules x %d scans, %zu lost): median %.1f us, "
                "p99 %.1f us, worst %.1f us, best %.1f us\n",
        latenciesUs.size(), modules, scans, lost, percentile(latenciesUs, 0.5), percentile(latenciesUs, 0.99),
        *std::max_element(latenciesUs.begin(), latenciesUs.end()),
        *std::min_element(latenciesUs.begin(), latenciesUs.end()));
    return 0;
}
