// The MQTT reporter against brokers as a plant runs them, and against
// brokers that misbehave, inside scripts/isolated-net:
//  - a real mosquitto with a TLS listener (a CA and certificates made with
//    openssl for the test), a password file and an ACL that lets user siteA
//    write only sorvinda/A/#; `sorvinda watch` reports to it, or says why
//    it cannot;
//  - the reporter itself (reporting::MqttReporter) against mosquitto and
//    against small stand-ins that accept and then stall or drop;
//  - an agent whose broker name lookup stalls ends promptly on SIGTERM.
#include "reporting/mqttreporter.h"
#include "tests/support/childprocess.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTlsPort = 18840;
constexpr int kPlainPort = 18841;
constexpr int kClientCertPort = 18842;
constexpr int kStandInPort = 18843;
constexpr int kMqttsDefaultPort = 8883;
constexpr int kMetricsPort = 19760;
constexpr int kDnsPort = 53;
constexpr const char* kModuleMac = "00-30-11-00-00-01";
constexpr const char* kGhostMac = "00-30-11-00-00-99";
constexpr const char* kAdminPassword = "admin-secret";
constexpr const char* kSiteAPassword = "siteA-secret";
constexpr const char* kSubscribeSeconds = "10"; // mosquitto_sub -W: its own bound wait
constexpr auto kStartWait = 10s;
constexpr auto kReportWait = 20s;
// What the agent promises: it ends within a second of SIGTERM, whatever it
// is doing.
constexpr auto kTermBound = 1s;
// Connection tries a refused agent makes before its lines are counted.
constexpr int kRefusedTries = 3;

const fs::path kScratch = fs::temp_directory_path() / ("mqtt_test." + std::to_string(::getpid()));

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t countMatches(const std::string& text, const std::string& pattern)
{
    const std::regex re(pattern);
    return static_cast<std::size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

// Runs a shell command to its end; its output, "[failed]" appended when it
// did not succeed.
std::string run(const std::string& command)
{
    const fs::path out = kScratch / "run.out";
    const int status = std::system((command + " >" + out.string() + " 2>&1").c_str());
    return readText(out) + (WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "[failed]");
}

std::string program(const char* name)
{
    return testsupport::binaryDirectory() + "/" + name;
}

using Child = testsupport::ChildProcess;

// The plant's security material, made once with openssl: a CA, a server
// certificate for "localhost" only (no address), a client certificate for
// user siteA, and a second CA that signed none of them.
void makeCertificates()
{
    const std::string dir = kScratch.string();
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const auto ca = [&](const std::string& name) {
        return "openssl req -x509" + key + " -keyout " + dir + "/" + name + ".key -out " + dir + "/" + name
            + ".pem -days 2 -subj /CN=" + name + " -addext basicConstraints=critical,CA:TRUE"
            + " -addext keyUsage=critical,keyCertSign,cRLSign";
    };
    const auto signedBy = [&](const std::string& name, const std::string& cn, const std::string& extensions) {
        std::ofstream(kScratch / (name + ".ext")) << extensions;
        return "openssl req" + key + " -keyout " + dir + "/" + name + ".key -out " + dir + "/" + name
            + ".csr -subj /CN=" + cn + " && openssl x509 -req -in " + dir + "/" + name + ".csr -CA " + dir
            + "/ca.pem -CAkey " + dir + "/ca.key -CAcreateserial -days 2 -out " + dir + "/" + name + ".pem -extfile "
            + dir + "/" + name + ".ext";
    };
    for (const std::string& command : {ca("ca"), ca("otherca"),
             signedBy("server", "localhost", "subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n"),
             signedBy("client", "siteA", "extendedKeyUsage=clientAuth\n")})
        ASSERT_EQ(run(command).find("[failed]"), std::string::npos) << command;
    std::ofstream(kScratch / "siteA.password") << kSiteAPassword << "\n";
    std::ofstream(kScratch / "wrong.password") << "not-the-password\n";
    fs::create_directories(kScratch / "credentials");
    std::ofstream(kScratch / "credentials" / "mqtt-password") << kSiteAPassword << "\n";
    const std::string passwords = (kScratch / "passwords").string();
    ASSERT_EQ(run("mosquitto_passwd -c -b " + passwords + " siteA " + kSiteAPassword + " && mosquitto_passwd -b "
                  + passwords + " admin " + kAdminPassword)
                  .find("[failed]"),
        std::string::npos);
    std::ofstream(kScratch / "acl") << "user siteA\ntopic readwrite sorvinda/A/#\n\nuser admin\ntopic readwrite #\n";
}

// mosquitto as a plant runs it: TLS with passwords, TLS with client
// certificates (the certificate's name is the user), and a plain listener
// for the test's own reading as admin. Every listener binds all addresses
// of this isolated network, "localhost" included in both families.
Child startBroker()
{
    const std::string dir = kScratch.string();
    const std::string tls = "cafile " + dir + "/ca.pem\ncertfile " + dir + "/server.pem\nkeyfile " + dir
        + "/server.key\ntls_version tlsv1.2\n";
    std::ofstream(kScratch / "mosquitto.conf")
        << "per_listener_settings false\nallow_anonymous false\npassword_file " << dir << "/passwords\nacl_file " << dir
        << "/acl\npersistence false\nuser root\nlog_type all\n"
        << "listener " << kTlsPort << "\n"
        << tls << "listener " << kMqttsDefaultPort << "\n"
        << tls << "listener " << kPlainPort << "\n"
        << "listener " << kClientCertPort << "\n"
        << tls << "require_certificate true\nuse_identity_as_username true\n";
    Child broker({"mosquitto", "-c", (kScratch / "mosquitto.conf").string()}, kScratch / "mosquitto.log");
    testsupport::waitUntil(
        [] {
            return run("mosquitto_pub -h 127.0.0.1 -p " + std::to_string(kPlainPort) + " -u admin -P " + kAdminPassword
                       + " -t probe -n")
                       .find("[failed]")
                == std::string::npos;
        },
        kStartWait);
    return broker;
}

// Every message under filter the broker hands the admin within the bound,
// as "topic payload" lines; retained messages come at once.
std::string adminRead(const std::string& filter, int count, const char* seconds = kSubscribeSeconds)
{
    return run("mosquitto_sub -h 127.0.0.1 -p " + std::to_string(kPlainPort) + " -u admin -P " + kAdminPassword
        + " -v -t '" + filter + "' -C " + std::to_string(count) + " -W " + seconds);
}

void adminRetain(const std::string& topic, const std::string& payload)
{
    ASSERT_EQ(run("mosquitto_pub -h 127.0.0.1 -p " + std::to_string(kPlainPort) + " -u admin -P " + kAdminPassword
                  + " -r -q 1 -t '" + topic + "' -m '" + payload + "'")
                  .find("[failed]"),
        std::string::npos);
}

std::string path(const char* name)
{
    return (kScratch / name).string();
}

struct AgentRow {
    const char* name;
    const char* site;
    std::function<std::vector<std::string>()> options; // --mqtt and the rest
    std::vector<std::string> environment;              // NAME=VALUE for the agent
    const char* reported;                              // regex of a retained module line read as admin, or nullptr
    const char* said;                                  // regex of a line the agent says exactly once, or nullptr
    int refusedPort;                                   // the agent's connections there fail: said once over tries
    std::function<void()> before = [] {};
    std::function<void()> after = [] {};
};

const std::string kModuleLine = std::string(R"(sorvinda/A/modules/)") + kModuleMac + R"( \{.*"ip":"192.168.0.10".*)";

std::string tlsBroker(const char* host = "localhost")
{
    return std::string("mqtts://") + host + ":" + std::to_string(kTlsPort);
}

const std::vector<AgentRow> kAgentRows{
    {"TLS with a user and a password file reports", "A",
        [] {
            return std::vector<std::string>{"--mqtt", tlsBroker(), "--mqtt-cafile", path("ca.pem"), "--mqtt-user",
                "siteA", "--mqtt-password-file", path("siteA.password")};
        },
        {}, kModuleLine.c_str(), nullptr, 0},
    {"mqtts:// without a port is port 8883", "A",
        [] {
            return std::vector<std::string>{"--mqtt", "mqtts://localhost", "--mqtt-cafile", path("ca.pem"),
                "--mqtt-user", "siteA", "--mqtt-password-file", path("siteA.password")};
        },
        {}, kModuleLine.c_str(), nullptr, 0},
    {"the password from the service's credential", "A",
        [] {
            return std::vector<std::string>{
                "--mqtt", tlsBroker(), "--mqtt-cafile", path("ca.pem"), "--mqtt-user", "siteA"};
        },
        {"CREDENTIALS_DIRECTORY=" + path("credentials")}, kModuleLine.c_str(), nullptr, 0},
    {"a client certificate is the login", "A",
        [] {
            return std::vector<std::string>{"--mqtt", "localhost:" + std::to_string(kClientCertPort), "--mqtt-cafile",
                path("ca.pem"), "--mqtt-cert", path("client.pem"), "--mqtt-key", path("client.key")};
        },
        {}, kModuleLine.c_str(), nullptr, 0},
    {"a wrong password is said once while the tries go on", "A",
        [] {
            return std::vector<std::string>{"--mqtt", tlsBroker(), "--mqtt-cafile", path("ca.pem"), "--mqtt-user",
                "siteA", "--mqtt-password-file", path("wrong.password")};
        },
        {}, nullptr, R"(refused the login of user 'siteA' \((Bad user name or password|Not authorized)\))", kTlsPort},
    {"a broker signed by another CA is said once", "A",
        [] {
            return std::vector<std::string>{"--mqtt", tlsBroker(), "--mqtt-cafile", path("otherca.pem"), "--mqtt-user",
                "siteA", "--mqtt-password-file", path("siteA.password")};
        },
        {}, nullptr, R"(failed the TLS check \(.*certificate verify failed)", kTlsPort},
    {"the broker's name is checked against its certificate", "A",
        [] {
            return std::vector<std::string>{"--mqtt", tlsBroker("127.0.0.1"), "--mqtt-cafile", path("ca.pem"),
                "--mqtt-user", "siteA", "--mqtt-password-file", path("siteA.password")};
        },
        {}, nullptr, R"(failed the TLS check \(.*certificate verify failed)", kTlsPort},
    {"--mqtt-insecure takes a name mismatch, and says so", "A",
        [] {
            return std::vector<std::string>{"--mqtt", tlsBroker("127.0.0.1"), "--mqtt-cafile", path("ca.pem"),
                "--mqtt-insecure", "--mqtt-user", "siteA", "--mqtt-password-file", path("siteA.password")};
        },
        {}, kModuleLine.c_str(), R"(is not checked against its certificate's name \(--mqtt-insecure\))", 0},
    {"site A's user cannot write or clear site B's topics", "B",
        [] {
            return std::vector<std::string>{"--mqtt", tlsBroker(), "--mqtt-cafile", path("ca.pem"), "--mqtt-user",
                "siteA", "--mqtt-password-file", path("siteA.password")};
        },
        {}, nullptr, R"(refused a message to sorvinda/B/.* \(Not authorized\))", 0,
        [] { adminRetain("sorvinda/B/modules/00-30-11-00-00-21", R"({"ip":"192.168.1.10"})"); },
        [] {
            const std::string siteB = adminRead("sorvinda/B/#", 2, "2");
            EXPECT_EQ(countMatches(siteB, "sorvinda/B/modules/00-30-11-00-00-21 \\{"), 1U) << siteB;
            EXPECT_EQ(countMatches(siteB, std::string("modules/") + kModuleMac), 0U) << siteB;
            EXPECT_EQ(countMatches(siteB, "sorvinda/B/status"), 0U) << siteB;
        }},
    {"a record of a module gone before the agent started is removed", "A",
        [] {
            return std::vector<std::string>{"--mqtt", tlsBroker(), "--mqtt-cafile", path("ca.pem"), "--mqtt-user",
                "siteA", "--mqtt-password-file", path("siteA.password")};
        },
        {}, kModuleLine.c_str(), nullptr, 0,
        [] { adminRetain(std::string("sorvinda/A/modules/") + kGhostMac, R"({"ip":"192.168.0.99"})"); },
        [] {
            std::string records;
            EXPECT_TRUE(testsupport::waitUntil(
                [&] {
                    records = adminRead("sorvinda/A/modules/+", 2, "2");
                    return countMatches(records, kGhostMac) == 0;
                },
                kReportWait))
                << records;
            EXPECT_EQ(countMatches(records, std::string("modules/") + kModuleMac + " "), 1U) << records;
        }},
};

// The agent's broker connections on port so far, as mosquitto logs them.
std::size_t connectionsTo(int port)
{
    return countMatches(readText(kScratch / "mosquitto.log"), "New connection from .* on port " + std::to_string(port));
}

TEST(Mqtt, AgentAgainstPlantBroker)
{
    testsupport::requireIsolatedNetwork();
    fs::create_directories(kScratch);
    makeCertificates();
    testsupport::SimulatorProcess modules(
        testsupport::moduleArgs({std::string("mac=") + kModuleMac + ",ip=192.168.0.10"}));
    ASSERT_TRUE(modules.start()) << modules.error();
    for (const AgentRow& row : kAgentRows) {
        SCOPED_TRACE(row.name);
        Child broker = startBroker();
        row.before();
        std::vector<std::string> argv{"env"};
        argv.insert(argv.end(), row.environment.begin(), row.environment.end());
        argv.insert(argv.end(), {program("sorvinda"), "watch", "--site", row.site, "--interval", "1"});
        const std::vector<std::string> options = row.options();
        argv.insert(argv.end(), options.begin(), options.end());
        const fs::path log = kScratch / "agent.log";
        Child agent(argv, log);
        if (row.reported != nullptr) {
            std::string records;
            EXPECT_TRUE(testsupport::waitUntil(
                [&] {
                    records = adminRead(std::string("sorvinda/") + row.site + "/modules/+", 1, "2");
                    return countMatches(records, row.reported) > 0;
                },
                kReportWait))
                << records << "\nagent:\n"
                << readText(log);
        }
        if (row.said != nullptr) {
            EXPECT_TRUE(testsupport::waitUntil([&] { return countMatches(readText(log), row.said) > 0; }, kReportWait))
                << readText(log);
            if (row.refusedPort != 0) {
                EXPECT_TRUE(testsupport::waitUntil(
                    [&] { return connectionsTo(row.refusedPort) >= kRefusedTries; }, kReportWait));
            }
            EXPECT_EQ(countMatches(readText(log), row.said), 1U) << readText(log);
        }
        row.after();
        EXPECT_EQ(agent.stop(SIGTERM, kTermBound), 0) << "not ended within the bound after SIGTERM\n" << readText(log);
        EXPECT_EQ(countMatches(readText(log), kSiteAPassword), 0U) << readText(log);
    }
    fs::remove_all(kScratch);
}

// A stand-in for a broker that misbehaves: it accepts, answers CONNECT
// with a CONNACK (MQTT 5, success), and then either takes every byte and
// acknowledges nothing (stall) or closes the connection (drop).
class StandInBroker {
public:
    enum class Behaviour { kStall, kDrop };
    explicit StandInBroker(Behaviour behaviour)
        : behaviour_(behaviour)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{AF_INET, htons(kStandInPort), {htonl(INADDR_LOOPBACK)}, {}};
        bound_ = ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
            && ::listen(listener_, 8) == 0;
        thread_ = std::thread([this] { serve(); });
    }
    ~StandInBroker()
    {
        stop_ = true;
        thread_.join();
        for (const int connection : connections_)
            ::close(connection);
        ::close(listener_);
    }
    StandInBroker(const StandInBroker&) = delete;
    StandInBroker& operator=(const StandInBroker&) = delete;

    bool bound() const { return bound_; }
    std::vector<Clock::time_point> accepted() const
    {
        const std::lock_guard lock(mutex_);
        return accepted_;
    }

private:
    static constexpr int kPollMs = 20;
    static constexpr unsigned char kConnack[] = {0x20, 0x03, 0x00, 0x00, 0x00};

    // The whole CONNECT packet: its fixed header, its length, its body.
    static bool readConnect(int connection)
    {
        unsigned char byte = 0;
        if (::recv(connection, &byte, 1, MSG_WAITALL) != 1)
            return false;
        std::size_t length = 0;
        for (int shift = 0; shift < 28; shift += 7) {
            if (::recv(connection, &byte, 1, MSG_WAITALL) != 1)
                return false;
            length |= static_cast<std::size_t>(byte & 0x7f) << shift;
            if ((byte & 0x80) == 0)
                break;
        }
        std::vector<unsigned char> body(length);
        return length == 0 || ::recv(connection, body.data(), length, MSG_WAITALL) == static_cast<ssize_t>(length);
    }

    void serve()
    {
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            for (const int connection : connections_)
                fds.push_back({connection, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), kPollMs) <= 0)
                continue;
            for (std::size_t i = 1; i < fds.size(); ++i) {
                char sink[4096];
                if ((fds[i].revents & POLLIN) != 0)
                    static_cast<void>(::recv(fds[i].fd, sink, sizeof sink, 0));
            }
            if ((fds[0].revents & POLLIN) == 0)
                continue;
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            {
                const std::lock_guard lock(mutex_);
                accepted_.push_back(Clock::now());
            }
            if (readConnect(connection))
                static_cast<void>(::send(connection, kConnack, sizeof kConnack, MSG_NOSIGNAL));
            if (behaviour_ == Behaviour::kDrop)
                ::close(connection);
            else
                connections_.push_back(connection);
        }
    }

    Behaviour behaviour_;
    int listener_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::vector<int> connections_; // only the serving thread touches it until the end
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> accepted_;
    std::thread thread_;
};

commissioning::ScanReport scanOf(const std::vector<std::string>& macs)
{
    commissioning::ScanReport report{"S", {}, 0, 0, 0, {}};
    for (const std::string& mac : macs)
        report.modules.push_back({mac, nlohmann::ordered_json{{"mac", mac}, {"ip", "192.168.0.10"}}, true});
    return report;
}

commissioning::WatchEvent eventNumber(int number)
{
    return {
        "2026-12-07T00:00:00Z", "S", commissioning::kEventChanged, kModuleMac, {{"n", number}}, {{"n", number + 1}}};
}

reporting::MqttSettings standIn(std::size_t maxPending = 10000)
{
    reporting::MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = kStandInPort;
    settings.maxPending = maxPending;
    return settings;
}

TEST(Mqtt, StalledBrokerHoldsNoMoreThanTheBound)
{
    testsupport::requireIsolatedNetwork();
    constexpr std::size_t kBound = 50;
    constexpr int kEvents = 500;
    StandInBroker broker(StandInBroker::Behaviour::kStall);
    ASSERT_TRUE(broker.bound());
    reporting::MqttReporter reporter("S", standIn(kBound));
    reporter.scanned(scanOf({kModuleMac}));
    ASSERT_TRUE(testsupport::waitUntil([&] { return reporter.stats().inFlight == 2; }, kStartWait))
        << "status and record in flight";
    for (int i = 0; i < kEvents; ++i) {
        reporter.reported(eventNumber(i));
        const reporting::MqttStats stats = reporter.stats();
        ASSERT_LE(stats.inFlight + stats.queuedEvents, kBound) << "after event " << i;
    }
    // Nothing is acknowledged: the library holds the bound's worth, the
    // rest of the events are given up and counted.
    EXPECT_TRUE(testsupport::waitUntil([&] { return reporter.stats().inFlight == kBound; }, kStartWait));
    const reporting::MqttStats stats = reporter.stats();
    EXPECT_EQ(stats.queuedEvents, 0U);
    EXPECT_EQ(stats.droppedEvents, static_cast<std::uint64_t>(kEvents + 2 - static_cast<int>(kBound)));
    // A module gone while nothing is acknowledged stays to be cleared.
    reporter.scanned(scanOf({}));
    EXPECT_EQ(reporter.stats().cleared, 1U);
}

TEST(Mqtt, BrokerThatAcceptsAndDropsIsTriedWithGrowingPauses)
{
    testsupport::requireIsolatedNetwork();
    constexpr std::size_t kTries = 5;
    StandInBroker broker(StandInBroker::Behaviour::kDrop);
    ASSERT_TRUE(broker.bound());
    reporting::MqttReporter reporter("S", standIn());
    reporter.scanned(scanOf({kModuleMac}));
    ASSERT_TRUE(testsupport::waitUntil([&] { return broker.accepted().size() >= kTries; }, 30s));
    // Each pause at least doubles: a slow machine only makes them longer.
    const std::vector<Clock::time_point> accepted = broker.accepted();
    auto pause = reporting::MqttReporter::kFirstRetryPause;
    for (std::size_t i = 1; i < kTries; ++i, pause *= 2)
        EXPECT_GE(accepted[i] - accepted[i - 1], pause) << "before connection " << i + 1;
}

// A plain mosquitto without logins on loopback, for the reporter's own rows.
Child startOpenBroker()
{
    std::ofstream(kScratch / "open.conf") << "listener " << kStandInPort << " 127.0.0.1\nallow_anonymous true\n"
                                          << "persistence false\n";
    Child broker({"mosquitto", "-c", (kScratch / "open.conf").string()}, kScratch / "open.log");
    testsupport::waitUntil(
        [] {
            return run("mosquitto_pub -h 127.0.0.1 -p " + std::to_string(kStandInPort) + " -t probe -n")
                       .find("[failed]")
                == std::string::npos;
        },
        kStartWait);
    return broker;
}

std::string openRead(const std::string& filter)
{
    return run("mosquitto_sub -h 127.0.0.1 -p " + std::to_string(kStandInPort) + " -v -t '" + filter + "' -C 3 -W 2");
}

TEST(Mqtt, ClearedModulesLeaveTheSetOnceAcknowledged)
{
    testsupport::requireIsolatedNetwork();
    fs::create_directories(kScratch);
    // The broker is away while a module goes: its emptying waits.
    reporting::MqttReporter reporter("S", standIn());
    reporter.scanned(scanOf({kModuleMac, kGhostMac}));
    reporter.scanned(scanOf({kModuleMac}));
    EXPECT_EQ(reporter.stats().cleared, 1U);
    // The broker comes back holding the gone module's record, and one of a
    // module this reporter never heard of: both are emptied, the set ends empty.
    Child broker = startOpenBroker();
    ASSERT_EQ(run("mosquitto_pub -h 127.0.0.1 -p " + std::to_string(kStandInPort) + " -r -q 1 -t sorvinda/S/modules/"
                  + kGhostMac + " -m '{}' && mosquitto_pub -h 127.0.0.1 -p " + std::to_string(kStandInPort)
                  + " -r -q 1 -t sorvinda/S/modules/00-30-11-00-00-77 -m '{}'")
                  .find("[failed]"),
        std::string::npos);
    std::string records;
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            records = openRead("sorvinda/S/modules/+");
            return countMatches(records, "modules/") == 1 && reporter.stats().cleared == 0;
        },
        kReportWait))
        << records << " cleared: " << reporter.stats().cleared;
    EXPECT_EQ(countMatches(records, std::string("modules/") + kModuleMac + " "), 1U) << records;
    EXPECT_EQ(reporter.stats().inFlight, 0U);
    fs::remove_all(kScratch);
}

// The agent's broker name is looked up through a resolver that never
// answers (a private resolv.conf in a mount namespace of the agent's own,
// naming a silent socket on this network's loopback): SIGTERM still ends it
// within the bound.
TEST(Mqtt, SigtermDuringTheBrokerNameLookup)
{
    testsupport::requireIsolatedNetwork();
    fs::create_directories(kScratch);
    const int resolver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(kDnsPort), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::bind(resolver, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::ofstream(kScratch / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:5 attempts:3\n";
    testsupport::SimulatorProcess modules(
        testsupport::moduleArgs({std::string("mac=") + kModuleMac + ",ip=192.168.0.10"}));
    ASSERT_TRUE(modules.start()) << modules.error();
    std::vector<std::string> argv{"unshare", "--mount", "--propagation", "private", "sh", "-c",
        R"(mount --bind "$0" /etc/resolv.conf && exec "$@")", (kScratch / "resolv.conf").string(), "env",
        program("sorvinda"), "watch", "--site", "A", "--interval", "1", "--mqtt", "broker.plant.test"};
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's runtime sleeps a second at exit while another thread
    // is alive (the one still in the lookup); the agent itself is done.
    const char* options = std::getenv("TSAN_OPTIONS");
    argv.insert(
        argv.begin() + 9, std::string("TSAN_OPTIONS=") + (options != nullptr ? options : "") + ":atexit_sleep_ms=0");
#endif
    Child agent(argv, kScratch / "agent.log");
    pollfd query{resolver, POLLIN, 0};
    ASSERT_EQ(::poll(&query, 1, static_cast<int>(std::chrono::milliseconds(kStartWait).count())), 1)
        << "no lookup came\n"
        << readText(kScratch / "agent.log");
    EXPECT_EQ(agent.stop(SIGTERM, kTermBound), 0) << readText(kScratch / "agent.log");
    ::close(resolver);
    fs::remove_all(kScratch);
}

// A broker that took the connection and acknowledges nothing: the agent
// has messages in flight, and its goodbye is never answered.
TEST(Mqtt, SigtermWithAStalledBroker)
{
    testsupport::requireIsolatedNetwork();
    fs::create_directories(kScratch);
    StandInBroker broker(StandInBroker::Behaviour::kStall);
    ASSERT_TRUE(broker.bound());
    testsupport::SimulatorProcess modules(
        testsupport::moduleArgs({std::string("mac=") + kModuleMac + ",ip=192.168.0.10"}));
    ASSERT_TRUE(modules.start()) << modules.error();
    Child agent({program("sorvinda"), "watch", "--site", "A", "--interval", "1", "--mqtt",
                    "127.0.0.1:" + std::to_string(kStandInPort), "--metrics-listen",
                    "127.0.0.1:" + std::to_string(kMetricsPort)},
        kScratch / "agent.log");
    // Connected, and the first scan's record handed to the stalled broker.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            return !broker.accepted().empty()
                && countMatches(readText(kScratch / "agent.log"), "\"event\":\"new\"") > 0;
        },
        kStartWait))
        << readText(kScratch / "agent.log");
    // The metrics page counts the events given up (none yet).
    std::string page;
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            httplib::Client client("127.0.0.1", kMetricsPort);
            const httplib::Result result = client.Get("/metrics");
            page = result ? result->body : "no answer";
            return countMatches(page, R"(\nsorvinda_mqtt_events_dropped_total\{site="A"\} 0\n)") == 1;
        },
        kStartWait))
        << page;
    EXPECT_EQ(agent.stop(SIGTERM, kTermBound), 0) << readText(kScratch / "agent.log");
    fs::remove_all(kScratch);
}

struct SiteRow {
    const char* name;
    std::string site;
    bool usable;
};

const std::vector<SiteRow> kSiteRows{
    {"plain ASCII", "hall-3", true},
    {"UTF-8 letters",
        "Halle S\xc3\xbc"
        "d",
        true},
    {"a space inside", "hall 3", true},
    {"empty", "", false},
    {"a topic level separator", "hall/3", false},
    {"a wildcard", "hall+", false},
    {"a control byte", "hall\x01", false},
    {"a line feed", "hall\n3", false},
    {"DEL", "hall\x7f", false},
    {"a C1 control as UTF-8", "hall\xc2\x85", false},
    {"a lone continuation byte", "hall\x80", false},
    {"a cut sequence", "hall\xc3", false},
    {"an overlong slash", "hall\xc0\xaf", false},
    {"a surrogate", "hall\xed\xa0\x80", false},
    {"beyond U+10FFFF", "hall\xf4\x90\x80\x80", false},
};

TEST(Mqtt, SiteNames)
{
    for (const SiteRow& row : kSiteRows)
        EXPECT_EQ(!reporting::siteNameProblem(row.site).has_value(), row.usable) << row.name;
}

TEST(Mqtt, SiteNameThatCannotLabelTopicsIsAUsageError)
{
    testsupport::requireIsolatedNetwork();
    fs::create_directories(kScratch);
    Child agent({program("sorvinda"), "watch", "--site", "hall\x01", "--mqtt", "127.0.0.1:1"}, kScratch / "agent.log");
    EXPECT_EQ(agent.waitExit(kStartWait), 2);
    EXPECT_EQ(countMatches(readText(kScratch / "agent.log"), "not plain printable UTF-8"), 1U)
        << readText(kScratch / "agent.log");
    fs::remove_all(kScratch);
}

} // namespace
