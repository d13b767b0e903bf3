// sorvinda end to end, one table of cases: each case starts the module
// simulator with the same module file (unless it needs none), runs one
// program, checks its status, output and the simulator's log, and may run a
// second command to see what the first one changed.
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"
#include "tests/versioninfo/testimage.h"
#include "tools/modulesim/modulespec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
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

constexpr auto kProgramTimeout = 30s;
constexpr auto kLogWait = 5s;

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

struct Outcome {
    int status = -1;
    std::string out, err;
};

struct Scratch {
    testimage::ScratchDirectory dir;
    fs::path modules, secret, versionFile;
};

// @MODULES@, @SECRET@ and @VERSIONFILE@ in a case's arguments name the
// scratch files.
std::string Expand(const std::string& argument, const Scratch& scratch)
{
    if (argument == "@SECRET@")
        return scratch.secret.string();
    if (argument == "@VERSIONFILE@")
        return scratch.versionFile.string();
    return argument;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs bin/<program> with arguments and extra environment entries; kills it
// when it outlives kProgramTimeout.
Outcome RunProgram(const std::vector<std::string>& command, const std::vector<std::string>& env, const Scratch& scratch)
{
    std::vector<std::string> args;
    for (const std::string& argument : command)
        args.push_back(Expand(argument, scratch));
    args[0] = testsupport::binaryDirectory() + "/" + args[0];
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment(env);
    for (char** e = environ; *e != nullptr; ++e)
        environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const fs::path out = scratch.dir.path() / "out", err = scratch.dir.path() / "err";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    Outcome run;
    if (spawned != 0) {
        run.err = "cannot start " + args[0];
        return run;
    }
    int status = 0;
    const bool ended = testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; },
        std::chrono::duration_cast<std::chrono::milliseconds>(kProgramTimeout));
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
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

// The MACs in the order the output names them.
std::vector<std::string> MacOrder(const std::string& text)
{
    std::vector<std::string> macs;
    const std::regex mac("00-30-11-00-00-0[0-9]");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), mac); it != std::sregex_iterator(); ++it)
        macs.push_back(it->str());
    return macs;
}

// Every module of the file is in the JSON once, with exactly the fields it
// reports, valued as the file says.
void ExpectJsonMatchesModuleFile(const std::string& json, const fs::path& moduleFile)
{
    using modulesim::ModuleField;
    std::string error;
    const auto modules = modulesim::readModuleFile(moduleFile.string(), error);
    ASSERT_TRUE(modules.has_value()) << error;
    const nlohmann::json parsed = nlohmann::json::parse(json);
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), modules->size()) << json;
    const std::vector<std::pair<const char*, ModuleField>> keys{{"ip", ModuleField::Ip},
        {"mask", ModuleField::SubnetMask}, {"gateway", ModuleField::Gateway}, {"dhcp", ModuleField::Dhcp},
        {"password", ModuleField::Pswd}, {"hostname", ModuleField::HostName}, {"dns1", ModuleField::Dns1},
        {"dns2", ModuleField::Dns2}, {"type", ModuleField::FbType}, {"version", ModuleField::ModuleVersion},
        {"protocol", ModuleField::ProtocolVersion}};
    for (const modulesim::SimulatedModule& module : *modules) {
        const std::string mac = module.mac().toString();
        const auto object = std::find_if(
            parsed.begin(), parsed.end(), [&mac](const nlohmann::json& o) { return o.value("mac", "") == mac; });
        ASSERT_NE(object, parsed.end()) << mac;
        EXPECT_EQ(object->size(), 1 + std::count_if(keys.begin(), keys.end(), [&module](const auto& key) {
            return module.reports(key.second);
        })) << mac;
        for (const auto& [key, field] : keys) {
            if (!module.reports(field)) {
                EXPECT_FALSE(object->contains(key)) << mac << " " << key;
                continue;
            }
            ASSERT_TRUE(object->contains(key)) << mac << " " << key;
            const nlohmann::json& value = (*object)[key];
            if (field == ModuleField::Dhcp || field == ModuleField::Pswd)
                EXPECT_EQ(value.get<bool>(), module.field(field) == "on") << mac << " " << key;
            else
                EXPECT_EQ(value.get<std::string>(), module.field(field)) << mac << " " << key;
        }
    }
}

struct CliCase {
    const char* name;
    std::vector<std::string> simulator = {}; // empty: no simulator
    std::vector<std::string> command = {};   // program and arguments
    std::vector<std::string> env = {};
    int status = 0;
    const char* outHas = "";            // substring of standard output
    const char* errLine = "";           // standard error is exactly this one line
    const char* logLine = "";           // a line of the simulator's log (regex)
    const char* noLogLine = "";         // no such line up to the fence below (regex)
    std::vector<std::string> then = {}; // a second sorvinda command ...
    const char* thenHas = "";           // ... whose output holds this
    std::function<void(const Outcome&, const Scratch&)> check = {};
};

const std::vector<std::string> kModules{"--file", "@MODULES@"};
const std::vector<std::string> kScan{"sorvinda", "scan", "--wait", "1000"};

std::vector<std::string> Scan(std::vector<std::string> more)
{
    std::vector<std::string> command = kScan;
    command.insert(command.end(), more.begin(), more.end());
    return command;
}

const CliCase kCases[] = {
    {.name = "ScanJsonIsTheModuleFile",
        .simulator = kModules,
        .command = Scan({"--format", "json"}),
        .status = 0,
        .check = [](const Outcome& run,
                     const Scratch& scratch) { ExpectJsonMatchesModuleFile(run.out, scratch.modules); }},
    {.name = "ScanCsv",
        .simulator = kModules,
        .command = Scan({"--format", "csv"}),
        .status = 0,
        .outHas = "mac,ip,mask,gateway,dhcp,password,hostname,dns1,dns2,type,version,protocol\r\n"
                  "00-30-11-00-00-03,10.0.5.7,255.0.0.0,10.0.0.1,off,off,,,,CANopen gateway,1.00.9,1.9\r\n"},
    {.name = "ScanTable",
        .simulator = kModules,
        .command = Scan({}),
        .status = 0,
        .check =
            [](const Outcome& run, const Scratch&) {
                EXPECT_TRUE(HasLineMatching(run.out, "IP +SN +GW +DHCP +Version +Type +MAC +Host name")) << run.out;
                EXPECT_TRUE(HasLineMatching(run.out,
                    "10\\.0\\.5\\.7 +255\\.0\\.0\\.0 +10\\.0\\.0\\.1 +Off +1\\.00\\.9 +CANopen gateway +"
                    "00-30-11-00-00-03 +N/A"))
                    << run.out;
                EXPECT_EQ(Lines(run.out).size(), 5u) << run.out;
            }},
    {.name = "SortIpIsNumeric",
        .simulator = kModules,
        .command = Scan({"--sort", "ip"}),
        .status = 0,
        .check =
            [](const Outcome& run, const Scratch&) {
                EXPECT_EQ(MacOrder(run.out),
                    (std::vector<std::string>{
                        "00-30-11-00-00-03", "00-30-11-00-00-02", "00-30-11-00-00-01", "00-30-11-00-00-04"}));
            }},
    {.name = "SortReversed",
        .simulator = kModules,
        .command = Scan({"--format", "csv", "--sort", "IP", "--reverse"}),
        .status = 0,
        .check =
            [](const Outcome& run, const Scratch&) {
                EXPECT_EQ(MacOrder(run.out),
                    (std::vector<std::string>{
                        "00-30-11-00-00-04", "00-30-11-00-00-01", "00-30-11-00-00-02", "00-30-11-00-00-03"}));
            }},
    {.name = "HostileTextIsEscapedInTable",
        .simulator = {"--raw-reply", kHostileReply},
        .command = Scan({}),
        .status = 0,
        .outHas = "\\x1B[2Jevil\\x07"},
    {.name = "HostileTextIsEscapedInJson",
        .simulator = {"--raw-reply", kHostileReply},
        .command = Scan({"--format", "json"}),
        .status = 0,
        .outHas = "\"type\": \"\\u001b[2Jevil\\u0007\""},
    {.name = "NoModuleAnswers",
        .simulator = {"--count", "0"},
        .command = {"sorvinda", "scan", "--wait", "300"},
        .status = 1,
        .errLine = "sorvinda: no module answered within 300 ms"},
    {.name = "ConfigureRoundTrip",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-01", "--ip", "192.168.0.20", "--hostname", "line1"},
        .status = 0,
        .outHas = "Reconfigured: 00-30-11-00-00-01\n",
        .logLine = "applied 00-30-11-00-00-01 ip=192\\.168\\.0\\.20 .*hn=\"line1\".*",
        .then = Scan({"--format", "csv"}),
        .thenHas = "00-30-11-00-00-01,192.168.0.20,255.255.255.0,192.168.0.1,off,off,line1,"},
    {.name = "ConfigurePasswordFileAndNewPassword",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-02", "--dhcp", "ON", "--password-file", "@SECRET@",
            "--new-password"},
        .env = {"SORVINDA_NEW_PASSWORD=other"},
        .status = 0,
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
        .then = Scan({"--format", "csv"}),
        .thenHas = "00-30-11-00-00-02,192.168.0.9,"},
    {.name = "ConfigureNoSuchModule",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-99", "--wait", "300"},
        .status = 4,
        .errLine = "sorvinda: no module 00-30-11-00-00-99 answered within 300 ms"},
    {.name = "WinkOldModuleSendsNothing",
        .simulator = kModules,
        .command = {"sorvinda", "wink", "00-30-11-00-00-03"},
        .status = 5,
        .errLine = "sorvinda: Device does not support wink.",
        .noLogLine = "(wink .*|recv .*WINK.*)"},
    {.name = "WinkNewModule",
        .simulator = kModules,
        .command = {"sorvinda", "wink", "00-30-11-00-00-01"},
        .status = 0,
        .logLine = "wink 00-30-11-00-00-01"},
    {.name = "IllegalHostName",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-04", "--hostname", "pack-er"},
        .status = 2,
        .errLine = "sorvinda: Illegal hostname! Only a-z, A-Z and 0-9 allowed. (host name \"pack-er\")"},
    {.name = "LastByte255",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-01", "--ip", "192.168.0.255"},
        .status = 2,
        .errLine = "sorvinda: Last digit of IP address can not be 255."},
    {.name = "UnreportedSettingIsLocked",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-03", "--dns1", "10.0.0.2"},
        .status = 2,
        .errLine = "sorvinda: --dns1: module 00-30-11-00-00-03 does not report this setting, so it cannot be set"},
    {.name = "NoPasswordWithoutTerminal",
        .simulator = kModules,
        .command = {"sorvinda", "configure", "00-30-11-00-00-02"},
        .status = 2,
        .errLine = "sorvinda: password: set SORVINDA_PASSWORD or give a file"},
    {.name = "BadAddress",
        .command = {"sorvinda", "configure", "00-30-11-00-00-01", "--gateway", "10.0.0.256"},
        .status = 2,
        .errLine = "sorvinda: --gateway: '10.0.0.256' is not an IPv4 address (a.b.c.d, each 0-255)"},
    {.name = "BadMac",
        .command = {"sorvinda", "wink", "00-30-11-00-00"},
        .status = 2,
        .errLine = "sorvinda: MAC: '00-30-11-00-00' is not a MAC address (00-30-11-0A-BC-0F)"},
    {.name = "BadFormat",
        .command = Scan({"--format", "xml"}),
        .status = 2,
        .errLine = "sorvinda: --format: 'xml' is not a format (table, json, csv)"},
    {.name = "UnknownOption",
        .command = Scan({"--bogus"}),
        .status = 2,
        .errLine = "sorvinda: The following argument was not expected: --bogus"},
    {.name = "NoCommand",
        .command = {"sorvinda"},
        .status = 2,
        .errLine = "sorvinda: a command is needed: scan, configure, wink, dhcp-server or doctor (see --help)"},
    {.name = "EmptyLogFile",
        .command = {"sorvinda", "dhcp-server", "--log", ""},
        .status = 2,
        .errLine = "sorvinda: --log: needs a file name"},
    {.name = "Version",
        .command = {"sorvinda", "--version"},
        .status = 0,
        .check =
            [](const Outcome& run, const Scratch&) {
                EXPECT_TRUE(HasLineMatching(run.out, "sorvinda [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+ \\(/.*/sorvinda\\)"))
                    << run.out;
                EXPECT_TRUE(HasLineMatching(run.out, "libqort 1\\.1\\.[0-9]+\\.[0-9]+ \\(/.*/libqort\\.so\\.1.*\\)"))
                    << run.out;
            }},
    {.name = "VerinfoEscapesControlBytes",
        .command = {"sorvinda-verinfo", "@VERSIONFILE@"},
        .status = 0,
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
    scratch.versionFile = scratch.dir.write("versioned.so",
        testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion(R"(1\x1B[2J\x07)"))));

    std::optional<testsupport::SimulatorProcess> simulator;
    if (!c.simulator.empty()) {
        std::vector<std::string> args;
        for (const std::string& a : c.simulator)
            args.push_back(a == "@MODULES@" ? scratch.modules.string() : a);
        simulator.emplace(args);
        ASSERT_TRUE(simulator->start()) << simulator->error();
    }

    const Outcome run = RunProgram(c.command, c.env, scratch);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.out.find(c.outHas), std::string::npos) << run.out;
    // Whatever a module or a file sent, no escape or bell reaches the terminal.
    EXPECT_EQ(run.out.find_first_of("\x1B\x07"), std::string::npos);
    if (*c.errLine != '\0') {
        EXPECT_EQ(run.err, std::string(c.errLine) + "\n");
    }
    if (c.check)
        c.check(run, scratch);
    if (!simulator)
        return;
    if (*c.logLine != '\0') {
        EXPECT_TRUE(simulator->waitForLine(std::regex(c.logLine), kLogWait)) << c.logLine << "\n"
                                                                             << Joined(simulator->lines());
    }
    // A later scan is a fence: the simulator logs it after anything the
    // case's command sent.
    const auto isScan = [](const std::string& line) {
        return line.rfind("recv", 0) == 0 && line.find("Module Scan") != std::string::npos;
    };
    const std::size_t scansBefore = simulator->linesMatching(isScan).size();
    if (!c.then.empty()) {
        const Outcome then = RunProgram(c.then, {}, scratch);
        EXPECT_NE(then.out.find(c.thenHas), std::string::npos) << then.out << then.err;
    } else if (*c.noLogLine != '\0') {
        RunProgram({"sorvinda", "scan", "--wait", "0"}, {}, scratch);
    }
    if (*c.noLogLine != '\0') {
        ASSERT_TRUE(simulator->waitForLines(isScan, scansBefore + 1, kLogWait));
        const std::regex absent(c.noLogLine);
        for (const std::string& line : simulator->lines())
            EXPECT_FALSE(std::regex_match(line, absent)) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliTest, ::testing::ValuesIn(kCases), [](const auto& info) { return std::string(info.param.name); });

} // namespace
