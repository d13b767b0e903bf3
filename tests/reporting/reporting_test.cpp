// What `sorvinda watch` tells the plant's systems, end to end: two agents,
// each watching the simulated modules of its own network (site), report to
// one mosquitto broker and offer their metrics page. One table of steps runs
// in order against that one plant: each step does something to it, then
// reads a topic filter with mosquitto_sub or a page with an HTTP client.
//
// Layout: an agent sends its scans out of every adapter, so two sites need
// two separate networks: site A is this test's isolated network (agent A in
// the host namespace, its modules in the modules namespace), site B a second
// `scripts/isolated-net run` of its own. The broker runs here and listens on
// loopback and on a UNIX socket, which agent B, in a network with no way to
// this one, reaches through the file system.
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kBrokerPort = 18830;
constexpr int kMetricsPort = 19750;
constexpr const char* kSiteBModule = "mac=00-30-11-00-00-21,ip=192.168.1.10,hn=pressB";
constexpr const char* kSubscribeSeconds = "10"; // mosquitto_sub -W: its own bound wait
constexpr auto kStartWait = 10s;
constexpr auto kStopWait = 5s;

const fs::path kScratch = fs::temp_directory_path() / ("reporting_test." + std::to_string(::getpid()));

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A child process with its output in a file; killed and reaped at the end.
class Child {
public:
    Child() = default;
    Child(std::vector<std::string> argv, const fs::path& output)
    {
        std::vector<char*> words;
        for (std::string& word : argv)
            words.push_back(word.data());
        words.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
        if (posix_spawnp(&pid_, words[0], &files, nullptr, words.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&files);
    }
    Child(Child&& other) noexcept
        : pid_(std::exchange(other.pid_, -1))
    {
    }
    Child& operator=(Child&& other) noexcept
    {
        stop(SIGTERM);
        pid_ = std::exchange(other.pid_, -1);
        return *this;
    }
    ~Child() { stop(SIGTERM); }
    pid_t pid() const { return pid_; }

    // Sends the signal and reaps the child (SIGKILL after kStopWait).
    void stop(int signal)
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        int status = 0;
        if (!testsupport::waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, kStopWait)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

std::string program(const char* name)
{
    return testsupport::binaryDirectory() + "/" + name;
}

// Runs a command to its end; its standard output.
std::string run(const std::string& command)
{
    const fs::path out = kScratch / "run.out";
    const int status = std::system((command + " >" + out.string() + " 2>&1").c_str());
    return readText(out) + (WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "[failed]");
}

// Every message under filter the broker hands out within the bound, as
// "topic payload" lines; retained messages come at once.
std::string subscribe(const std::string& filter, int count)
{
    return run("mosquitto_sub -h 127.0.0.1 -p " + std::to_string(kBrokerPort) + " -v -t '" + filter + "' -C "
        + std::to_string(count) + " -W " + kSubscribeSeconds);
}

Child startBroker()
{
    const fs::path config = kScratch / "mosquitto.conf";
    std::ofstream(config) << "listener " << kBrokerPort << " 127.0.0.1\nlistener 0 "
                          << (kScratch / "mqtt.sock").string() << "\nallow_anonymous true\npersistence false\n"
                          << "user root\n"; // keeps the right to make its socket in the scratch folder
    Child broker({"mosquitto", "-c", config.string()}, kScratch / "mosquitto.log");
    testsupport::waitUntil(
        [] {
            return run("mosquitto_pub -h 127.0.0.1 -p " + std::to_string(kBrokerPort) + " -t probe -n").find("[failed]")
                == std::string::npos;
        },
        kStartWait);
    return broker;
}

// The plant: broker, site A's simulator and agent, site B's network.
struct Plant {
    Child broker;
    testsupport::SimulatorProcess siteA{testsupport::moduleArgs(
        {"mac=00-30-11-00-00-01,ip=192.168.0.10,hn=pressA", "mac=00-30-11-00-00-02,ip=192.168.0.11"})};
    Child agentA, siteB;
    std::vector<int> idleClients;
    ~Plant()
    {
        for (const int client : idleClients)
            ::close(client);
    }
};

// More silent connections to the metrics port than it has workers and
// queue places: each is cut after the server's client timeout.
constexpr int kIdleClients = 12;
constexpr auto kPageWait = 20s;

void connectIdleClients(Plant& plant)
{
    for (int i = 0; i < kIdleClients; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{AF_INET, htons(kMetricsPort), {htonl(INADDR_LOOPBACK)}, {}};
        ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        plant.idleClients.push_back(client);
    }
}

std::vector<std::string> agent(const std::string& site, const std::string& broker)
{
    return {program("sorvinda"), "watch", "--site", site, "--interval", "1", "--mqtt", broker, "--state",
        (kScratch / site).string()};
}

// Site B: its own isolated network with its simulator and agent; the
// agent's process id (the shell's, which becomes the agent) in hallB.pid.
Child startSiteB()
{
    std::vector<std::string> argv{std::string(std::getenv("SORVINDA_SOURCE_DIR")) + "/scripts/isolated-net", "run",
        "--", "sh", "-c",
        R"(ip netns exec "$SORVINDA_NETNS_MODULES" "$0" --module "$1" >/dev/null & echo $$ >"$2"; shift 2; exec "$@")",
        program("sorvinda-modulesim"), kSiteBModule, (kScratch / "hallB.pid").string()};
    const std::vector<std::string> command = agent("hallB", (kScratch / "mqtt.sock").string());
    argv.insert(argv.end(), command.begin(), command.end());
    return Child(argv, kScratch / "hallB.log");
}

void killSiteBAgent()
{
    ::kill(std::stoi(readText(kScratch / "hallB.pid")), SIGKILL);
}

std::string metrics(const std::string& method, const std::string& path)
{
    httplib::Client client("127.0.0.1", kMetricsPort);
    client.set_read_timeout(kPageWait);
    const httplib::Result result = method == "GET" ? client.Get(path.c_str()) : client.Post(path.c_str());
    if (!result)
        return "no answer";
    return std::to_string(result->status) + "\n" + result->body;
}

std::string promtoolCheck(const std::string& page)
{
    const fs::path file = kScratch / "page.txt";
    std::ofstream(file) << page.substr(page.find('\n') + 1);
    return run("promtool check metrics <" + file.string());
}

bool hasLine(const std::string& text, const char* pattern)
{
    const std::regex re(pattern);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, re))
            return true;
    return false;
}

// What read gives once it has a line matching pattern (or the last one read).
std::string readShowing(const std::function<std::string()>& read, const char* pattern)
{
    std::string text;
    testsupport::waitUntil([&] { return hasLine(text = read(), pattern); }, kPageWait);
    return text;
}

std::string pageShowing(const char* pattern)
{
    return readShowing([] { return metrics("GET", "/metrics"); }, pattern);
}

struct Step {
    const char* name;
    std::function<void(Plant&)> action;
    std::function<std::string()> read;
    std::vector<const char*> lines; // regexes, each matching a line of what was read (which did not fail)
};

const std::vector<Step> kSteps{
    {"both sites' modules and status are retained", [](Plant&) {}, [] { return subscribe("sorvinda/#", 5); },
        {R"(sorvinda/hallA/status online)", R"(sorvinda/hallB/status online)",
            R"(sorvinda/hallA/modules/00-30-11-00-00-01 \{.*"ip":"192.168.0.10".*"hostname":"pressA".*)",
            R"(sorvinda/hallA/modules/00-30-11-00-00-02 \{.*)", R"(sorvinda/hallB/modules/00-30-11-00-00-21 \{.*)"}},
    // A loaded machine may miss a reply now and then: the page is read once
    // it shows the module up.
    {"the metrics page", [](Plant&) {},
        [] { return pageShowing(R"(sorvinda_module_up\{site="hallA",mac="00-30-11-00-00-01"\} 1)"); },
        {"200", R"(# TYPE sorvinda_module_up gauge)", R"(sorvinda_modules\{site="hallA"\} 2)",
            R"(sorvinda_module_up\{site="hallA",mac="00-30-11-00-00-01"\} 1)",
            R"(sorvinda_module_info\{site="hallA",mac="00-30-11-00-00-02",ip="192.168.0.11",type="[^"]*",version="[^"]*"\} 1)",
            R"(sorvinda_scan_duration_seconds\{site="hallA"\} [0-9.]+)",
            R"(sorvinda_scan_replies_lost_total\{site="hallA"\} [0-9]+)"}},
    {"promtool accepts the page", [](Plant&) {}, [] { return promtoolCheck(metrics("GET", "/metrics")); }, {}},
    {"POST is not allowed", [](Plant&) {}, [] { return metrics("POST", "/metrics"); }, {"405"}},
    {"silent clients do not keep the page away", connectIdleClients, [] { return metrics("GET", "/metrics"); },
        {"200", R"(sorvinda_modules\{site="hallA"\} 2)"}},
    {"another path is not found", [](Plant&) {}, [] { return metrics("GET", "/"); }, {"404"}},
    {"a broker restart loses no module state",
        [](Plant& plant) {
            plant.broker.stop(SIGTERM);
            plant.broker = startBroker();
        },
        [] { return subscribe("sorvinda/+/modules/#", 3); },
        {R"(sorvinda/hallA/modules/00-30-11-00-00-01 \{.*)", R"(sorvinda/hallA/modules/00-30-11-00-00-02 \{.*)",
            R"(sorvinda/hallB/modules/00-30-11-00-00-21 \{.*)"}},
    {"SIGKILL of an agent leaves offline", [](Plant&) { killSiteBAgent(); },
        // The broker sends the will once it sees the connection end, a
        // moment after the kill.
        [] {
            return readShowing([] { return subscribe("sorvinda/hallB/status", 1); }, "sorvinda/hallB/status offline");
        },
        {"sorvinda/hallB/status offline"}},
    {"a silent module is known but down", [](Plant& plant) { plant.siteA.stop(); },
        [] { return pageShowing(R"(sorvinda_module_up\{site="hallA",mac="00-30-11-00-00-01"\} 0)"); },
        {R"(sorvinda_module_up\{site="hallA",mac="00-30-11-00-00-01"\} 0)", R"(sorvinda_modules\{site="hallA"\} 2)"}},
    {"a missing module is dropped", [](Plant&) {}, [] { return pageShowing(R"(sorvinda_modules\{site="hallA"\} 0)"); },
        {R"(sorvinda_modules\{site="hallA"\} 0)"}},
    {"a clean end says offline too", [](Plant& plant) { plant.agentA.stop(SIGTERM); },
        [] { return subscribe("sorvinda/hallA/status", 1); }, {"sorvinda/hallA/status offline"}},
};

TEST(Reporting, TwoSitesOneBroker)
{
    testsupport::requireIsolatedNetwork();
    fs::create_directories(kScratch);
    Plant plant;
    plant.broker = startBroker();
    ASSERT_TRUE(plant.siteA.start()) << plant.siteA.error();
    std::vector<std::string> agentA = agent("hallA", "127.0.0.1:" + std::to_string(kBrokerPort));
    agentA.insert(agentA.end(), {"--metrics-listen", "127.0.0.1:" + std::to_string(kMetricsPort)});
    plant.agentA = Child(agentA, kScratch / "hallA.log");
    plant.siteB = startSiteB();
    // Both agents have scanned once their modules are retained.
    ASSERT_TRUE(testsupport::waitUntil(
        [] { return subscribe("sorvinda/+/modules/#", 3).find("[failed]") == std::string::npos; }, kStartWait));
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.name);
        step.action(plant);
        const std::string text = step.read();
        EXPECT_EQ(text.find("[failed]"), std::string::npos) << text;
        for (const char* line : step.lines)
            EXPECT_TRUE(hasLine(text, line)) << line << "\nin:\n"
                                             << text << "\nagent A:\n"
                                             << readText(kScratch / "hallA.log");
    }
    fs::remove_all(kScratch);
}

} // namespace
