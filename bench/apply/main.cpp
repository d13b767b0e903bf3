// Commissioning a line against one module: wall time of `sorvinda configure`
// of one module and of `sorvinda apply` of a plan that changes 200 modules,
// in one run on one simulator. Each round moves the modules to the other of
// two address sets, so every run really writes and verifies.
//
//   bench_apply [--busy-cpu] [--rounds R] [--wait MS]
//   --busy-cpu: a thread spins on CPU 0 for the whole run, as another
//               program keeping one core busy would
//   --wait:     sorvinda's --wait (default: its own, 1500 ms); both commands
//               scan for the whole wait before they write, as the address
//               checks need every module's reply
// Inside scripts/isolated-net only; SORVINDA_BIN_DIR names the programs.
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

constexpr int kModules = 200;
constexpr int kDefaultRounds = 5;
constexpr int kBusyCpu = 0;
constexpr double kBound = 3.0; // apply of 200 may take this many times one configure

// Another program keeping one core busy.
class BusyCpu {
public:
    BusyCpu()
        : thread_([this] {
            cpu_set_t cpus;
            CPU_ZERO(&cpus);
            CPU_SET(kBusyCpu, &cpus);
            pthread_setaffinity_np(pthread_self(), sizeof cpus, &cpus);
            while (!stop_.load(std::memory_order_relaxed)) { }
        })
    {
    }
    ~BusyCpu()
    {
        stop_ = true;
        thread_.join();
    }
    BusyCpu(const BusyCpu&) = delete;
    BusyCpu& operator=(const BusyCpu&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string Mac(int n)
{
    char mac[18];
    std::snprintf(mac, sizeof mac, "00-30-11-00-%02X-%02X", (n >> 8) & 0xFF, n & 0xFF);
    return mac;
}

// Modules 1..kModules to 192.168.SUBNET.N, named mN (the simulator's own
// names hold a '-', which a write may not send back).
std::filesystem::path WritePlan(const std::filesystem::path& folder, int subnet)
{
    const std::filesystem::path file = folder / ("plan" + std::to_string(subnet) + ".csv");
    std::ofstream out(file);
    out << "mac,ip,hostname\n";
    for (int n = 1; n <= kModules; ++n)
        out << Mac(n) << ",192.168." << subnet << "." << n << ",m" << n << "\n";
    return file;
}

// Milliseconds of one sorvinda run, or -1 when it failed.
double TimedRun(const std::string& arguments, const std::filesystem::path& state)
{
    const std::string line = "XDG_STATE_HOME=" + state.string() + " " + testsupport::binaryDirectory() + "/sorvinda "
        + arguments + " >/dev/null";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(line.c_str());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void Print(const char* what, const std::vector<double>& ms)
{
    std::printf("%-32s median %7.0f ms, min %7.0f, max %7.0f (%zu runs)\n", what, Median(ms),
        *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()), ms.size());
}

} // namespace

int main(int argc, char** argv)
{
    testsupport::requireIsolatedNetwork();
    bool busy = false;
    int rounds = kDefaultRounds;
    std::string wait;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--busy-cpu") == 0) {
            busy = true;
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--wait") == 0 && i + 1 < argc) {
            wait = std::string(" --wait ") + argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench_apply [--busy-cpu] [--rounds R] [--wait MS]\n");
            return 2;
        }
    }
    testsupport::SimulatorProcess simulator({"--count", std::to_string(kModules)});
    if (!simulator.start()) {
        std::fprintf(stderr, "simulator: %s\n", simulator.error().c_str());
        return 1;
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "sorvinda-bench-apply";
    std::filesystem::create_directories(folder);
    const std::filesystem::path plans[] = {WritePlan(folder, 30), WritePlan(folder, 40)};
    std::unique_ptr<BusyCpu> busyCpu;
    if (busy)
        busyCpu = std::make_unique<BusyCpu>();
    std::printf("%d modules, sorvinda%s, %s\n", kModules, wait.empty() ? " --wait 1500 (default)" : wait.c_str(),
        busy ? "a thread keeps CPU 0 busy" : "no other load from this program");

    std::vector<double> configure, apply;
    for (int round = 0; round < rounds; ++round) {
        const std::string address = "192.168.50." + std::to_string(round % 2 + 1);
        configure.push_back(TimedRun("configure " + Mac(1) + " --hostname m1 --ip " + address + wait, folder));
        apply.push_back(TimedRun("apply " + plans[round % 2].string() + wait, folder));
    }
    std::filesystem::remove_all(folder);
    if (std::count(configure.begin(), configure.end(), -1) + std::count(apply.begin(), apply.end(), -1) > 0) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    Print("configure of 1 module", configure);
    Print("apply of 200 changed modules", apply);
    const double ratio = Median(apply) / Median(configure);
    std::printf("apply/configure %.2f (bound %.1f): %s\n", ratio, kBound, ratio <= kBound ? "within" : "OVER");
    return 0;
}
