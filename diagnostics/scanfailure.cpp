#include "diagnostics/scanfailure.h"

#include "platform/udpsocket.h"

namespace diagnostics {
namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
const std::string kPortText = "UDP port " + std::to_string(kScanPort);

} // namespace

std::string broadcastRouteError(std::uint16_t port)
{
    platform::UdpSocket probe;
    if (!probe.open() || !probe.enableBroadcast() || !probe.connect(kLimitedBroadcast, port))
        return platform::UdpSocket::errorText(probe.lastError());
    return std::string();
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
