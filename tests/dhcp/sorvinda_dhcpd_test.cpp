// The recovery server of the command line, run as a child process in the
// isolated namespace under both its names (sorvinda-dhcpd, and sorvinda
// dhcp-server): serves until SIGINT/SIGTERM and prints and files its trace.
// Its arguments and a port it cannot bind are rows of tests/cli.

#include "tests/dhcp/dhcpclientsocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace dhcptest;
namespace fs = std::filesystem;

constexpr auto kStartWait = std::chrono::seconds(5);
constexpr auto kExitWait = std::chrono::seconds(5);

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SorvindaDhcpdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net";
        const char* binDir = std::getenv("SORVINDA_BIN_DIR");
        ASSERT_NE(binDir, nullptr);
        program = fs::path(binDir) / "sorvinda-dhcpd";
        dir = fs::temp_directory_path() / ("sorvinda-dhcpd-test-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }

    void TearDown() override
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(dir);
    }

    void Spawn(std::vector<std::string> args)
    {
        args.insert(args.begin(), program.string());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(
            &files, STDOUT_FILENO, (dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(
            &files, STDERR_FILENO, (dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int error = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        ASSERT_EQ(error, 0) << program;
    }

    // True once standard error holds `text`, waiting at most `wait`.
    bool StderrShows(const std::string& text, std::chrono::seconds wait = kStartWait)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        do {
            if (ReadFile(dir / "err").find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(kWaitStep);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    // The child's exit status, or nothing when it has not ended in time.
    std::optional<int> ExitStatus()
    {
        const auto deadline = std::chrono::steady_clock::now() + kExitWait;
        do {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(kWaitStep);
        } while (std::chrono::steady_clock::now() < deadline);
        return std::nullopt;
    }

    fs::path program, dir;
    pid_t pid = -1;
};

// Under each name and signal: serves, prints and files the trace, and ends
// cleanly with the port free again.
TEST_F(SorvindaDhcpdTest, ServesPrintsAndFilesTheTraceUntilASignal)
{
    const struct {
        std::vector<std::string> command;
        int signal;
        const char* stopped;
    } cases[] = {
        {{"sorvinda-dhcpd"}, SIGTERM, "stopped (SIGTERM)"}, {{"sorvinda", "dhcp-server"}, SIGINT, "stopped (SIGINT)"}};
    DhcpClientSocket client;
    ASSERT_TRUE(client.Open());
    const fs::path log = dir / "dhcp.log";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopped);
        fs::remove(log);
        program = program.parent_path() / c.command[0];
        std::vector<std::string> args(c.command.begin() + 1, c.command.end());
        args.insert(args.end(), {"--log", log.string()});
        Spawn(args);
        ASSERT_TRUE(StderrShows("serving")) << ReadFile(dir / "err");
        ASSERT_TRUE(
            client.SendToServer(MakeRequest(kSupportedMac, CDhcpMessage::kDhcpRequest, Address{192, 168, 0, 5})));
        const auto reply = client.Receive();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ((*reply)[242], CDhcpMessage::kDhcpNak);
        ASSERT_EQ(::kill(pid, c.signal), 0);
        EXPECT_EQ(ExitStatus(), 0);
        EXPECT_TRUE(StderrShows(c.stopped)) << ReadFile(dir / "err");
        const std::string trace = "[RECV] DHCP_REQUEST 192.168.0.5\n"
                                  "[SEND] DHCP_NAK (Correct IP should be 10.200.1.68)\n\n";
        EXPECT_EQ(ReadFile(dir / "out"), trace);
        EXPECT_EQ(ReadFile(log), trace);
        EXPECT_TRUE(ServerPortIsFree());
    }
}

} // namespace
