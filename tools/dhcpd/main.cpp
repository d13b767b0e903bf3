// sorvinda-dhcpd [--log FILE]
//
// Runs the recovery DHCP server of SorvindaConfig in the foreground until
// SIGINT or SIGTERM: it binds UDP port 67 on all local addresses, answers
// modules whose MAC begins with 00-30-11 with 10.200.1.<last MAC byte>, and
// prints its trace on standard output (and appends it to FILE). Status
// messages go to standard error. Exit status: 0 after a signal, 1 when port
// 67 cannot be bound, 2 on a usage error.

#include "dhcp/dhcpservercontrol.h"
#include "dhcp/logtofile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <pthread.h>
#include <signal.h>
#include <string>

namespace {

constexpr int kExitStopped = 0;
constexpr int kExitInitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = "usage: sorvinda-dhcpd [--log FILE]\n";

struct Options {
    std::optional<std::string> logPath;
};

std::optional<Options> ParseArguments(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--log" && i + 1 < argc && argv[i + 1][0] != '\0')
            options.logPath = argv[++i];
        else
            return std::nullopt;
    }
    return options;
}

// The signals that end the server. They are blocked in every thread (the
// worker inherits the mask) and taken synchronously by sigwait, so no
// handler runs in the middle of the worker's poll.
sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void ExplainInitFailure(int error)
{
    std::fprintf(stderr, "sorvinda-dhcpd: DHCP server init failed: UDP port 67: %s\n", std::strerror(error));
    if (error == EACCES)
        std::fprintf(stderr,
            "sorvinda-dhcpd: binding port 67 needs root or the cap_net_bind_service "
            "capability (see README.md)\n");
    else if (error == EADDRINUSE)
        std::fprintf(stderr, "sorvinda-dhcpd: another DHCP server on this computer holds the port\n");
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }

    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DhcpServerControl control;
    const std::optional<std::string> logPath = options->logPath;
    control.Server().SetTraceSink([logPath](const char* text) {
        std::fputs(text, stdout);
        std::fflush(stdout);
        if (logPath)
            LogToFile(logPath->c_str(), "%s", text);
    });

    if (!control.Start()) {
        ExplainInitFailure(control.Server().LastError());
        return kExitInitFailed;
    }
    std::fprintf(stderr, "sorvinda-dhcpd: serving UDP port 67; Ctrl+C ends\n");

    int signal = 0;
    sigwait(&stopSignals, &signal);
    control.Stop();
    std::fprintf(stderr, "sorvinda-dhcpd: stopped (%s)\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    return kExitStopped;
}
