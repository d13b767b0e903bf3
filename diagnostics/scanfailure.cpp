#include "diagnostics/scanfailure.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace diagnostics {
namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
const std::string kPortText = "UDP port " + std::to_string(kScanPort);

} // namespace

std::string broadcastRouteError(std::uint16_t port)
{
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return std::system_category().message(errno);
    const int on = 1;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(kLimitedBroadcast);
    int error = 0;
    if (::setsockopt(descriptor, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0
        || ::connect(descriptor, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
        error = errno;
    ::close(descriptor);
    return error != 0 ? std::system_category().message(error) : std::string();
}

std::optional<ScanFailure> scanBlocker(const UdpPortUse& scanPort, const std::vector<AdapterReport>& adapters)
{
    ScanFailure failure;
    // A held port comes first: without its socket the library sends nothing
    // at all, whatever the adapters are like. When this process holds it,
    // the library has its socket.
    if (scanPort.heldByOthers && !scanPort.heldByThisProcess) {
        failure.cause = ScanFailureCause::kPortHeld;
        failure.holders = scanPort.otherHolders;
        return failure;
    }
    if (!anyAdapterUsedByScan(adapters)) {
        failure.cause = ScanFailureCause::kNoAdapter;
        return failure;
    }
    return std::nullopt;
}

ScanFailure diagnoseScanFailure()
{
    if (std::optional<ScanFailure> blocker = scanBlocker(udpPortUse(kScanPort), adapterReports()))
        return *blocker;
    ScanFailure failure;
    failure.cause = ScanFailureCause::kSendFailed;
    failure.systemError = broadcastRouteError(kScanPort);
    return failure;
}

std::string scanFailureText(const ScanFailure& failure)
{
    switch (failure.cause) {
    case ScanFailureCause::kPortHeld:
        if (failure.holders.empty())
            return "The scan could not be sent: " + kPortText
                + " is in use by another program. Close it and scan again.";
        return "The scan could not be sent: " + kPortText + " is held by " + describeProcesses(failure.holders)
            + ". Close it and scan again.";
    case ScanFailureCause::kNoAdapter:
        return "The scan could not be sent: no network adapter is up (connected, with an IPv4 address).";
    case ScanFailureCause::kSendFailed:
        break;
    }
    if (failure.systemError.empty())
        return "The scan could not be sent.";
    return "The scan could not be sent: " + failure.systemError + ".";
}

} // namespace diagnostics
