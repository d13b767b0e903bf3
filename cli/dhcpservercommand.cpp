// dhcp-server: the recovery DHCP server of SorvindaConfig in the
// foreground until SIGINT or SIGTERM. It binds UDP port 67 on all local
// addresses, answers modules whose MAC begins with 00-30-11 with
// 10.200.1.<last MAC byte>, and prints its trace on standard output (and
// appends it to the log file). Status messages go to standard error.
#include "cli/commands.h"
#include "dhcp/dhcpservercontrol.h"
#include "dhcp/logtofile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <signal.h>

namespace cli {
namespace {

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
    Complain(std::string("DHCP server init failed: UDP port 67: ") + std::strerror(error));
    if (error == EACCES)
        Complain("binding port 67 needs root or the cap_net_bind_service capability (see README.md)");
    else if (error == EADDRINUSE)
        Complain("another DHCP server on this computer holds the port");
}

} // namespace

int RunDhcpServer(const DhcpServerOptions& options)
{
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DhcpServerControl control;
    const std::optional<std::string> logPath = options.logPath;
    control.Server().SetTraceSink([logPath](const char* text) {
        std::fputs(text, stdout);
        std::fflush(stdout);
        if (logPath)
            LogToFile(logPath->c_str(), "%s", text);
    });

    if (!control.Start()) {
        ExplainInitFailure(control.Server().LastError());
        return kExitFailed;
    }
    Complain("serving UDP port 67; Ctrl+C ends");

    int signal = 0;
    sigwait(&stopSignals, &signal);
    control.Stop();
    Complain(std::string("stopped (") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ")");
    return kExitOk;
}

} // namespace cli
