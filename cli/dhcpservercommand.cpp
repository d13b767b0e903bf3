// dhcp-server: the recovery DHCP server of SorvindaConfig in the
// foreground until SIGINT or SIGTERM (Ctrl+C on Windows). It binds UDP port 67 on all local
// addresses, answers modules whose MAC begins with 00-30-11 with
// 10.200.1.<last MAC byte>, and prints its trace on standard output (and
// appends it to the log file). Status messages go to standard error, among
// them a warning when another DHCP server offers on the segment (checked in
// the background at the start; the server keeps running).
#include "cli/commands.h"
#include "dhcp/dhcpservercontrol.h"
#include "dhcp/logtofile.h"
#include "platform/stoprequest.h"
#include "platform/udpsocket.h"
#include "platform/wakeup.h"

#include <cstdio>
#include <cstring>
#include <thread>

#ifndef _WIN32
#include "commissioning/dhcpprobe.h"
#endif

namespace cli {
namespace {

using platform::UdpSocket;

void ExplainInitFailure(int error)
{
    Complain(std::string("DHCP server init failed: UDP port 67: ") + UdpSocket::errorText(error));
    if (UdpSocket::errorKind(error) == UdpSocket::ErrorKind::AccessDenied)
        Complain("binding port 67 needs root or the cap_net_bind_service capability (see README.md)");
    else if (UdpSocket::errorKind(error) == UdpSocket::ErrorKind::AddressInUse)
        Complain("another DHCP server on this computer holds the port");
}

// Modules with DHCP on may take another server's offer instead of ours: said
// on standard error, the server goes on. Ends early when stop is woken.
void WarnOfOtherDhcpServers(const platform::Wakeup& stop)
{
#ifndef _WIN32
    const commissioning::DhcpProbe probe =
        commissioning::probeDhcpServers(platform::NetworkAdapters::usable(), commissioning::kDhcpOfferWait, &stop);
    if (!probe.skipped.empty())
        Complain("check for another DHCP server " + probe.skipped);
    for (const commissioning::DhcpOffer& offer : probe.offers)
        Complain("warning: another " + commissioning::offerLine(offer)
            + "; modules with DHCP on may take its offer instead of this server's");
#else
    static_cast<void>(stop);
#endif
}

} // namespace

int RunDhcpServer(const DhcpServerOptions& options)
{
    // Before the worker starts: it must not take the stop signals itself.
    platform::StopRequest stopRequest;

    DhcpServerControl control;
    const std::optional<std::string> logPath = options.logPath;
    control.Server().SetTraceSink([logPath](const char* text) {
        std::fputs(text, stdout);
        // A terminal that went away must not stop the server; the log file,
        // when one is named, still gets every line.
        static_cast<void>(std::fflush(stdout));
        if (logPath)
            LogToFile(logPath->c_str(), "%s", text);
    });

    if (!control.Start()) {
        ExplainInitFailure(control.Server().LastError());
        return kExitFailed;
    }
    Complain("serving UDP port 67; Ctrl+C ends");
    platform::Wakeup probeStop;
    std::thread probe(WarnOfOtherDhcpServers, std::cref(probeStop));

    const std::string stoppedBy = stopRequest.wait();
    probeStop.wake();
    probe.join();
    control.Stop();
    Complain("stopped (" + stoppedBy + ")");
    return kExitOk;
}

} // namespace cli
