// The command line's own behaviour, one table of cases: each case starts
// the module simulator with the same module file (unless it needs none),
// runs one program and checks its status, output formats and texts, and
// what the simulator logged of its requests. The wire itself is the
// library's tests' business. Then the session's reply loop against a
// stand-in library, the password prompt on a terminal of its own, and the
// recovery server (sorvinda dhcp-server, or sorvinda-dhcpd) serving until a
// signal.
#include "cli/qortsession.h"
#include "tests/commissioning/dhcpserveramongmodules.h"
#include "tests/dhcp/dhcpclientsocket.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"
#include "tests/versioninfo/testimage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kProgramTimeout = 30s;
constexpr auto kLogWait = 5000ms;

// IPs whose text order differs from their numeric order.
constexpr const char* kModuleFile =
    "mac=00-30-11-00-00-01,protocol=1.10,fb=Modbus TCP,version=2.01.7,ip=192.168.0.10,sn=255.255.255.0,"
    "gw=192.168.0.1,hn=press1,dns1=192.168.0.2,dns2=0.0.0.0\n"
    "mac=00-30-11-00-00-02,protocol=1.10,fb=PROFINET IO,version=2.10.300,ip=192.168.0.9,sn=255.255.255.0,"
    "gw=192.168.0.1,hn=press2,password=secret\n"
    "mac=00-30-11-00-00-03,protocol=1.9,fb=CANopen gateway,version=1.00.9,ip=10.0.5.7,sn=255.0.0.0,gw=10.0.0.1,"
    "-hn,-dns1,-dns2\n"
    "mac=00-30-11-00-00-04,fb=Modbus TCP,ip=192.168.0.100,dhcp=on,hn=packer\n";

constexpr const char* kHostileReply = "fb type = \\x1B[2Jevil\\x07;mac = 00-30-11-00-00-0C;\\x00";
// A formula with quotes and control bytes: the CSV cell keeps the quotes
// (CSV-quoted), escapes the control bytes and opens as text.
constexpr const char* kHostileCsvReply = "fb type = =Profi,\\\"Net\\\"\\x1B[2J\\x07;mac = 00-30-11-00-00-0C;";

struct Outcome {
    int status = -1;
    std::string out, err;
};

struct Scratch {
    testimage::ScratchDirectory dir;
    fs::path modules, secret, versionFile, scanBefore, scanAfter, plan;
};

// @MODULES@, @SECRET@, @VERSIONFILE@ and @PLAN@ in a case's arguments name
// the scratch files.
std::string Expand(const std::string& argument, const Scratch& scratch)
{
    if (argument == "@PLAN@")
        return scratch.plan.string();
    if (argument == "@MODULES@")
        return scratch.modules.string();
    if (argument == "@SECRET@")
        return scratch.secret.string();
    if (argument == "@VERSIONFILE@")
        return scratch.versionFile.string();
    if (argument == "@BEFORE@" || argument == "@AFTER@")
        return (argument == "@BEFORE@" ? scratch.scanBefore : scratch.scanAfter).string();
    return argument;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A word for sh -c, quoted so that nothing in it is taken as syntax.
std::string Quoted(const std::string& word)
{
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Where the programs keep their state (the audit log): in the scratch folder.
fs::path StateFolder(const Scratch& scratch)
{
    return scratch.dir.path() / "state";
}

// Runs bin/<program> with arguments and extra environment entries; `timeout`
// kills it when it outlives kProgramTimeout (status 128 + 9 then).
Outcome RunProgram(const std::vector<std::string>& command, const std::vector<std::string>& env, const Scratch& scratch,
    bool planOnStdin = false)
{
    std::string line = "env " + Quoted("XDG_STATE_HOME=" + StateFolder(scratch).string());
    for (const std::string& entry : env)
        line += " " + Quoted(entry);
    line += " timeout -s KILL " + std::to_string(kProgramTimeout.count()) + " "
        + Quoted(testsupport::binaryDirectory() + "/" + command[0]);
    for (std::size_t i = 1; i < command.size(); ++i)
        line += " " + Quoted(Expand(command[i], scratch));
    const fs::path out = scratch.dir.path() / "out", err = scratch.dir.path() / "err";
    line += " <" + Quoted(planOnStdin ? scratch.plan.string() : "/dev/null") + " >" + Quoted(out.string()) + " 2>"
        + Quoted(err.string());
    const int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
}

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool HasLineMatching(const std::string& text, const char* pattern)
{
    const std::regex re(pattern);
    for (const std::string& line : Lines(text))
        if (std::regex_match(line, re))
            return true;
    return false;
}

std::vector<std::string> MacOrder(const std::string& text)
{
    std::vector<std::string> macs;
    const std::regex mac("00-30-11-00-00-0[0-9]");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), mac); it != std::sregex_iterator(); ++it)
        macs.push_back(it->str());
    return macs;
}

// kModuleFile as JSON, sorted by IP: only the fields a module reports, the
// switches as booleans, and the warnings (no module is in the host's
// 10.213.0.0/24; the one with DHCP on is not warned about).
constexpr const char* kModulesJson = R"([
{"mac": "00-30-11-00-00-03", "ip": "10.0.5.7", "mask": "255.0.0.0", "gateway": "10.0.0.1", "dhcp": false,
 "password": false, "type": "CANopen gateway", "version": "1.00.9", "protocol": "1.9",
 "warnings": ["other-subnet"]},
{"mac": "00-30-11-00-00-02", "ip": "192.168.0.9", "mask": "255.255.255.0", "gateway": "192.168.0.1", "dhcp": false,
 "password": true, "hostname": "press2", "dns1": "0.0.0.0", "dns2": "0.0.0.0", "type": "PROFINET IO",
 "version": "2.10.300", "protocol": "1.10", "warnings": ["other-subnet"]},
{"mac": "00-30-11-00-00-01", "ip": "192.168.0.10", "mask": "255.255.255.0", "gateway": "192.168.0.1", "dhcp": false,
 "password": false, "hostname": "press1", "dns1": "192.168.0.2", "dns2": "0.0.0.0", "type": "Modbus TCP",
 "version": "2.01.7", "protocol": "1.10", "warnings": ["other-subnet"]},
{"mac": "00-30-11-00-00-04", "ip": "192.168.0.100", "mask": "255.255.255.0", "gateway": "0.0.0.0", "dhcp": true,
 "password": false, "hostname": "packer", "dns1": "0.0.0.0", "dns2": "0.0.0.0", "type": "Modbus TCP",
 "version": "2.01.7", "protocol": "1.10", "warnings": []}])";

// Two saved scans for diff: 01 changed two fields, 02 went, 03 came.
constexpr const char* kScanBefore =
    R"([{"mac": "00-30-11-00-00-01", "ip": "192.168.0.10", "hostname": "a", "warnings": []},
 {"mac": "00-30-11-00-00-02", "ip": "192.168.0.11", "warnings": []}])";
constexpr const char* kScanAfter = R"([{"mac": "00-30-11-00-00-03", "ip": "192.168.0.11", "warnings": []},
 {"mac": "00-30-11-00-00-01", "ip": "192.168.0.20", "dhcp": true, "warnings": ["duplicate-ip"]}])";

struct CliCase {
    const char* name;
    std::vector<std::string> simulator = {}; // empty: no simulator
    std::vector<std::string> command = {};   // program and arguments
    std::vector<std::string> env = {};
    int status = 0;
    const char* outHas = "";    // substring of standard output
    const char* errLine = "";   // standard error is exactly this line (or lines)
    const char* logLine = "";   // a line of the simulator's log (regex)
    const char* noLogLine = ""; // no such line up to a later scan (regex)
    std::uint16_t holdPort = 0; // this test holds that UDP port, named holderName
    const char* holderName = "cli_test";
    std::vector<std::string> first = {}; // a program run (with status 0) before command
    const char* modulesAddress = "";     // an address the modules namespace's interface holds meanwhile
    const char* audit = "";              // the result of the audit log's last line
    bool otherDhcpServer = false;        // busybox udhcpd runs among the modules
    std::string plan = "";               // @PLAN@; empty: the first run's standard output
    int configures = -1;                 // Configure requests the simulator received in all (-1: not counted)
    bool planOnStdin = false;            // the command's standard input is @PLAN@ (else /dev/null)
    std::function<void(const Outcome&)> check = {};
};

const std::vector<std::string> kModules{"--file", "@MODULES@"};

// An address on the modules namespace's interface while it lives: another
// device that answers for it.
class ModulesSideAddress {
public:
    explicit ModulesSideAddress(const std::string& address)
        : command_(std::string("ip netns exec ") + std::getenv("SORVINDA_NETNS_MODULES") + " ip addr ")
        , where_(address + "/24 dev " + std::getenv("SORVINDA_MODULES_IF"))
    {
        added_ = std::system((command_ + "add " + where_).c_str()) == 0;
    }
    ~ModulesSideAddress()
    {
        const int removed = std::system((command_ + "del " + where_).c_str());
        static_cast<void>(removed); // the namespace goes at the end anyway
    }
    bool added() const { return added_; }

private:
    std::string command_, where_;
    bool added_ = false;
};

// One configure of module 00-30-11-00-00-01 with more arguments.
std::vector<std::string> ConfigureFirst(std::vector<std::string> more)
{
    std::vector<std::string> command{"sorvinda", "configure", "00-30-11-00-00-01"};
    command.insert(command.end(), more.begin(), more.end());
    return command;
}

std::vector<std::string> Scan(std::vector<std::string> more)
{
    std::vector<std::string> command{"sorvinda", "scan", "--wait", "500"};
    command.insert(command.end(), more.begin(), more.end());
    return command;
}

// A refusal of the command line itself: status 2 and one line on standard error.
CliCase Refused(
    const char* name, std::vector<std::string> command, const char* errLine, std::vector<std::string> simulator = {})
{
    return {.name = name,
        .simulator = std::move(simulator),
        .command = std::move(command),
        .status = 2,
        .errLine = errLine};
}

// A plan that moves modules 1..count of `--count` to 192.168.20.N, named mN.
std::string MovingPlan(int count)
{
    std::string plan = "mac,ip,hostname\r\n";
    for (int n = 1; n <= count; ++n) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "00-30-11-00-%02X-%02X", (n >> 8) & 0xFF, n & 0xFF);
        plan += std::string(mac) + ",192.168.20." + std::to_string(n) + ",m" + std::to_string(n) + "\r\n";
    }
    return plan;
}

// A DHCP server's own check of a configuration around an export: the
// command's status, @EXPORT@ naming the export and @KEA@ a kea-dhcp4
// configuration that includes it.
int ServerCheck(const std::string& exported, std::string command)
{
    const testimage::ScratchDirectory dir;
    const std::string part = dir.write("export", Bytes(exported)).string();
    const std::string kea = dir.write("kea.json", Bytes(R"({"Dhcp4": <?include ")" + part + "\"?>}")).string();
    for (const auto& [mark, path] : {std::pair{"@EXPORT@", part}, std::pair{"@KEA@", kea}})
        if (const std::size_t at = command.find(mark); at != std::string::npos)
            command.replace(at, std::strlen(mark), Quoted(path));
    return std::system(("PATH=/usr/sbin:/sbin:$PATH " + command + " >/dev/null").c_str());
}

constexpr const char* kExportPlan = "mac,ip,hostname,dhcp\n00-30-11-00-00-01,192.168.0.20,press1,\n"
                                    "00-30-11-00-00-02,192.168.0.21,,on\n00-30-11-00-00-03,192.168.0.22,,off\n"
                                    "00-30-11-00-00-04,,packer,\n";

const CliCase kCases[] = {
    {.name = "ScanJson",
        .simulator = kModules,
        .command = Scan({"--format", "json"}),
        .check =
            [](const Outcome& run) { EXPECT_EQ(nlohmann::json::parse(run.out), nlohmann::json::parse(kModulesJson)); }},
    {.name = "ScanCsvSortedReversed",
        .simulator = kModules,
        .command = Scan({"--format", "csv", "--sort", "IP", "--reverse"}),
        .check =
            [](const Outcome& run) {
                EXPECT_EQ(run.out,
                    "mac,ip,mask,gateway,dhcp,password,hostname,dns1,dns2,type,version,protocol,warnings\r\n"
                    "00-30-11-00-00-04,192.168.0.100,255.255.255.0,0.0.0.0,on,off,packer,0.0.0.0,0.0.0.0,Modbus TCP,"
                    "2.01.7,1.10,\r\n"
                    "00-30-11-00-00-01,192.168.0.10,255.255.255.0,192.168.0.1,off,off,press1,192.168.0.2,0.0.0.0,"
                    "Modbus TCP,2.01.7,1.10,other-subnet\r\n"
                    "00-30-11-00-00-02,192.168.0.9,255.255.255.0,192.168.0.1,off,on,press2,0.0.0.0,0.0.0.0,PROFINET IO,"
                    "2.10.300,1.10,other-subnet\r\n"
                    "00-30-11-00-00-03,10.0.5.7,255.0.0.0,10.0.0.1,off,off,,,,CANopen gateway,1.00.9,1.9,"
                    "other-subnet\r\n");
            }},
    {.name = "ScanTableSortedByIp",
        .simulator = kModules,
        .command = Scan({"--sort", "ip"}),
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.out, "IP +SN +GW +DHCP +Version +Type +MAC +Host name +Notes"))
                    << run.out;
                EXPECT_TRUE(HasLineMatching(run.out,
                    "10\\.0\\.5\\.7 +255\\.0\\.0\\.0 +10\\.0\\.0\\.1 +Off +1\\.00\\.9 +CANopen gateway +"
                    "00-30-11-00-00-03 +N/A +Not in any subnet of this computer \\(.+/[0-9]+\\): it can still be "
                    "configured "
                    "here"))
                    << run.out;
                EXPECT_TRUE(HasLineMatching(run.out, ".*00-30-11-00-00-04 +packer")) << run.out;
                EXPECT_EQ(Lines(run.out).size(), 5u) << run.out;
                EXPECT_EQ(MacOrder(run.out),
                    (std::vector<std::string>{
                        "00-30-11-00-00-03", "00-30-11-00-00-02", "00-30-11-00-00-01", "00-30-11-00-00-04"}));
            }},
    {.name = "HostileTextIsEscapedInTable",
        .simulator = {"--raw-reply", kHostileReply},
        .command = Scan({}),
        .outHas = "\\x1B[2Jevil\\x07"},
    {.name = "HostileTextIsEscapedInJson",
        .simulator = {"--raw-reply", kHostileReply},
        .command = Scan({"--format", "json"}),
        .outHas = "\"type\": \"\\u001b[2Jevil\\u0007\""},
    {.name = "HostileTextIsEscapedInCsv",
        .simulator = {"--raw-reply", kHostileCsvReply},
        .command = Scan({"--format", "csv"}),
        .outHas = ",\"'=Profi,\"\"Net\"\"\\x1B[2J\\x07\","},
    {.name = "ScanWarningsCsv",
        .simulator =
            testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=10.213.0.50", "mac=00-30-11-00-00-02,ip=10.213.0.50",
                "mac=00-30-11-00-00-03,ip=10.213.0.51", "mac=00-30-11-00-00-04,ip=172.16.0.5"}),
        .command = Scan({"--format", "csv"}),
        .check =
            [](const Outcome& run) {
                for (const char* row : {"00-30-11-00-00-01,10\\.213\\.0\\.50,.*,duplicate-ip\r",
                         "00-30-11-00-00-02,10\\.213\\.0\\.50,.*,duplicate-ip\r", "00-30-11-00-00-03,.*,\r",
                         "00-30-11-00-00-04,172\\.16\\.0\\.5,.*,other-subnet\r"})
                    EXPECT_TRUE(HasLineMatching(run.out, row)) << row << "\n" << run.out;
            }},
    {.name = "NoModuleAnswers",
        .simulator = {"--count", "0"},
        .command = {"sorvinda", "scan", "--wait", "300"},
        .status = 1,
        .errLine = "sorvinda: no module answered within 300 ms"},
    {.name = "Configure",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-01", "--ip", "192.168.0.20", "--hostname", "line1"},
        .outHas = "Reconfigured: 00-30-11-00-00-01\n",
        .logLine = "applied 00-30-11-00-00-01 ip=192\\.168\\.0\\.20 .*hn=\"line1\".*",
        .audit = "verified"},
    {.name = "ConfigurePasswordFileAndNewPassword",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-02", "--dhcp", "ON", "--password-file", "@SECRET@",
            "--new-password"},
        .env = {"SORVINDA_NEW_PASSWORD=other"},
        .outHas = "Reconfigured: 00-30-11-00-00-02\n",
        .logLine = "applied 00-30-11-00-00-02 password=changed .*dhcp=on .*"},
    {.name = "WrongPasswordChangesNothing",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-02", "--ip", "192.168.0.21"},
        .env = {"SORVINDA_PASSWORD=wrong"},
        .status = 3,
        .errLine = "sorvinda: Invalid password (module 00-30-11-00-00-02)",
        .logLine = "invalid-password 00-30-11-00-00-02 password=wrong",
        .noLogLine = "applied .*",
        .audit = "invalid-password"},
    // The address check asks the network: the modules namespace answers for
    // an address it holds. Refused, nothing is sent; --force writes anyway.
    {.name = "AddressInUseIsRefused",
        .simulator = kModules,
        .command = ConfigureFirst({"--ip", "10.213.0.77", "--wait", "500"}),
        .status = 6,
        .noLogLine = "(applied|invalid-password) .*|recv .*Configure.*",
        .modulesAddress = "10.213.0.77",
        .audit = "refused",
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(
                    run.err, "sorvinda: address 10\\.213\\.0\\.77 is in use by ([0-9A-F]{2}-){5}[0-9A-F]{2}"))
                    << run.err;
                EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
            }},
    {.name = "AddressInUseForced",
        .simulator = kModules,
        .command = ConfigureFirst({"--ip", "10.213.0.77", "--force", "--wait", "500"}),
        .outHas = "Reconfigured: 00-30-11-00-00-01\n",
        .logLine = "applied 00-30-11-00-00-01 ip=10\\.213\\.0\\.77 .*",
        .modulesAddress = "10.213.0.77",
        .audit = "verified"},
    {.name = "AddressOfAnotherModuleIsRefused",
        .simulator = kModules,
        .command = ConfigureFirst({"--ip", "192.168.0.9", "--wait", "500"}),
        .status = 6,
        .errLine = "sorvinda: address 192.168.0.9 is in use by module 00-30-11-00-00-02",
        .noLogLine = "recv .*Configure.*"},
    {.name = "UnchangedModuleIsNotVerified",
        .simulator = {"--module", "mac=00-30-11-00-00-06,ip=192.168.0.40,hn=kept,keep=on"},
        .command = {"sorvinda", "configure", "00-30-11-00-00-06", "--ip", "192.168.0.30", "--wait", "500"},
        .status = 7,
        .outHas = "Reconfigured: 00-30-11-00-00-06\n",
        .errLine = "sorvinda: not verified: IP is 192.168.0.40, sent 192.168.0.30",
        .audit = "not-verified"},
    // The module answers the write, then never a scan: nothing showed the
    // values, so the write is not verified (7), never "verified".
    {.name = "ConfigureAnsweredButNeverRescanned",
        .simulator = {"--file", "@MODULES@", "--exit-after", "2"},
        .command = ConfigureFirst({"--hostname", "late", "--wait", "300"}),
        .status = 7,
        .outHas = "Reconfigured: 00-30-11-00-00-01\n",
        .errLine = "sorvinda: not verified: module 00-30-11-00-00-01 did not answer a scan after the write",
        .audit = "not-verified"},
    {.name = "ConfigureUnanswered",
        .simulator = {"--file", "@MODULES@", "--exit-after", "1"},
        .command = ConfigureFirst({"--hostname", "late", "--wait", "300"}),
        .status = 4,
        .errLine = "sorvinda: module 00-30-11-00-00-01 did not answer the configure request within 300 ms",
        .audit = "no-answer"},
    {.name = "UndoPutsTheEarlierAddressBack",
        .simulator = kModules,
        .command = {"sorvinda", "undo", "00-30-11-00-00-01"},
        .outHas = "Reconfigured: 00-30-11-00-00-01\n",
        .logLine = "applied 00-30-11-00-00-01 ip=192\\.168\\.0\\.10 .*",
        .first = ConfigureFirst({"--ip", "192.168.0.21"}),
        .audit = "verified"},
    {.name = "NothingToUndo",
        .command = {"sorvinda", "undo", "00-30-11-00-00-01"},
        .status = 4,
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.err,
                    "sorvinda: nothing to undo: /.*/sorvinda/audit\\.jsonl holds no change of module "
                    "00-30-11-00-00-01"))
                    << run.err;
            }},
    {.name = "ConfigureNoSuchModule",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-99", "--wait", "300"},
        .status = 4,
        .errLine = "sorvinda: no module 00-30-11-00-00-99 answered within 300 ms"},
    {.name = "ApplyScanCsvChangesNothing",
        .simulator = kModules,
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .outHas = "0 changed, 4 unchanged, 0 missing, 0 failed\n",
        .first = Scan({"--format", "csv"}),
        .configures = 0},
    {.name = "ApplyBadPlanSendsNothing",
        .simulator = kModules,
        .command = {"sorvinda", "apply", "@PLAN@"},
        .status = 2,
        .plan = "mac,ip,hostname,dhcp\n00-30-11-00-00-01,192.168.0.20,,\n00-30-11-00-00-0Z,,,\n00-30-11-00-00-01,,,\n"
                "00-30-11-00-00-02,192.168.0.256,,\n00-30-11-00-00-03,10.0.5.255,,\n00-30-11-00-00-04,,"
            + std::string(30, 'a') + ",\n00-30-11-00-00-05,192.168.0.20,,\n00-30-11-00-00-06,,,maybe\n\"00-30-11",
        .configures = 0,
        .check =
            [](const Outcome& run) {
                EXPECT_FALSE(HasLineMatching(run.err, ".*/plan\\.csv:2: .*")) << run.err; // the good row
                // Lines 6 to 8 (.255, a long name, one new IP twice) are the
                // scan's to judge: a plan that cannot be read is not scanned.
                for (const int line : {3, 4, 5, 9, 10})
                    EXPECT_TRUE(HasLineMatching(run.err, (".*/plan\\.csv:" + std::to_string(line) + ": .+").c_str()))
                        << line << "\n"
                        << run.err;
            }},
    // Only the scan shows that this row writes its host name.
    {.name = "ApplyIllegalHostNameSendsNothing",
        .simulator = kModules,
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .status = 2,
        .plan = "mac,hostname\n00-30-11-00-00-01,pack-er\n",
        .configures = 0,
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.err, ".*/plan\\.csv:2: .*Illegal.*")) << run.err;
            }},
    {.name = "ApplyDryRun",
        .simulator = kModules,
        .command = {"sorvinda", "apply", "--dry-run", "@PLAN@", "--wait", "500"},
        .plan = "mac,ip,hostname\n00-30-11-00-00-01,192.168.0.20,line1\n00-30-11-00-00-03,192.168.0.9,\n"
                "00-30-11-00-00-04,,\n00-30-11-00-00-09,192.168.0.30,\n",
        .configures = 0,
        .check =
            [](const Outcome& run) {
                EXPECT_EQ(run.out,
                    "00-30-11-00-00-01 change ip 192.168.0.10 -> 192.168.0.20, hostname \"press1\" -> \"line1\" "
                    "(address "
                    "not checked: no adapter of this computer is in the address's subnet: the network was not asked)\n"
                    "00-30-11-00-00-03 conflict ip 192.168.0.9 (in use by module 00-30-11-00-00-02)\n"
                    "00-30-11-00-00-04 unchanged\n00-30-11-00-00-09 missing\n"
                    "1 to change, 1 unchanged, 1 missing, 1 conflicts\n");
            }},
    // Every write goes out at once; a second run finds nothing to change.
    {.name = "ApplyTwoHundredTwice",
        .simulator = {"--count", "200"},
        .command = {"sorvinda", "apply", "@PLAN@"},
        .outHas = "0 changed, 200 unchanged, 0 missing, 0 failed\n",
        .first = {"sorvinda", "apply", "@PLAN@"},
        .audit = "verified",
        .plan = MovingPlan(200),
        .configures = 200},
    {.name = "ApplyUnansweredRowFailsAlone",
        .simulator = testsupport::moduleArgs(
            {"mac=00-30-11-00-00-01,ip=192.168.0.10", "mac=00-30-11-00-00-02,ip=192.168.0.11,password=secret",
                "mac=00-30-11-00-00-03,ip=192.168.0.12,answer=off"}),
        .command = {"sorvinda", "apply", "@PLAN@", "--password-file", "@SECRET@", "--wait", "500"},
        .status = 8,
        .outHas = "2 changed, 0 unchanged, 0 missing, 1 failed\n",
        .logLine = "ignored 00-30-11-00-00-03",
        .audit = "no-answer",
        .plan = "mac,hostname\n00-30-11-00-00-01,a\n00-30-11-00-00-02,b\n00-30-11-00-00-03,c\n",
        .configures = 3},
    // Module 1 takes module 2's address; 2 moves on. A holder that does not
    // leave keeps its address alone: the row waiting for it is never sent.
    {.name = "ApplyHolderThatKeepsItsValuesBlocksTheRowWaitingForIt",
        .simulator = testsupport::moduleArgs(
            {"mac=00-30-11-00-00-01,ip=192.168.0.10", "mac=00-30-11-00-00-02,ip=192.168.0.11,keep=on"}),
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .status = 8,
        .outHas = "00-30-11-00-00-01 blocked: module 00-30-11-00-00-02 did not leave 192.168.0.11\n"
                  "00-30-11-00-00-02 failed: not verified: IP is 192.168.0.11, sent 192.168.0.12\n"
                  "0 changed, 0 unchanged, 0 missing, 1 failed, 1 blocked\n",
        .noLogLine = ".*Configure: ?00-30-11-00-00-01.*",
        .audit = "not-verified",
        .plan = "mac,ip\n00-30-11-00-00-01,192.168.0.11\n00-30-11-00-00-02,192.168.0.12\n",
        .configures = 1},
    // A silent module and one that keeps its values are told apart: each
    // answer names its module.
    {.name = "ApplySilentHolderIsNoAnswerAndBlocks",
        .simulator = testsupport::moduleArgs(
            {"mac=00-30-11-00-00-01,ip=192.168.0.10", "mac=00-30-11-00-00-02,ip=192.168.0.11,answer=off"}),
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .status = 8,
        .outHas = "00-30-11-00-00-01 blocked: module 00-30-11-00-00-02 did not leave 192.168.0.11\n"
                  "00-30-11-00-00-02 failed: no answer\n",
        .noLogLine = ".*Configure: ?00-30-11-00-00-01.*",
        .audit = "no-answer",
        .plan = "mac,ip\n00-30-11-00-00-01,192.168.0.11\n00-30-11-00-00-02,192.168.0.12\n",
        .configures = 1},
    {.name = "ApplyChainWritesInOrder",
        .simulator =
            testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10", "mac=00-30-11-00-00-02,ip=192.168.0.11"}),
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "2000"},
        .outHas = "2 changed, 0 unchanged, 0 missing, 0 failed\n",
        .audit = "verified",
        .plan = "mac,ip\n00-30-11-00-00-01,192.168.0.11\n00-30-11-00-00-02,192.168.0.12\n",
        .configures = 2,
        .check =
            [](const Outcome& run) {
                EXPECT_EQ(run.out.find("00-30-11-00-00-01 changed ip 192.168.0.10 -> 192.168.0.11"), 0u) << run.out;
            }},
    {.name = "ApplyDryRunShowsTheOrder",
        .simulator =
            testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10", "mac=00-30-11-00-00-02,ip=192.168.0.11"}),
        .command = {"sorvinda", "apply", "--dry-run", "@PLAN@", "--wait", "500"},
        .outHas = "00-30-11-00-00-01 change ip 192.168.0.10 -> 192.168.0.11 (waits for 00-30-11-00-00-02)",
        .plan = "mac,ip\n00-30-11-00-00-01,192.168.0.11\n00-30-11-00-00-02,192.168.0.12\n",
        .configures = 0},
    {.name = "ApplySwapIsRefusedUpFront",
        .simulator =
            testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10", "mac=00-30-11-00-00-02,ip=192.168.0.11"}),
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .status = 2,
        .plan = "mac,ip\n00-30-11-00-00-01,192.168.0.11\n00-30-11-00-00-02,192.168.0.10\n",
        .configures = 0,
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.err, ".*/plan\\.csv:2: .*wait on each other in a ring.*")) << run.err;
            }},
    // The scan's own CSV is a plan that changes nothing, whatever the
    // modules report: a long name, a hyphen, an IP ending .255 in a /16,
    // two modules on one IP.
    {.name = "ApplyScanCsvOfHostileButReportedValues",
        .simulator = testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=10.1.0.255,sn=255.255.0.0,hn=press-line-1",
            "mac=00-30-11-00-00-02,ip=10.1.0.7,sn=255.255.0.0,hn=" + std::string(40, 'n'),
            "mac=00-30-11-00-00-03,ip=10.1.0.7,sn=255.255.0.0,hn=module-000003"}),
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .outHas = "0 changed, 3 unchanged, 0 missing, 0 failed\n",
        .first = Scan({"--format", "csv"}),
        .configures = 0},
    // A reported name with a hyphen does not stop a new address.
    {.name = "ConfigureKeepsAReportedHyphenatedName",
        .simulator = testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=10.1.0.255,sn=255.255.0.0,hn=press-line-1"}),
        .command = ConfigureFirst({"--ip", "10.1.0.20", "--wait", "2000"}),
        .outHas = "Reconfigured: 00-30-11-00-00-01\n",
        .logLine = "applied 00-30-11-00-00-01 ip=10\\.1\\.0\\.20 .*press-line-1.*",
        .audit = "verified"},
    {.name = "ApplyTypoHeadingIsRefused",
        .simulator = kModules,
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .status = 2,
        .plan = "mac,hostnmae\n00-30-11-00-00-01,x\n",
        .configures = 0,
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.err,
                    ".*/plan\\.csv:1: column \"hostnmae\" is no column of a plan: is it \"hostname\" misspelt\\?.*"))
                    << run.err;
            }},
    {.name = "ApplyFromStandardInputNamesIgnoredColumns",
        .simulator = kModules,
        .command = {"sorvinda", "apply", "--dry-run", "-", "--wait", "500"},
        .outHas = "00-30-11-00-00-01 change hostname \"press1\" -> \"line1\"\n",
        .errLine = "-:1: column \"note\" ignored",
        .plan = "mac,hostname,note\n00-30-11-00-00-01,line1,by the door\n",
        .configures = 0,
        .planOnStdin = true},
    // Module 4 runs DHCP: an empty dhcp cell keeps it, and an IP alone
    // (its server's business) writes nothing.
    {.name = "ApplyEmptyDhcpCellLeavesADhcpModuleAlone",
        .simulator = kModules,
        .command = {"sorvinda", "apply", "@PLAN@", "--wait", "500"},
        .outHas = "0 changed, 1 unchanged, 0 missing, 0 failed\n",
        .plan = "mac,ip,dhcp\n00-30-11-00-00-04,192.168.0.77,\n",
        .configures = 0},
    {.name = "PlanExportRefusesARowItCannotExportWhole",
        .command = {"sorvinda", "plan-export", "--format", "dnsmasq", "@PLAN@"},
        .status = 2,
        .plan = "mac,ip,hostname\n00-30-11-00-00-01,192.168.0.20,a\n00-30-11-00-00-02,192.168.0.21,a-b\n",
        .check =
            [](const Outcome& run) {
                EXPECT_EQ(run.out, "") << "nothing half";
                EXPECT_TRUE(HasLineMatching(run.err, ".*/plan\\.csv:3: hostname \"a-b\": Illegal hostname!.*"))
                    << run.err;
            }},
    {.name = "PlanExportKea",
        .command = {"sorvinda", "plan-export", "--format", "kea", "@PLAN@"},
        .plan = kExportPlan,
        .check =
            [](const Outcome& run) {
                EXPECT_EQ(nlohmann::json::parse(run.out), nlohmann::json::parse(R"({"reservations": [
                    {"hw-address": "00:30:11:00:00:01", "ip-address": "192.168.0.20", "hostname": "press1"},
                    {"hw-address": "00:30:11:00:00:02", "ip-address": "192.168.0.21"}]})"));
                EXPECT_EQ(ServerCheck(run.out, "kea-dhcp4 -t @KEA@"), 0);
            }},
    {.name = "PlanExportDnsmasq",
        .command = {"sorvinda", "plan-export", "--format", "dnsmasq", "@PLAN@"},
        .plan = kExportPlan,
        .check =
            [](const Outcome& run) {
                EXPECT_EQ(run.out,
                    "dhcp-host=00:30:11:00:00:01,192.168.0.20,press1\n"
                    "dhcp-host=00:30:11:00:00:02,192.168.0.21\n");
                EXPECT_EQ(ServerCheck(run.out, "dnsmasq --test --conf-file=@EXPORT@"), 0);
            }},
    {.name = "PlanExportWithoutMacColumn",
        .command = {"sorvinda", "plan-export", "--format", "dnsmasq", "@PLAN@"},
        .status = 2,
        .plan = "ip\n192.168.0.20\n",
        .check = [](const Outcome& run) { EXPECT_TRUE(HasLineMatching(run.err, ".*/plan\\.csv:1: .+")) << run.err; }},
    {.name = "ConfigureLeavesOutWhatTheModuleDidNotReport",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-03", "--ip", "10.0.5.8"},
        .outHas = "Reconfigured: 00-30-11-00-00-03\n",
        .logLine = "applied 00-30-11-00-00-03 ip=10\\.0\\.5\\.8 (?!.*dns).*"},
    Refused("LongHostNameIsNotWrittenBackCut", {"sorvinda", "configure", "00-30-11-00-00-05", "--ip", "10.0.0.5"},
        "sorvinda: module 00-30-11-00-00-05 reports a host name longer than 29 characters, which would be written "
        "back cut: give --hostname",
        {"--module", "mac=00-30-11-00-00-05,ip=10.0.0.4,hn=" + std::string(40, 'a')}),
    // A scan that cannot be sent is the same local failure for every
    // command, and a hostile holder's name cannot forge a line.
    {.name = "HeldScanPortDoctor",
        .command = {"sorvinda", "doctor"},
        .status = 1,
        .outHas = "UDP 3250: held by \\x0AUDP 3250: free (process ID ",
        .holdPort = 3250,
        .holderName = "\nUDP 3250: free"},
    {.name = "DoctorNamesAnotherDhcpServer",
        .command = {"sorvinda", "doctor"},
        .otherDhcpServer = true,
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(
                    run.out, " +DHCP server 10\\.213\\.0\\.2 on svh[0-9a-f]+ offered 10\\.213\\.0\\.1[01][0-9]"))
                    << run.out;
            }},
    {.name = "HeldScanPortConfigure",
        .command = {"sorvinda", "configure", "00-30-11-00-00-01", "--ip", "10.0.5.8"},
        .status = 1,
        .holdPort = 3250,
        .holderName = "\nUDP 3250: free",
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.err, ".*held by \\\\x0AUDP 3250: free .*")) << run.err;
            }},
    {.name = "HeldScanPortWink", .command = {"sorvinda", "wink", "00-30-11-00-00-01"}, .status = 1, .holdPort = 3250},
    // A second agent on a host where the port is taken ends at once, naming
    // the holder, instead of failing every interval.
    {.name = "HeldScanPortWatchEndsAtStart",
        .command = {"sorvinda", "watch", "--interval", "0.5"},
        .status = 1,
        .holdPort = 3250,
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.err, "sorvinda: .*3250.* held by cli_test \\(process ID [0-9]+\\).*"))
                    << run.err;
            }},
    {.name = "WinkOldModuleSendsNothing",
        .simulator = kModules,
        .command = {"sorvinda", "wink", "00-30-11-00-00-03"},
        .status = 5,
        .errLine = "sorvinda: Device does not support wink.",
        .noLogLine = "(wink .*|recv .*WINK.*)"},
    {.name = "WinkNewModule",
        .simulator = kModules,
        .command = {"sorvinda", "wink", "00-30-11-00-00-01"},
        .logLine = "wink 00-30-11-00-00-01"},
    Refused("IllegalHostName", {"sorvinda", "configure", "00-30-11-00-00-04", "--hostname", "pack-er"},
        "sorvinda: Illegal hostname! Only a-z, A-Z and 0-9 allowed. (host name \"pack-er\")", kModules),
    Refused("LastByte255", {"sorvinda", "configure", "00-30-11-00-00-01", "--ip", "192.168.0.255"},
        "sorvinda: Last digit of IP address can not be 255.", kModules),
    Refused("UnreportedSettingIsLocked", {"sorvinda", "configure", "00-30-11-00-00-03", "--dns1", "10.0.0.2"},
        "sorvinda: --dns1: module 00-30-11-00-00-03 does not report this setting, so it cannot be set", kModules),
    Refused("NoPasswordWithoutTerminal", {"sorvinda", "configure", "00-30-11-00-00-02"},
        "sorvinda: password: set SORVINDA_PASSWORD or give a file", kModules),
    Refused("BadAddress", {"sorvinda", "configure", "00-30-11-00-00-01", "--gateway", "10.0.0.256"},
        "sorvinda: --gateway: '10.0.0.256' is not an IPv4 address (a.b.c.d, each 0-255)"),
    Refused("BadMac", {"sorvinda", "wink", "00-30-11-00-00"},
        "sorvinda: MAC: '00-30-11-00-00' is not a MAC address (00-30-11-0A-BC-0F)"),
    Refused("BadFormat", Scan({"--format", "xml"}), "sorvinda: --format: 'xml' is not a format (table, json, csv)"),
    Refused("UnknownOption", Scan({"--bogus"}), "sorvinda: The following argument was not expected: --bogus"),
    Refused("NoCommand", {"sorvinda"},
        "sorvinda: a command is needed: scan, configure, undo, wink, apply, plan-export, diff, watch, dhcp-server or "
        "doctor (see --help)"),
    // The recovery server under both its names: sorvinda dhcp-server and
    // sorvinda-dhcpd.
    Refused("EmptyLogFile", {"sorvinda", "dhcp-server", "--log", ""}, "sorvinda: --log: needs a file name"),
    Refused("DhcpdLogWithoutFile", {"sorvinda-dhcpd", "--log"}, "sorvinda: --log: 1 required TEXT:FILE missing"),
    Refused("DhcpdExtraArgument", {"sorvinda-dhcpd", "--log", "a", "b"},
        "sorvinda: The following argument was not expected: b"),
    Refused("DhcpdUnknownOption", {"sorvinda-dhcpd", "--bogus"},
        "sorvinda: The following argument was not expected: --bogus"),
    {.name = "DhcpdHeldPortIsAnInitFailure",
        .command = {"sorvinda-dhcpd"},
        .status = 1,
        .errLine = "sorvinda: DHCP server init failed: UDP port 67: Address already in use\n"
                   "sorvinda: another DHCP server on this computer holds the port",
        .holdPort = CDhcpServer::kServerPort},
    {.name = "DiffText",
        .command = {"sorvinda", "diff", "@BEFORE@", "@AFTER@"},
        .status = 1,
        .check =
            [](const Outcome& run) {
                EXPECT_EQ(run.out,
                    "changed 00-30-11-00-00-01 ip \"192.168.0.10\" -> \"192.168.0.20\", hostname \"a\" -> (none), "
                    "dhcp (none) -> true\nmissing 00-30-11-00-00-02\nnew 00-30-11-00-00-03\n");
            }},
    {.name = "DiffJson",
        .command = {"sorvinda", "diff", "@BEFORE@", "@AFTER@", "--format", "json"},
        .status = 1,
        .check =
            [](const Outcome& run) {
                const nlohmann::json list = nlohmann::json::parse(run.out);
                ASSERT_EQ(list.size(), 3u);
                EXPECT_EQ(list[0]["fields"], nlohmann::json::parse(R"(["ip", "hostname", "dhcp"])"));
                EXPECT_EQ(list[1]["after"], nullptr);
                EXPECT_EQ(list[2]["after"]["ip"], "192.168.0.11");
            }},
    {.name = "DiffSame",
        .command = {"sorvinda", "diff", "@AFTER@", "@AFTER@"},
        .check = [](const Outcome& run) { EXPECT_EQ(run.out, ""); }},
    {.name = "DiffOfNoScan",
        .command = {"sorvinda", "diff", "@BEFORE@", "@MODULES@"},
        .status = 2,
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.err, "sorvinda: .*/modules\\.txt: not a list of .*")) << run.err;
            }},
    Refused("WatchMetricsWithoutPort", {"sorvinda", "watch", "--metrics-listen", "127.0.0.1"},
        "sorvinda: --metrics-listen: not ADDR:PORT: 127.0.0.1"),
    Refused("WatchSiteNoTopicLevel", {"sorvinda", "watch", "--site", "a/b", "--mqtt", "127.0.0.1"},
        "sorvinda: the site name 'a/b' cannot be an MQTT topic level (no /, + or #)"),
    Refused("WatchSiteNotPrintable", {"sorvinda", "watch", "--site", "a\x01", "--mqtt", "127.0.0.1"},
        "sorvinda: the site name \"a\\u0001\" is not plain printable UTF-8 (byte 2)"),
    Refused("WatchMqttKeyWithoutCertificate", {"sorvinda", "watch", "--mqtt", "127.0.0.1", "--mqtt-key", "/etc/passwd"},
        "sorvinda: --mqtt-key requires --mqtt-cert"),
    Refused("WatchMqttPasswordWithoutUser",
        {"sorvinda", "watch", "--mqtt", "127.0.0.1", "--mqtt-password-file", "/etc/passwd"},
        "sorvinda: --mqtt-password-file requires --mqtt-user"),
    Refused("WatchMqttUserWithoutPassword", {"sorvinda", "watch", "--mqtt", "127.0.0.1", "--mqtt-user", "u"},
        "sorvinda: --mqtt-user needs a password: --mqtt-password-file FILE, or the credential mqtt-password "
        "(LoadCredential= in the service)"),
    Refused("WatchMqttPlainSchemeWithTlsFiles",
        {"sorvinda", "watch", "--mqtt", "mqtt://127.0.0.1", "--mqtt-cafile", "/etc/passwd"},
        "sorvinda: --mqtt mqtt://127.0.0.1: the TLS options (--mqtt-cafile, --mqtt-capath, --mqtt-cert) need "
        "mqtts:// or HOST[:PORT]"),
    Refused("WatchMqttInsecureWithoutTls", {"sorvinda", "watch", "--mqtt", "127.0.0.1", "--mqtt-insecure"},
        "sorvinda: --mqtt-insecure is for TLS (mqtts://)"),
    Refused("WatchMqttsWithoutHost", {"sorvinda", "watch", "--mqtt", "mqtts://"},
        "sorvinda: --mqtt: not [mqtt[s]://]HOST[:PORT] or a socket path: mqtts://"),
    Refused("WatchWebConfigUnreadable",
        {"sorvinda", "watch", "--metrics-listen", "127.0.0.1:19759", "--metrics-web-config", "/nonexistent/web.yml"},
        "sorvinda: --metrics-web-config: /nonexistent/web.yml: cannot be read"),
    {.name = "WatchMetricsAddressNotHere",
        .command = {"sorvinda", "watch", "--metrics-listen", "10.213.0.99:9750"},
        .status = 1,
        .errLine = "sorvinda: cannot listen on 10.213.0.99:9750 for metrics: Cannot assign requested address"},
    {.name = "Version",
        .command = {"sorvinda", "--version"},
        .check =
            [](const Outcome& run) {
                EXPECT_TRUE(HasLineMatching(run.out, "sorvinda [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+ \\(/.*/sorvinda\\)"))
                    << run.out;
                EXPECT_TRUE(HasLineMatching(run.out, "libqort 1\\.1\\.[0-9]+\\.[0-9]+ \\(/.*/libqort\\.so\\.1.*\\)"))
                    << run.out;
            }},
    {.name = "VerinfoEscapesControlBytes",
        .command = {"sorvinda-verinfo", "@VERSIONFILE@"},
        .outHas = "FileVersion: 1\\x1B[2J\\x07\n"},
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const CliCase& c, std::ostream* out)
{
    *out << c.name;
}

class CliTest : public ::testing::TestWithParam<CliCase> { };

TEST_P(CliTest, Runs)
{
    testsupport::requireIsolatedNetwork();
    const CliCase& c = GetParam();
    Scratch scratch;
    scratch.modules = scratch.dir.write("modules.txt", Bytes(kModuleFile));
    scratch.secret = scratch.dir.write("secret", Bytes("secret\n"));
    scratch.scanBefore = scratch.dir.write("before.json", Bytes(kScanBefore));
    scratch.scanAfter = scratch.dir.write("after.json", Bytes(kScanAfter));
    scratch.versionFile = scratch.dir.write("versioned.so",
        testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion(R"(1\x1B[2J\x07)"))));

    std::optional<testsupport::SimulatorProcess> simulator;
    if (!c.simulator.empty()) {
        std::vector<std::string> args;
        for (const std::string& a : c.simulator)
            args.push_back(Expand(a, scratch));
        simulator.emplace(args);
        ASSERT_TRUE(simulator->start()) << simulator->error();
    }
    platform::UdpSocket holder;
    if (c.holdPort != 0) {
        ASSERT_TRUE(holder.open() && holder.bind(c.holdPort));
    }
    std::optional<ModulesSideAddress> held;
    if (*c.modulesAddress != '\0') {
        ASSERT_TRUE(held.emplace(c.modulesAddress).added());
    }
    std::optional<testsupport::DhcpServerAmongModules> dhcpServer;
    if (c.otherDhcpServer) {
        dhcpServer.emplace();
        ASSERT_TRUE(testsupport::waitUntil([&] { return dhcpServer->Listening(); }, 10s));
    }
    scratch.plan = scratch.dir.write("plan.csv", Bytes(c.plan));
    if (!c.first.empty()) {
        const Outcome first = RunProgram(c.first, c.env, scratch);
        ASSERT_EQ(first.status, 0) << first.out << first.err;
        if (c.plan.empty())
            scratch.dir.write("plan.csv", Bytes(first.out));
    }
    // The kernel's name of this process, as a port holder is named by.
    ::prctl(PR_SET_NAME, c.holderName);
    const Outcome run = RunProgram(c.command, c.env, scratch, c.planOnStdin);
    ::prctl(PR_SET_NAME, "cli_test");
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.out.find(c.outHas), std::string::npos) << run.out;
    // Whatever a module or a file sent, no escape or bell reaches the terminal.
    EXPECT_EQ(run.out.find_first_of("\x1B\x07"), std::string::npos);
    if (*c.errLine != '\0') {
        EXPECT_EQ(run.err, std::string(c.errLine) + "\n");
    }
    if (c.check)
        c.check(run);
    const fs::path auditLog = StateFolder(scratch) / "sorvinda/audit.jsonl";
    if (*c.audit != '\0') {
        const std::vector<std::string> records = Lines(ReadText(auditLog));
        ASSERT_FALSE(records.empty());
        const nlohmann::json last = nlohmann::json::parse(records.back());
        EXPECT_EQ(last["result"], c.audit) << records.back();
        EXPECT_EQ(last["program"], "sorvinda") << records.back();
    }
    // No password of any case, anywhere under the state folder.
    if (fs::exists(StateFolder(scratch))) {
        for (const auto& entry : fs::recursive_directory_iterator(StateFolder(scratch)))
            for (const char* password : {"secret", "wrong", "other"}) {
                EXPECT_EQ(ReadText(entry.path()).find(password), std::string::npos) << entry.path();
            }
    }
    if (!simulator)
        return;
    if (*c.logLine != '\0') {
        EXPECT_TRUE(simulator->waitForLine(std::regex(c.logLine), kLogWait)) << c.logLine;
    }
    if (*c.noLogLine == '\0' && c.configures < 0)
        return;
    // A later scan is a fence: the simulator logs it after anything the
    // case's command sent.
    const auto isScan = [](const std::string& line) {
        return line.rfind("recv", 0) == 0 && line.find("Module Scan") != std::string::npos;
    };
    const std::size_t scansBefore = simulator->linesMatching(isScan).size();
    RunProgram({"sorvinda", "scan", "--wait", "0"}, {}, scratch);
    ASSERT_TRUE(simulator->waitForLines(isScan, scansBefore + 1, kLogWait));
    const std::regex absent(*c.noLogLine == '\0' ? "$^" : c.noLogLine), configure("recv [^ ]+ [0-9]+ \"Configure:.*");
    for (const std::string& line : simulator->lines())
        EXPECT_FALSE(std::regex_match(line, absent)) << line;
    if (c.configures >= 0) {
        EXPECT_EQ(simulator->linesMatching([&](const std::string& l) { return std::regex_match(l, configure); }).size(),
            static_cast<std::size_t>(c.configures));
    }
}

// The reply loop looks at the deadline: a library stand-in that never runs
// dry of new modules (a flood) still lets the scan end.
TEST(CliQortSession, AFloodDoesNotOutlastTheWait)
{
    static QORT_CallBackType notify = nullptr;
    static std::uint32_t nextModule = 0;
    cli::QortLibrary flood;
    flood.registerCallBack = [](QORT_CallBackType callback) { notify = callback; };
    flood.sendModuleScan = [] {
        notify(QORT_CB_RESPONSE);
        return 1;
    };
    flood.getResponse = [](QORT_ModuleScanResponseType* record) {
        *record = QORT_ModuleScanResponseType{};
        record->MacIdValid = 1;
        ++nextModule;
        std::memcpy(record->MacId + 2, &nextModule, sizeof nextModule);
        return 1;
    };
    cli::QortSession session(flood);
    modules::ModuleStore modules;
    EXPECT_TRUE(session.scan(50ms, modules));
    EXPECT_GT(modules.Size(), 0u);
}

// sorvinda configure of the module with a password, at its prompt on a
// terminal of its own (master). As under a shell, the program has a process
// group of its own whose parent (session) is in the same session, so a stop
// signal really stops it.
struct PromptRun {
    int master = -1;
    pid_t session = -1, program = -1;
};

PromptRun StartAtPasswordPrompt(const fs::path& err)
{
    PromptRun run;
    run.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (run.master < 0 || ::grantpt(run.master) != 0 || ::unlockpt(run.master) != 0)
        return run;
    const std::string terminal = ::ptsname(run.master);
    std::vector<std::string> words{testsupport::binaryDirectory() + "/sorvinda", "configure", "00-30-11-00-00-02"};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int pidPipe[2];
    if (errFd < 0 || ::pipe(pidPipe) != 0)
        return run;
    run.session = ::fork();
    if (run.session == 0) { // only async-signal-safe calls from here on
        ::setsid();
        const int tty = ::open(terminal.c_str(), O_RDWR); // becomes the controlling terminal
        const pid_t program = ::fork();
        if (program == 0) {
            ::setpgid(0, 0);
            sigset_t ttou;
            sigemptyset(&ttou);
            sigaddset(&ttou, SIGTTOU);
            ::sigprocmask(SIG_BLOCK, &ttou, nullptr);
            ::tcsetpgrp(tty, ::getpid());
            ::sigprocmask(SIG_UNBLOCK, &ttou, nullptr);
            for (const int number : {SIGHUP, SIGQUIT, SIGTSTP, SIGTERM})
                ::signal(number, SIG_DFL);
            ::dup2(tty, STDIN_FILENO);
            ::dup2(tty, STDOUT_FILENO);
            ::dup2(errFd, STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (::write(pidPipe[1], &program, sizeof program) != static_cast<ssize_t>(sizeof program))
            ::_exit(1); // the test reads no pid and fails
        int status = 0;
        while (::waitpid(program, &status, 0) == -1 && errno == EINTR) { }
        ::_exit(0);
    }
    ::close(errFd);
    ::close(pidPipe[1]);
    if (run.session > 0 && ::read(pidPipe[0], &run.program, sizeof run.program) != sizeof run.program)
        run.program = -1;
    ::close(pidPipe[0]);
    return run;
}

bool EchoIsOn(int master)
{
    struct termios settings { };
    return ::tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
}

char ProcessState(pid_t pid) // R, S, T (stopped), ...; '?' when gone
{
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(") ");
    return end == std::string::npos ? '?' : stat[end + 2];
}

// A signal at the password prompt that ends or stops the program gives the
// terminal its echo back; when a stopped prompt continues, echo is off again.
TEST(CliPasswordPrompt, EveryEndingOrStoppingSignalGivesEchoBack)
{
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's runtime holds a signal back until the blocking read
    // it interrupts returns, so the prompt under it never sees one in time.
    GTEST_SKIP() << "signals at a blocking read are deferred under ThreadSanitizer";
#endif
    testsupport::requireIsolatedNetwork();
    Scratch scratch;
    const fs::path modules = scratch.dir.write("modules.txt", Bytes(kModuleFile)), err = scratch.dir.path() / "err";
    testsupport::SimulatorProcess simulator({"--file", modules.string()});
    ASSERT_TRUE(simulator.start()) << simulator.error();
    for (const int number : {SIGHUP, SIGQUIT, SIGTSTP}) {
        SCOPED_TRACE(strsignal(number));
        const PromptRun run = StartAtPasswordPrompt(err);
        ASSERT_GT(run.program, 0);
        EXPECT_TRUE(testsupport::waitUntil(
            [&] { return ReadText(err).find("Password: ") != std::string::npos && !EchoIsOn(run.master); }, kLogWait))
            << ReadText(err);
        ::kill(run.program, number);
        if (number == SIGTSTP) {
            EXPECT_TRUE(testsupport::waitUntil([&] { return ProcessState(run.program) == 'T'; }, kLogWait));
            EXPECT_TRUE(EchoIsOn(run.master));
            ::kill(run.program, SIGCONT);
            EXPECT_TRUE(testsupport::waitUntil([&] { return !EchoIsOn(run.master); }, kLogWait));
            ::kill(run.program, SIGTERM);
        }
        int status = 0;
        if (!testsupport::waitUntil(
                [&] { return ::waitpid(run.session, &status, WNOHANG) == run.session; }, kLogWait)) {
            ::kill(run.program, SIGKILL);
            ::waitpid(run.session, &status, 0);
        }
        EXPECT_TRUE(EchoIsOn(run.master));
        ::close(run.master);
    }
}

// Starts bin/<command[0]> in the background, its output in `out` and `err`.
pid_t Spawn(std::vector<std::string> command, const fs::path& out, const fs::path& err)
{
    command[0] = testsupport::binaryDirectory() + "/" + command[0];
    std::vector<char*> argv;
    for (std::string& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// The recovery server under both its names serves until SIGTERM or SIGINT,
// prints and files its trace, ends with status 0 and frees the port.
TEST(CliDhcpServer, ServesPrintsAndFilesTheTraceUntilASignal)
{
    testsupport::requireIsolatedNetwork();
    const struct {
        std::vector<std::string> command;
        int signal;
        const char* stopped;
    } cases[] = {
        {{"sorvinda-dhcpd"}, SIGTERM, "stopped (SIGTERM)"}, {{"sorvinda", "dhcp-server"}, SIGINT, "stopped (SIGINT)"}};
    const std::string trace = "[RECV] DHCP_REQUEST 192.168.0.5\n"
                              "[SEND] DHCP_NAK (Correct IP should be 10.200.1.68)\n\n";
    dhcptest::DhcpClientSocket client;
    ASSERT_TRUE(client.Open());
    testimage::ScratchDirectory scratch;
    const fs::path log = scratch.path() / "dhcp.log", out = scratch.path() / "out", err = scratch.path() / "err";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopped);
        fs::remove(log);
        std::vector<std::string> command = c.command;
        command.insert(command.end(), {"--log", log.string()});
        const pid_t pid = Spawn(command, out, err);
        ASSERT_GT(pid, 0) << c.command[0];
        EXPECT_TRUE(
            testsupport::waitUntil([&] { return ReadText(err).find("serving") != std::string::npos; }, kLogWait))
            << ReadText(err);
        EXPECT_TRUE(client.SendToServer(dhcptest::MakeRequest(
            dhcptest::kSupportedMac, CDhcpMessage::kDhcpRequest, dhcptest::Address{192, 168, 0, 5})));
        const auto reply = client.Receive();
        // The window's server, so the same reply: a NAK names the server (by
        // the loopback address, where the request came in), no lease time.
        const std::vector<int> options = reply && reply->size() == CDhcpMessage::kReplyLength
            ? std::vector<int>(reply->begin() + 240, reply->begin() + 256)
            : std::vector<int>{};
        EXPECT_EQ(options,
            (std::vector<int>{53, 1, CDhcpMessage::kDhcpNak, 1, 4, 255, 255, 255, 0, 54, 4, 127, 0, 0, 1, 255}));
        ::kill(pid, c.signal);
        int status = 0;
        if (!testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, kLogWait)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(ReadText(err).find(c.stopped), std::string::npos) << ReadText(err);
        EXPECT_EQ(ReadText(out), trace);
        EXPECT_EQ(ReadText(log), trace);
        EXPECT_TRUE(dhcptest::ServerPortIsFree());
    }
}

// The events of one kind in a watch's events file.
std::vector<nlohmann::json> EventsOf(const fs::path& file, const char* kind)
{
    std::vector<nlohmann::json> events;
    for (const std::string& line : Lines(ReadText(file)))
        if (const auto event = nlohmann::json::parse(line); event["event"] == kind)
            events.push_back(event);
    return events;
}

bool EndsWithin(pid_t pid, std::chrono::milliseconds timeout, int& status)
{
    return testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout);
}

// A watch at half a second: a module restarted with another IP is changed
// once, one that stops answering is missing after three scans, SIGTERM
// ends the watch within a second, and a second watch on the same state
// reports nothing new and reopens its events file on SIGHUP.
TEST(CliWatch, ReportsEachChangeOnceAndKeepsItsView)
{
    testsupport::requireIsolatedNetwork();
    testimage::ScratchDirectory scratch;
    const fs::path events = scratch.path() / "events", state = scratch.path() / "state", err = scratch.path() / "err";
    const std::vector<std::string> watch{"sorvinda", "watch", "--interval", "0.5", "--events", events.string(),
        "--state", state.string(), "--site", "line1"};
    const auto isScan = [](const std::string& line) {
        return line.rfind("recv", 0) == 0 && line.find("Module Scan") != std::string::npos;
    };
    const auto scans = [&](const testsupport::SimulatorProcess& simulator) {
        return simulator.linesMatching(isScan).size();
    };
    auto first = std::make_unique<testsupport::SimulatorProcess>(
        testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10"}));
    testsupport::SimulatorProcess second(testsupport::moduleArgs({"mac=00-30-11-00-00-02,ip=192.168.0.11"}));
    ASSERT_TRUE(first->start() && second.start());
    pid_t pid = Spawn(watch, scratch.path() / "out", err);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return EventsOf(events, "new").size() == 2; }, kLogWait));

    first = std::make_unique<testsupport::SimulatorProcess>(
        testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.20"}));
    ASSERT_TRUE(first->start());
    EXPECT_TRUE(testsupport::waitUntil([&] { return !EventsOf(events, "changed").empty(); }, kLogWait));
    EXPECT_LE(scans(*first), 2u); // within two intervals of its first answer
    EXPECT_TRUE(second.waitForLines(isScan, scans(second) + 2, kLogWait));
    const std::vector<nlohmann::json> changed = EventsOf(events, "changed");
    ASSERT_EQ(changed.size(), 1u) << ReadText(events);
    EXPECT_EQ(changed[0]["after"]["ip"], "192.168.0.20");
    EXPECT_EQ(changed[0]["site"], "line1");

    const std::size_t scansAtStop = scans(*first);
    second.stop();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !EventsOf(events, "missing").empty(); }, kLogWait));
    EXPECT_GE(scans(*first) - scansAtStop, 3u);
    EXPECT_EQ(EventsOf(events, "missing").size(), 1u) << ReadText(events);

    int status = -1;
    for (int run = 0; run < 2; ++run) {
        ::kill(pid, SIGTERM);
        EXPECT_TRUE(EndsWithin(pid, 1000ms, status));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(err);
        if (run == 1)
            break;
        // Restarted on its state: module 01 is known, so three scans later
        // still only the two first sightings are new.
        const std::size_t scansAtRestart = scans(*first);
        pid = Spawn(watch, scratch.path() / "out", err);
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(first->waitForLines(isScan, scansAtRestart + 3, kLogWait));
        EXPECT_EQ(EventsOf(events, "new").size(), 2u) << ReadText(events);
        // Log rotation: the file moved away, SIGHUP makes a new one.
        fs::rename(events, scratch.path() / "events.1");
        ::kill(pid, SIGHUP);
        EXPECT_TRUE(testsupport::waitUntil([&] { return fs::exists(events); }, kLogWait));
    }
}

// Starts bin/<command[0]> with XDG_STATE_HOME=state, standard output on
// out (a descriptor), standard error in err; the interrupting signals at
// their default action, whatever this test inherited.
pid_t SpawnWithState(std::vector<std::string> command, const fs::path& state, int out, const fs::path& err)
{
    command[0] = testsupport::binaryDirectory() + "/" + command[0];
    std::vector<char*> argv;
    for (std::string& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"XDG_STATE_HOME=" + state.string()};
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp(*entry, "XDG_STATE_HOME=", 15) != 0)
            env.emplace_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, out, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// A write cut short between the module's answer and the verifying scans
// (a signal, or a reader of standard output that went away): the journal
// holds `sent`, then `interrupted`, and undo puts back the values from just
// before that write, not those of an older record.
TEST(CliJournal, AWriteCutShortIsRecordedAndUndoRestoresTheValuesBeforeIt)
{
    testsupport::requireIsolatedNetwork();
    const struct {
        const char* name;
        int signal;
    } rows[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"closed pipe", SIGPIPE}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Scratch scratch;
        const fs::path out = scratch.dir.path() / "out", err = scratch.dir.path() / "err";
        const fs::path journal = StateFolder(scratch) / "sorvinda/audit.jsonl";
        {
            // An older verified change of the same module that undo must not go back to.
            testsupport::SimulatorProcess module(
                testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10,hn=first"}));
            ASSERT_TRUE(module.start()) << module.error();
            const Outcome first = RunProgram(ConfigureFirst({"--hostname", "before", "--wait", "500"}), {}, scratch);
            ASSERT_EQ(first.status, 0) << first.err;
        }
        // Answers the write (its second datagram), then no scan any more.
        auto module = std::make_unique<testsupport::SimulatorProcess>(std::vector<std::string>{
            "--module", "mac=00-30-11-00-00-01,ip=192.168.0.10,hn=before", "--exit-after", "2"});
        ASSERT_TRUE(module->start()) << module->error();
        int outFd = -1;
        int pipeEnds[2] = {-1, -1};
        if (row.signal == SIGPIPE) {
            ASSERT_EQ(::pipe(pipeEnds), 0);
            ::close(pipeEnds[0]); // nobody reads: the first line written raises SIGPIPE
            outFd = pipeEnds[1];
        } else {
            outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        ASSERT_GE(outFd, 0);
        const pid_t pid = SpawnWithState(
            ConfigureFirst({"--hostname", "after", "--wait", "20000"}), StateFolder(scratch), outFd, err);
        ::close(outFd);
        ASSERT_GT(pid, 0);
        if (row.signal != SIGPIPE) {
            EXPECT_TRUE(testsupport::waitUntil(
                [&] { return ReadText(out).find("Reconfigured: 00-30-11-00-00-01") != std::string::npos; }, kLogWait))
                << ReadText(err);
            ::kill(pid, row.signal);
        }
        int status = 0;
        if (!testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, kLogWait)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status << " " << ReadText(err);
        const std::vector<std::string> records = Lines(ReadText(journal));
        ASSERT_EQ(records.size(), 4u) << ReadText(journal);
        const nlohmann::json sent = nlohmann::json::parse(records[2]), cut = nlohmann::json::parse(records[3]);
        EXPECT_EQ(sent["result"], "sent");
        EXPECT_EQ(cut["result"], "interrupted");
        EXPECT_EQ(cut["before"]["hostname"], "before");
        EXPECT_EQ(cut["after"]["hostname"], "after");

        // The module as the cut write left it.
        module = std::make_unique<testsupport::SimulatorProcess>(
            testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10,hn=after"}));
        ASSERT_TRUE(module->start()) << module->error();
        const Outcome undo = RunProgram({"sorvinda", "undo", "00-30-11-00-00-01", "--wait", "500"}, {}, scratch);
        EXPECT_EQ(undo.status, 0) << undo.out << undo.err;
        EXPECT_TRUE(module->waitForLine(std::regex("applied 00-30-11-00-00-01 .*hn=\"before\".*"), kLogWait));
    }
}

// A plan cut short while its wave waits for the verifying scans: the
// wave's `sent` record is on disk before the write leaves, and SIGTERM adds
// its `interrupted` record before the program ends.
TEST(CliJournal, AnApplyCutShortRecordsItsSentWriteAsInterrupted)
{
    testsupport::requireIsolatedNetwork();
    Scratch scratch;
    const fs::path out = scratch.dir.path() / "out", err = scratch.dir.path() / "err";
    const fs::path plan = scratch.dir.write("plan.csv", Bytes("mac,hostname\n00-30-11-00-00-01,after\n"));
    const fs::path journal = StateFolder(scratch) / "sorvinda/audit.jsonl";
    // Answers "Reconfigured" and keeps its values: the verifying scans go
    // on until the wait is over, and the signal comes during them.
    testsupport::SimulatorProcess module(
        testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10,hn=before,keep=on"}));
    ASSERT_TRUE(module.start()) << module.error();
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(outFd, 0);
    const pid_t pid =
        SpawnWithState({"sorvinda", "apply", plan.string(), "--wait", "4000"}, StateFolder(scratch), outFd, err);
    ::close(outFd);
    ASSERT_GT(pid, 0);
    // The write reached the module: its `sent` record was on disk before it left.
    EXPECT_TRUE(module.waitForLine(std::regex("recv [^ ]+ [0-9]+ \"Configure:.*"), 3 * kLogWait)) << ReadText(err);
    ::kill(pid, SIGTERM);
    int status = 0;
    if (!testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, kLogWait)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status << " " << ReadText(err);
    const std::vector<std::string> records = Lines(ReadText(journal));
    ASSERT_EQ(records.size(), 2u) << ReadText(journal);
    const nlohmann::json sent = nlohmann::json::parse(records[0]), cut = nlohmann::json::parse(records[1]);
    EXPECT_EQ(sent["result"], "sent");
    EXPECT_EQ(cut["result"], "interrupted");
    EXPECT_EQ(cut["before"]["hostname"], "before");
    EXPECT_EQ(cut["after"]["hostname"], "after");
}

// Undo refuses when a line after the module's last record cannot be read
// (a cut `sent` record may be that module's), naming it; nothing is sent.
TEST(CliJournal, UndoRefusesAtAnUnreadableLineAndSendsNothing)
{
    testsupport::requireIsolatedNetwork();
    Scratch scratch;
    testsupport::SimulatorProcess module(testsupport::moduleArgs({"mac=00-30-11-00-00-01,ip=192.168.0.10,hn=first"}));
    ASSERT_TRUE(module.start()) << module.error();
    ASSERT_EQ(RunProgram(ConfigureFirst({"--hostname", "second", "--wait", "500"}), {}, scratch).status, 0);
    const fs::path journal = StateFolder(scratch) / "sorvinda/audit.jsonl";
    std::ofstream(journal, std::ios::app) << R"({"time":"2026-12-07T21:00:00Z","user":"tech","prog)";
    const Outcome undo = RunProgram({"sorvinda", "undo", "00-30-11-00-00-01", "--wait", "500"}, {}, scratch);
    EXPECT_EQ(undo.status, 1);
    EXPECT_EQ(undo.err,
        "sorvinda: undo refused, nothing sent: " + journal.string()
            + ":3: cannot be read and may be a record of module 00-30-11-00-00-01; undo does not go back to older "
              "records: repair or remove that line\n");
    const std::size_t configures =
        module
            .linesMatching([](const std::string& line) {
                return line.find("Configure:") != std::string::npos && line.rfind("recv", 0) == 0;
            })
            .size();
    EXPECT_EQ(configures, 1u) << "only the first configure";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliTest, ::testing::ValuesIn(kCases), [](const auto& info) { return std::string(info.param.name); });

} // namespace
