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
#include "reporting/basicauth.h"
#include "reporting/metricspage.h"
#include "reporting/metricsserver.h"
#include "reporting/webconfig.h"
#include "tests/support/childprocess.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"

#include <crypt.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
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

using Child = testsupport::ChildProcess;

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

// --- The metrics endpoint behind TLS and a login --------------------------

// The page's label values are module texts, outside input: each row is a
// module's type and what its label must read on the page.
TEST(MetricsPage, EscapesLabelValues)
{
    const struct {
        const char* what;
        std::string type;
        std::string label;
    } rows[] = {
        {"plain", "IO-16", R"(type="IO-16")"},
        {"backslash", R"(C:\io)", R"(type="C:\\io")"},
        {"quote", R"(a"b)", R"(type="a\"b")"},
        {"newline", "a\nb", R"(type="a\nb")"},
        {"other control bytes",
            std::string("a\x01\x7f"
                        "b"),
            R"(type="a??b")"},
        {"bytes that are no UTF-8", "a\xff", "type=\"a\xEF\xBF\xBD\""},
    };
    for (const auto& row : rows) {
        reporting::MetricsSnapshot snapshot{
            "s", {{"00-30-11-00-00-01", "10.0.0.1", row.type, "1.0", true}}, 0, 0, 0, true, {}};
        const std::string page = reporting::metricsPage(snapshot);
        EXPECT_NE(page.find("," + row.label + ","), std::string::npos) << row.what << "\n" << page;
    }
}

std::string bcryptHash(const std::string& password)
{
    constexpr unsigned long kCheapCost = 4; // the lowest bcrypt allows: tests stay quick
    char setting[CRYPT_GENSALT_OUTPUT_SIZE] = {};
    crypt_gensalt_rn("$2y$", kCheapCost, nullptr, 0, setting, sizeof setting);
    crypt_data data{};
    return crypt_rn(password.c_str(), setting, &data, sizeof data);
}

// Each row a web configuration and what reading it gives: "tls CERT KEY
// CA AUTH" and "user NAME", or the error.
TEST(WebConfig, ReadsTheExportersForm)
{
    const std::string hash = bcryptHash("pw");
    const struct {
        const char* what;
        std::string yaml;
        std::string expected;
    } rows[] = {
        {"empty: no TLS, no login", "", ""},
        {"TLS with relative files", "tls_server_config:\n  cert_file: a.crt\n  key_file: /k/a.key\n",
            "tls /etc/x/a.crt /k/a.key  0 TLS12"},
        {"client certificates verified",
            "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_ca_file: c\n"
            "  client_auth_type: RequireAndVerifyClientCert\n  min_version: TLS13\n",
            "tls /etc/x/a /etc/x/b /etc/x/c 4 TLS13"},
        {"a login", "basic_auth_users:\n  prometheus: " + hash + "\n", "user prometheus"},
        {"a missing key file", "tls_server_config:\n  cert_file: a\n", "error tls_server_config needs both"},
        {"a CA without verifying", "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_ca_file: c\n",
            "error client_ca_file is given"},
        {"verifying without a CA",
            "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: VerifyClientCertIfGiven\n",
            "error client_auth_type verifies"},
        {"an unknown policy", "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: Maybe\n",
            "error client_auth_type: Maybe is none"},
        {"TLS 1.1", "tls_server_config:\n  cert_file: a\n  key_file: b\n  min_version: TLS11\n",
            "error min_version: TLS11"},
        {"a cipher list is not silently dropped",
            "tls_server_config:\n  cert_file: a\n  key_file: b\n  cipher_suites: [TLS_AES_128_GCM_SHA256]\n",
            "error tls_server_config: cipher_suites is not supported"},
        {"HTTP/2 settings", "http_server_config:\n  http2: false\n", "error http_server_config is not supported"},
        {"a password in clear", "basic_auth_users:\n  prometheus: secret\n", "error basic_auth_users: the password"},
        {"a user twice", "basic_auth_users:\n  a: " + hash + "\n  a: " + hash + "\n", "error basic_auth_users: a is"},
        {"a colon in a name", "basic_auth_users:\n  'a:b': " + hash + "\n", "error basic_auth_users: 'a:b'"},
        {"not a mapping", "- a\n- b\n", "error the web configuration is not a mapping"},
        {"not YAML", "a: [b\n", "error not YAML"},
        {"nested too deep", std::string(20000, '[') + std::string(20000, ']'), "error not YAML"},
    };
    for (const auto& row : rows) {
        std::string error;
        const std::optional<reporting::WebConfig> config = reporting::parseWebConfig(row.yaml, "/etc/x", error);
        std::string got;
        if (!config) {
            got = "error " + error;
        } else {
            if (config->tls)
                got = "tls " + config->tls->certFile.string() + " " + config->tls->keyFile.string() + " "
                    + config->tls->clientCaFile.string() + " "
                    + std::to_string(static_cast<int>(config->tls->clientAuth))
                    + (config->tls->tls13Only ? " TLS13" : " TLS12");
            for (const auto& [name, userHash] : config->users)
                got += "user " + name;
        }
        EXPECT_EQ(got.substr(0, row.expected.size()), row.expected) << row.what << ": " << got;
        EXPECT_EQ(got.empty(), row.expected.empty()) << row.what;
    }
}

// Each row an Authorization header and whether the login (user "prometheus",
// password "scrape pw") passes.
TEST(BasicAuth, ChecksTheHeader)
{
    reporting::BasicAuth auth({{"prometheus", bcryptHash("scrape pw")}});
    const auto base64 = [](const std::string& text) {
        std::string encoded(4 * ((text.size() + 2) / 3) + 1, '\0');
        const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
        encoded.resize(static_cast<std::size_t>(length));
        return encoded;
    };
    const auto basic = [&](const std::string& login) { return "Basic " + base64(login); };
    const struct {
        const char* what;
        std::optional<std::string> header;
        bool allowed;
    } rows[] = {
        {"right", basic("prometheus:scrape pw"), true},
        {"right again (remembered)", basic("prometheus:scrape pw"), true},
        {"scheme in other case", "bAsIc " + base64("prometheus:scrape pw"), true},
        {"wrong password", basic("prometheus:scrape"), false},
        {"unknown user", basic("root:scrape pw"), false},
        {"no header", std::nullopt, false},
        {"no colon", basic("prometheus"), false},
        {"another scheme", "Bearer abc", false},
        {"not base64", "Basic ***", false},
        {"bad padding", "Basic cHJvbWV0aGV1cw===", false},
        {"empty", "", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(auth.allows(row.header ? std::optional<std::string_view>(*row.header) : std::nullopt), row.allowed)
            << row.what;
    EXPECT_TRUE(reporting::BasicAuth({}).allows(std::nullopt));
}

constexpr int kGuardedPort = 19751;
constexpr int kPrometheusPort = 19090;
constexpr const char* kScrapeUser = "prometheus";
constexpr const char* kScrapePassword = "scrape pw";
constexpr auto kDrip = 500ms; // one byte this often: the slow client of the review
constexpr int kDrippers = 2;
constexpr int kPagePolls = 6;
constexpr auto kPrometheusWait = 60s;

// A client that sends the start of a request - a TLS handshake, or an
// HTTP request line - and then a byte every kDrip, until stopped or cut;
// it counts how often the server cut it.
class Dripper {
public:
    enum class Kind { kTlsHandshake, kHttpHeader };
    explicit Dripper(std::atomic<int>& cuts, Kind kind = Kind::kTlsHandshake)
        : thread_([this, &cuts, kind] { drip(cuts, kind); })
    {
    }
    int sent() const { return sent_.load(); }
    ~Dripper()
    {
        stop_ = true;
        thread_.join();
    }
    Dripper(const Dripper&) = delete;
    Dripper& operator=(const Dripper&) = delete;

private:
    void drip(std::atomic<int>& cuts, Kind kind)
    {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{AF_INET, htons(kGuardedPort), {htonl(INADDR_LOOPBACK)}, {}};
        ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        const std::string opening = kind == Kind::kTlsHandshake
            ? std::string("\x16\x03\x01\x02\x00", 5) // a handshake record of 512 bytes to come
            : std::string("GET /metrics HTTP/1.1\r\nX-Slow: ");
        const char* drop = kind == Kind::kTlsHandshake ? "\x01" : "a";
        ::send(client, opening.data(), opening.size(), MSG_NOSIGNAL);
        while (!stop_) {
            pollfd ready{client, POLLIN, 0};
            if (::send(client, drop, 1, MSG_NOSIGNAL) != 1 || ::poll(&ready, 1, static_cast<int>(kDrip.count())) > 0) {
                ++cuts;
                break;
            }
            ++sent_;
        }
        ::close(client);
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

struct Guarded {
    fs::path dir = kScratch / "guarded";
    Child agent, prometheus;
    std::atomic<int> cuts{0};
    std::vector<std::unique_ptr<Dripper>> drippers;
    std::string stopped; // how the agent ended after SIGTERM
};

// "STATUS\nBODY" of an HTTPS request to the agent with the test's CA, or "no answer".
std::string httpsRequest(const Guarded& guarded, const std::string& method, const std::string& path,
    const std::string& user, const std::string& password, const httplib::Headers& headers = {})
{
    httplib::SSLClient client("127.0.0.1", kGuardedPort);
    client.set_ca_cert_path((guarded.dir / "ca.crt").c_str());
    client.enable_server_certificate_verification(true);
    client.set_connection_timeout(kPageWait);
    client.set_read_timeout(kPageWait);
    if (!user.empty())
        client.set_basic_auth(user.c_str(), password.c_str());
    const httplib::Result result =
        method == "GET" ? client.Get(path.c_str(), headers) : client.Post(path.c_str(), "", "text/plain");
    if (!result)
        return "no answer";
    return std::to_string(result->status) + "\n" + result->body;
}

std::string page(const Guarded& guarded)
{
    return httpsRequest(guarded, "GET", "/metrics", kScrapeUser, kScrapePassword);
}

// A CA, the agent's certificate for 127.0.0.1 signed by it, a web
// configuration naming them with one login, and the agent serving with it.
void startGuardedAgent(Guarded& guarded)
{
    // A TLS client writes to a connection the server cut with plain write():
    // the test hears EPIPE instead of ending.
    std::signal(SIGPIPE, SIG_IGN);
    fs::create_directories(guarded.dir);
    const std::string dir = guarded.dir.string();
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::ofstream(guarded.dir / "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    for (const std::string& command :
        {"openssl req -x509" + key + " -keyout " + dir + "/ca.key -out " + dir + "/ca.crt -days 2 -subj /CN=test-ca",
            "openssl req" + key + " -keyout " + dir + "/server.key -out " + dir + "/server.csr -subj /CN=agent",
            "openssl x509 -req -in " + dir + "/server.csr -CA " + dir + "/ca.crt -CAkey " + dir
                + "/ca.key -CAcreateserial -days 2 -out " + dir + "/server.crt -extfile " + dir + "/san.ext"})
        ASSERT_EQ(run(command).find("[failed]"), std::string::npos) << command;
    std::ofstream(guarded.dir / "web.yml")
        << "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
        << "basic_auth_users:\n  " << kScrapeUser << ": " << bcryptHash(kScrapePassword) << "\n";
    ASSERT_EQ(run("promtool check web-config " + dir + "/web.yml").find("[failed]"), std::string::npos);
    guarded.agent = Child({program("sorvinda"), "watch", "--site", "hallP", "--interval", "1", "--metrics-listen",
                              "127.0.0.1:" + std::to_string(kGuardedPort), "--metrics-web-config", dir + "/web.yml"},
        guarded.dir / "agent.log");
    ASSERT_TRUE(testsupport::waitUntil([&] { return page(guarded).starts_with("200"); }, kStartWait))
        << readText(guarded.dir / "agent.log");
}

// Prometheus, on loopback here, scraping the agent every second twice: once
// with the login, once with a wrong password.
void startPrometheus(Guarded& guarded)
{
    const std::string dir = guarded.dir.string();
    std::ofstream config(guarded.dir / "prometheus.yml");
    config << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n";
    for (const auto& [job, password] : {std::pair{"right", kScrapePassword}, std::pair{"wrong", "guess"}})
        config << "  - job_name: " << job << "\n    scheme: https\n    tls_config:\n      ca_file: " << dir
               << "/ca.crt\n    basic_auth:\n      username: " << kScrapeUser << "\n      password: '" << password
               << "'\n    static_configs:\n      - targets: ['127.0.0.1:" << kGuardedPort << "']\n";
    config.close();
    guarded.prometheus =
        Child({"prometheus", "--config.file=" + dir + "/prometheus.yml", "--storage.tsdb.path=" + dir + "/tsdb",
                  "--web.listen-address=127.0.0.1:" + std::to_string(kPrometheusPort)},
            guarded.dir / "prometheus.log");
}

// "JOB up=VALUE" for each job Prometheus has scraped, from its HTTP API.
std::string upByJob()
{
    httplib::Client client("127.0.0.1", kPrometheusPort);
    const httplib::Result result = client.Get("/api/v1/query?query=up");
    if (!result || result->status != 200)
        return "no answer";
    const nlohmann::json answer = nlohmann::json::parse(result->body, nullptr, false);
    std::string text;
    if (answer.is_discarded() || !answer.contains("data"))
        return "not JSON";
    for (const nlohmann::json& sample : answer["data"]["result"])
        text += sample["metric"]["job"].get<std::string>() + " up=" + sample["value"][1].get<std::string>() + "\n";
    return text;
}

// How many of kPagePolls requests, one after another, got the page.
std::string pagePolls(const Guarded& guarded)
{
    int served = 0;
    for (int i = 0; i < kPagePolls; ++i)
        served += page(guarded).starts_with("200") ? 1 : 0;
    return "served " + std::to_string(served) + " of " + std::to_string(kPagePolls);
}

// Slow clients, each in the middle of a request once it has sent a few
// bytes without being cut.
constexpr int kDripsBeforeServing = 3;

void startDrippers(Guarded& guarded)
{
    guarded.drippers.clear();
    guarded.cuts = 0;
    for (int i = 0; i < kDrippers; ++i)
        guarded.drippers.push_back(std::make_unique<Dripper>(guarded.cuts));
    testsupport::waitUntil(
        [&] {
            return std::all_of(guarded.drippers.begin(), guarded.drippers.end(),
                [](const auto& dripper) { return dripper->sent() >= kDripsBeforeServing; });
        },
        kPageWait);
}

struct GuardedStep {
    const char* name;
    std::function<std::string(Guarded&)> run;
    std::vector<const char*> lines; // regexes, each matching a line of what run gave
};

const std::vector<GuardedStep> kGuardedSteps{
    {"no login, no page", [](Guarded& g) { return httpsRequest(g, "GET", "/metrics", "", ""); }, {"401"}},
    {"a wrong password, no page", [](Guarded& g) { return httpsRequest(g, "GET", "/metrics", kScrapeUser, "scrape"); },
        {"401"}},
    {"no login, not even a 404", [](Guarded& g) { return httpsRequest(g, "GET", "/other", "", ""); }, {"401"}},
    {"the login gets the page", page, {"200", R"(sorvinda_modules\{site="hallP"\} [0-9]+)"}},
    {"the example web configuration passes promtool and the agent's reader",
        [](Guarded& g) {
            const fs::path example = g.dir / "example";
            fs::create_directories(example);
            fs::copy_file(fs::path(std::getenv("SORVINDA_SOURCE_DIR")) / "packaging/systemd/metrics-web.yml",
                example / "metrics-web.yml", fs::copy_options::overwrite_existing);
            fs::copy_file(g.dir / "server.crt", example / "metrics.crt", fs::copy_options::overwrite_existing);
            fs::copy_file(g.dir / "server.key", example / "metrics.key", fs::copy_options::overwrite_existing);
            std::string error;
            const bool read = reporting::readWebConfig(example / "metrics-web.yml", error).has_value();
            return run("promtool check web-config " + (example / "metrics-web.yml").string()) + "\n"
                + (read ? "the agent reads it" : error);
        },
        {".*metrics-web.yml SUCCESS", "the agent reads it"}},
    {"POST is not allowed",
        [](Guarded& g) { return httpsRequest(g, "POST", "/metrics", kScrapeUser, kScrapePassword); }, {"405"}},
    {"another path is not found", [](Guarded& g) { return httpsRequest(g, "GET", "/", kScrapeUser, kScrapePassword); },
        {"404"}},
    {"plain HTTP gets nothing",
        [](Guarded&) {
            httplib::Client client("127.0.0.1", kGuardedPort);
            client.set_read_timeout(kPageWait);
            const httplib::Result result = client.Get("/metrics");
            return result ? std::to_string(result->status) : std::string("no answer");
        },
        {"(no answer|400)"}},
    {"50,000 headers are refused",
        [](Guarded& g) {
            httplib::Headers flood;
            for (int i = 0; i < 50000; ++i)
                flood.emplace("X-Flood-" + std::to_string(i), "v");
            return httpsRequest(g, "GET", "/metrics", kScrapeUser, kScrapePassword, flood);
        },
        {"(no answer|4[0-9][0-9])"}},
    {"slow clients do not keep the page away",
        [](Guarded& g) {
            startDrippers(g);
            const std::string cutBefore = "cut before " + std::to_string(g.cuts.load());
            return cutBefore + "\n" + pagePolls(g);
        },
        {"cut before 0", "served 6 of 6"}},
    {"a request has one deadline: slow clients are cut",
        [](Guarded& g) {
            testsupport::waitUntil([&] { return g.cuts.load() == kDrippers; }, kPageWait);
            return "cut " + std::to_string(g.cuts.load());
        },
        {"cut 2"}},
    {"Prometheus: up with the login, down with a wrong password",
        [](Guarded& g) {
            startPrometheus(g);
            std::string up;
            testsupport::waitUntil(
                [&] { return hasLine(up = upByJob(), "right up=1") && hasLine(up, "wrong up=0"); }, kPrometheusWait);
            return up;
        },
        {"right up=1", "wrong up=0"}},
    {"SIGTERM with slow clients in the middle of a request ends within a second",
        [](Guarded& g) {
            startDrippers(g);
            const std::string cutBefore = "cut before " + std::to_string(g.cuts.load());
            ::kill(g.agent.pid(), SIGTERM);
            const std::optional<int> status = g.agent.endsWithin(1000ms);
            return cutBefore + "\n" + (status ? "ended" : "still running") + " status "
                + std::to_string(status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1);
        },
        {"cut before 0", "ended status 0"}},
};

TEST(Reporting, ProtectedMetricsEndpoint)
{
    testsupport::requireIsolatedNetwork();
    Guarded guarded;
    startGuardedAgent(guarded);
    if (HasFatalFailure())
        return;
    for (const GuardedStep& step : kGuardedSteps) {
        SCOPED_TRACE(step.name);
        const std::string text = step.run(guarded);
        for (const char* line : step.lines)
            EXPECT_TRUE(hasLine(text, line)) << line << "\nin:\n"
                                             << text << "\nagent:\n"
                                             << readText(guarded.dir / "agent.log");
    }
    guarded.drippers.clear();
    fs::remove_all(kScratch);
}

// An agent that cannot start (here: no libqort beside a copy of the
// program) ends at once, also with its metrics endpoint just started and
// with a SIGTERM arriving meanwhile. Each row: runs, and whether SIGTERM is sent at once.
TEST(Reporting, FailedStartEnds)
{
    testsupport::requireIsolatedNetwork();
    const fs::path bin = kScratch / "lonely" / "bin";
    fs::create_directories(bin);
    fs::copy_file(program("sorvinda"), bin / "sorvinda", fs::copy_options::overwrite_existing);
    const struct {
        const char* what;
        int runs;
        bool terminate;
    } rows[] = {{"left alone", 10, false}, {"SIGTERM at once", 10, true}};
    const fs::path log = kScratch / "lonely" / "agent.log";
    for (const auto& row : rows) {
        int ended = 0, saidWhy = 0;
        for (int i = 0; i < row.runs; ++i) {
            Child agent(
                {(bin / "sorvinda").string(), "watch", "--metrics-listen", "127.0.0.1:" + std::to_string(kGuardedPort)},
                log);
            if (row.terminate)
                ::kill(agent.pid(), SIGTERM);
            const std::optional<int> status = agent.endsWithin(kStopWait);
            ended += status ? 1 : 0;
            saidWhy += status && WIFEXITED(*status) && WEXITSTATUS(*status) == 1
                    && readText(log).find("cannot load libqort") != std::string::npos
                ? 1
                : 0;
        }
        EXPECT_EQ(ended, row.runs) << row.what;
        if (!row.terminate) {
            EXPECT_EQ(saidWhy, row.runs) << row.what << "\n" << readText(log);
        }
    }
    fs::remove_all(kScratch);
}

// A full disk (here a file size limit of a few hundred bytes, which cuts a
// write short exactly where a full disk would) costs events, never the
// file: it holds whole lines only, the loss is said once and counted on
// the metrics page.
TEST(Reporting, FullDiskCostsEventsNotTheFile)
{
    testsupport::requireIsolatedNetwork();
    constexpr int kRoomBlocks = 1; // ulimit -f: one block (512 or 1024 bytes), room for one or two lines
    testsupport::SimulatorProcess modules(testsupport::moduleArgs({"mac=00-30-11-00-00-31,ip=192.168.0.31",
        "mac=00-30-11-00-00-32,ip=192.168.0.32", "mac=00-30-11-00-00-33,ip=192.168.0.33",
        "mac=00-30-11-00-00-34,ip=192.168.0.34", "mac=00-30-11-00-00-35,ip=192.168.0.35"}));
    ASSERT_TRUE(modules.start()) << modules.error();
    const fs::path dir = kScratch / "full";
    fs::create_directories(dir);
    Child agent({"sh", "-c", "ulimit -f " + std::to_string(kRoomBlocks) + " && exec \"$@\"", "sh", program("sorvinda"),
                    "watch", "--site", "hallF", "--interval", "1", "--events", (dir / "events").string(),
                    "--metrics-listen", "127.0.0.1:" + std::to_string(kMetricsPort)},
        dir / "agent.log");
    const std::string page = pageShowing(R"(sorvinda_events_lost_total\{site="hallF"\} [1-9][0-9]*)");
    EXPECT_TRUE(hasLine(page, R"(sorvinda_events_lost_total\{site="hallF"\} [1-9][0-9]*)")) << page;
    // A few more scans: losing goes on, and is not said again.
    const auto isScan = [](const std::string& line) {
        return line.rfind("recv", 0) == 0 && line.find("Module Scan") != std::string::npos;
    };
    EXPECT_TRUE(modules.waitForLines(isScan, modules.linesMatching(isScan).size() + 3, kStartWait));
    agent.stop(SIGTERM);
    const std::string events = readText(dir / "events");
    std::istringstream lines(events);
    int whole = 0;
    for (std::string line; std::getline(lines, line);)
        whole += nlohmann::json::parse(line, nullptr, false).is_object() ? 1 : 0;
    EXPECT_GE(whole, 1) << events;
    EXPECT_TRUE(events.empty() || events.back() == '\n') << events;
    EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), whole) << events;
    const std::string log = readText(dir / "agent.log");
    std::size_t said = 0;
    for (std::size_t at = log.find("events are being lost"); at != std::string::npos;
         at = log.find("events are being lost", at + 1))
        ++said;
    EXPECT_EQ(said, 1u) << log;
    fs::remove_all(kScratch);
}

// The endpoint in this process: its stop ends at once at any moment - right
// after the start, and with slow clients in the middle of a request, whose
// connections it cuts. Each row: how many slow clients, how many rounds.
TEST(MetricsServer, StopsAtAnyMoment)
{
    testsupport::requireIsolatedNetwork();
    std::signal(SIGPIPE, SIG_IGN);
    constexpr auto kStopBound = 1000ms;
    const struct {
        const char* what;
        int slowClients;
        int rounds;
    } rows[] = {{"right after the start", 0, 20}, {"with slow clients mid-request", kDrippers, 4}};
    for (const auto& row : rows) {
        int stopped = 0, cut = 0, cutEarly = 0;
        for (int round = 0; round < row.rounds; ++round) {
            auto server = std::make_unique<reporting::MetricsServer>("s", "127.0.0.1", kGuardedPort);
            std::atomic<int> cuts{0};
            std::vector<std::unique_ptr<Dripper>> drippers;
            for (int i = 0; i < row.slowClients; ++i)
                drippers.push_back(std::make_unique<Dripper>(cuts, Dripper::Kind::kHttpHeader));
            testsupport::waitUntil(
                [&] {
                    return std::all_of(drippers.begin(), drippers.end(),
                        [](const auto& dripper) { return dripper->sent() >= kDripsBeforeServing; });
                },
                kPageWait);
            cutEarly += cuts.load();
            std::atomic<bool> done{false};
            std::thread stopping([&] {
                server.reset();
                done = true;
            });
            stopped += testsupport::waitUntil([&] { return done.load(); }, kStopBound) ? 1 : 0;
            stopping.join();
            testsupport::waitUntil([&] { return cuts.load() == row.slowClients; }, kPageWait);
            cut += cuts.load();
        }
        EXPECT_EQ(stopped, row.rounds) << row.what;
        EXPECT_EQ(cutEarly, 0) << row.what; // they were in the middle of a request when the stop came
        EXPECT_EQ(cut, row.rounds * row.slowClients) << row.what;
    }
}

} // namespace
