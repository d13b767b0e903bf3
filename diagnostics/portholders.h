#ifndef DIAGNOSTICS_PORTHOLDERS_H
#define DIAGNOSTICS_PORTHOLDERS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace diagnostics {

struct ProcessInfo {
    int pid = 0;
    std::string name; // the kernel's short command name (/proc/PID/comm)

    bool operator==(const ProcessInfo&) const = default;
};

// Who has a socket bound to a local UDP port, as far as this user may see.
struct UdpPortUse {
    bool heldByThisProcess = false;
    // A socket of some other process is bound to the port.
    bool heldByOthers = false;
    // Those of the other processes whose descriptors this user may read
    // (another user's processes stay hidden unless we are root).
    std::vector<ProcessInfo> otherHolders;
};

// The socket inodes bound to local port `port` in a table laid out like
// /proc/net/udp or /proc/net/udp6 (header line, then one socket a line:
// slot, local "address:port" in hex, remote, state, queues, timers, uid,
// timeout, inode, ...). Lines that do not fit the layout are skipped.
std::vector<unsigned long> socketInodesOnPort(std::string_view table, std::uint16_t port);

// Reads the IPv4 and IPv6 tables of this network namespace and every
// process's descriptors under /proc. Nothing is held when /proc cannot be
// read.
UdpPortUse udpPortUse(std::uint16_t port);

// "NAME (process ID PID)", several joined by ", "; control bytes of a name
// escaped (platform::escapeControlBytes).
std::string describeProcesses(const std::vector<ProcessInfo>& processes);

} // namespace diagnostics

#endif
