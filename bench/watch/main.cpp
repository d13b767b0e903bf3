// Cost of the watch agent: `sorvinda watch` over 1000 simulated modules,
// one scan every 10 s, reporting to a mosquitto broker and scraped once
// per scan as Prometheus would. Prints the agent's average share of one
// core (utime + stime from /proc over the run, start-up excluded) and its
// resident memory at the end and at its peak.
//
//   bench_watch [--busy-cpu] [--mqtt-tls] [--metrics-tls] [SECONDS]     default: 120
//   --busy-cpu: a thread spins on CPU 0 throughout, as another program
//               keeping one core busy would
//   --mqtt-tls: the agent reports over TLS with a user and a password, as
//               in a plant (a CA and a certificate made with openssl)
//   --metrics-tls: the metrics over TLS with a login (bcrypt cost 10), a
//               web configuration and certificates made with openssl
// Inside scripts/isolated-net only (the agent and the broker run there).
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"

#include <crypt.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kDefaultSeconds = 120;
constexpr int kModules = 1000;
constexpr int kBrokerPort = 18831;
constexpr int kMetricsPort = 19751;
constexpr auto kScrapeInterval = 10s; // one scrape per scan
constexpr const char* kTlsFolder = "/tmp/bench_watch_tls";
constexpr const char* kScrapeUser = "prometheus";
constexpr const char* kScrapePassword = "bench scrape";
constexpr unsigned long kBcryptCost = 10; // htpasswd -B's default
constexpr auto kWarmUp = 15s;             // start-up and the first scans are not counted
constexpr const char* kModulesLine = "sorvinda_modules{site=\"bench\"} ";

pid_t spawn(std::vector<std::string> argv, const char* output)
{
    std::vector<char*> words;
    for (std::string& word : argv)
        words.push_back(word.data());
    words.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawnp(&pid, words[0], &files, nullptr, words.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// utime + stime of a process in seconds.
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(") ") + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A line of /proc/PID/status, in kB ("VmRSS", "VmHWM").
long statusKilobytes(pid_t pid, const std::string& key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key + ":"))
            return std::atol(line.c_str() + key.size() + 1);
    return -1;
}

// The broker's TLS listener for --mqtt-tls: a CA and a certificate for
// "localhost" made now, a password file with the agent's user.
constexpr const char* kPki = "/tmp/bench_watch_pki";

std::string mqttTlsBrokerConfig()
{
    const std::string dir = kPki;
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string commands = "mkdir -p " + dir + " && cd " + dir + " && openssl req -x509" + key
        + " -keyout ca.key -out ca.pem -days 2 -subj /CN=bench-ca -addext basicConstraints=critical,CA:TRUE"
        + " && openssl req" + key + " -keyout server.key -out server.csr -subj /CN=localhost"
        + " && printf 'subjectAltName=DNS:localhost\\n' >server.ext"
        + " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out server.pem"
        + " -extfile server.ext && printf 'bench-secret\\n' >password"
        + " && mosquitto_passwd -c -b passwords bench bench-secret >/dev/null 2>&1";
    if (std::system(("(" + commands + ") >/dev/null 2>&1").c_str()) != 0)
        std::fprintf(stderr, "could not make the TLS files in %s\n", kPki);
    return "allow_anonymous false\npassword_file " + dir + "/passwords\ncafile " + dir + "/ca.pem\ncertfile " + dir
        + "/server.pem\nkeyfile " + dir + "/server.key\ntls_version tlsv1.2\nuser root\n";
}

std::vector<std::string> mqttTlsAgentOptions()
{
    const std::string dir = kPki;
    return {"--mqtt", "mqtts://localhost:" + std::to_string(kBrokerPort), "--mqtt-cafile", dir + "/ca.pem",
        "--mqtt-user", "bench", "--mqtt-password-file", dir + "/password"};
}

// A CA, the agent's certificate for 127.0.0.1 and a web configuration with
// one login, in kTlsFolder; the web configuration's path, or nothing.
std::string makeWebConfig()
{
    const std::string dir = kTlsFolder, key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/san.ext") << "subjectAltName=IP:127.0.0.1\n";
    for (const std::string& command :
        {"openssl req -x509" + key + " -keyout " + dir + "/ca.key -out " + dir + "/ca.crt -days 2 -subj /CN=ca",
            "openssl req" + key + " -keyout " + dir + "/agent.key -out " + dir + "/agent.csr -subj /CN=agent",
            "openssl x509 -req -in " + dir + "/agent.csr -CA " + dir + "/ca.crt -CAkey " + dir
                + "/ca.key -CAcreateserial -days 2 -out " + dir + "/agent.crt -extfile " + dir + "/san.ext"})
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            return {};
    char setting[CRYPT_GENSALT_OUTPUT_SIZE] = {};
    crypt_data data{};
    crypt_gensalt_rn("$2y$", kBcryptCost, nullptr, 0, setting, sizeof setting);
    std::ofstream(dir + "/web.yml") << "tls_server_config:\n  cert_file: agent.crt\n  key_file: agent.key\n"
                                    << "basic_auth_users:\n  " << kScrapeUser << ": "
                                    << crypt_rn(kScrapePassword, setting, &data, sizeof data) << "\n";
    return dir + "/web.yml";
}

} // namespace

int main(int argc, char** argv)
{
    testsupport::requireIsolatedNetwork();
    bool busy = false, mqttTls = false, metricsTls = false;
    int seconds = kDefaultSeconds;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--busy-cpu")
            busy = true;
        else if (std::string(argv[i]) == "--mqtt-tls")
            mqttTls = true;
        else if (std::string(argv[i]) == "--metrics-tls")
            metricsTls = true;
        else
            seconds = std::atoi(argv[i]);
    }
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_watch [--busy-cpu] [--mqtt-tls] [--metrics-tls] [SECONDS]\n");
        return 2;
    }
    const std::string webConfig = metricsTls ? makeWebConfig() : std::string();
    if (metricsTls && webConfig.empty()) {
        std::fprintf(stderr, "bench_watch: could not make the certificates with openssl\n");
        return 1;
    }
    std::atomic<bool> spinning{busy};
    std::thread spinner([&] {
        cpu_set_t cpu0;
        CPU_ZERO(&cpu0);
        CPU_SET(0, &cpu0);
        ::sched_setaffinity(0, sizeof cpu0, &cpu0);
        while (spinning.load(std::memory_order_relaxed)) { }
    });

    testsupport::SimulatorProcess simulator({"--count", std::to_string(kModules)});
    if (!simulator.start()) {
        std::fprintf(stderr, "simulator: %s\n", simulator.error().c_str());
        return 1;
    }
    const std::string config = "/tmp/bench_watch_mosquitto.conf";
    std::ofstream(config) << "listener " << kBrokerPort << "\npersistence false\n"
                          << (mqttTls ? mqttTlsBrokerConfig() : "allow_anonymous true\n");
    const pid_t broker = spawn({"mosquitto", "-c", config}, "/dev/null");
    std::this_thread::sleep_for(1s);
    std::vector<std::string> agentArgv{testsupport::binaryDirectory() + "/sorvinda", "watch", "--site", "bench",
        "--interval", "10", "--metrics-listen", "127.0.0.1:" + std::to_string(kMetricsPort)};
    const std::vector<std::string> mqtt = mqttTls
        ? mqttTlsAgentOptions()
        : std::vector<std::string>{"--mqtt", "127.0.0.1:" + std::to_string(kBrokerPort)};
    agentArgv.insert(agentArgv.end(), mqtt.begin(), mqtt.end());
    if (metricsTls)
        agentArgv.insert(agentArgv.end(), {"--metrics-web-config", webConfig});
    const pid_t agent = spawn(agentArgv, "/dev/null");

    std::this_thread::sleep_for(kWarmUp);
    // A new connection for every scrape, as the agent closes each after its answer.
    httplib::Client scraper((metricsTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(kMetricsPort));
    if (metricsTls) {
        scraper.set_ca_cert_path((std::string(kTlsFolder) + "/ca.crt").c_str());
        scraper.enable_server_certificate_verification(true);
        scraper.set_basic_auth(kScrapeUser, kScrapePassword);
    }
    const double cpuBefore = cpuSeconds(agent);
    const auto wallBefore = std::chrono::steady_clock::now();
    std::size_t pageBytes = 0;
    int scrapes = 0;
    long modulesSeen = -1;
    while (std::chrono::steady_clock::now() - wallBefore < std::chrono::seconds(seconds)) {
        if (const httplib::Result page = scraper.Get("/metrics"); page && page->status == 200) {
            pageBytes = page->body.size();
            ++scrapes;
            const std::size_t count = page->body.find(kModulesLine);
            if (count != std::string::npos)
                modulesSeen = std::atol(page->body.c_str() + count + std::strlen(kModulesLine));
        }
        std::this_thread::sleep_for(kScrapeInterval);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    // The agent did report: the broker holds its status.
    const std::string statusRead = "mosquitto_sub -t sorvinda/bench/status -C 1 -W 5 "
        + (mqttTls ? "-h localhost -p " + std::to_string(kBrokerPort) + " --cafile " + std::string(kPki)
                    + "/ca.pem -u bench -P bench-secret"
                   : "-h 127.0.0.1 -p " + std::to_string(kBrokerPort));
    const bool reported = std::system((statusRead + " | grep -qx online").c_str()) == 0;
    const double cpu = cpuSeconds(agent) - cpuBefore;
    const long rss = statusKilobytes(agent, "VmRSS"), peak = statusKilobytes(agent, "VmHWM");
    stop(agent);
    stop(broker);
    spinning = false;
    spinner.join();

    std::printf("watch %d modules every 10 s%s%s%s, %.0f s: cpu %.3f s (%.3f %% of one core), rss %.1f MB "
                "(peak %.1f MB), %d scrapes of %zu bytes, %ld modules known at the last, status %s at the broker\n",
        kModules, busy ? ", CPU 0 busy" : "", mqttTls ? ", MQTT over TLS with a login" : "",
        metricsTls ? ", metrics over TLS with a login" : "", wall, cpu, 100.0 * cpu / wall, rss / 1024.0, peak / 1024.0,
        scrapes, pageBytes, modulesSeen, reported ? "online" : "NOT online");
    return scrapes > 0 ? 0 : 1;
}
