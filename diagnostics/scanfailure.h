#ifndef DIAGNOSTICS_SCANFAILURE_H
#define DIAGNOSTICS_SCANFAILURE_H

#include "diagnostics/adapters.h"
#include "diagnostics/portholders.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace diagnostics {

// The modules' configuration port, which the library binds and scans on.
inline constexpr std::uint16_t kScanPort = 3250;

enum class ScanFailureCause {
    kPortHeld,  // another program holds UDP 3250, so the library has no socket
    kNoAdapter, // nothing a broadcast could leave through
    kSendFailed // anything else; systemError says what the system reports
};

struct ScanFailure {
    ScanFailureCause cause = ScanFailureCause::kSendFailed;
    std::vector<ProcessInfo> holders; // kPortHeld: those we could name
    std::string systemError;          // kSendFailed: empty when the system reports nothing
};

// What keeps any scan from going out, from the port's users and the
// adapters: the port held by another process, or no adapter to send from.
// Nothing when both are fine.
std::optional<ScanFailure> scanBlocker(const UdpPortUse& scanPort, const std::vector<AdapterReport>& adapters);

// Why a scan could not be sent, found from outside the library: the port's
// holders, the adapters, and a broadcast route probe (connect on a UDP
// socket, which looks the route up and sends nothing).
ScanFailure diagnoseScanFailure();

// The sentence the window and the command line show.
std::string scanFailureText(const ScanFailure& failure);

// The system's text for connecting a broadcast-enabled UDP socket to
// 255.255.255.255:port; empty when the route exists.
std::string broadcastRouteError(std::uint16_t port);

} // namespace diagnostics

#endif
