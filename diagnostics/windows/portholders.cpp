// Who holds a UDP port on Windows: the system's UDP table with the owning
// process of each socket (GetExtendedUdpTable, UDP_TABLE_OWNER_PID).
#include "diagnostics/portholders.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <algorithm>
#include <filesystem>

namespace diagnostics {
namespace {

constexpr int kTableAttempts = 3;

// The program's file name ("foo.exe"); empty when the process cannot be
// opened (another user's, or a protected one).
std::string processName(DWORD pid)
{
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return {};
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    const bool named = ::QueryFullProcessImageNameW(process, 0, path, &length) != FALSE;
    ::CloseHandle(process);
    if (!named)
        return {};
    const std::u8string name = std::filesystem::path(path).filename().u8string();
    return std::string(name.begin(), name.end());
}

// The owning process of every socket bound to the port, for one family.
std::vector<DWORD> ownersOnPort(ULONG family, std::uint16_t port)
{
    std::vector<DWORD> owners;
    std::vector<unsigned char> table;
    DWORD size = 0;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < kTableAttempts && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        table.resize(size);
        status =
            ::GetExtendedUdpTable(table.empty() ? nullptr : table.data(), &size, FALSE, family, UDP_TABLE_OWNER_PID, 0);
    }
    if (status != NO_ERROR)
        return owners;
    if (family == AF_INET) {
        const auto* rows = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(table.data());
        for (DWORD i = 0; i < rows->dwNumEntries; ++i)
            if (ntohs(static_cast<u_short>(rows->table[i].dwLocalPort)) == port)
                owners.push_back(rows->table[i].dwOwningPid);
    } else {
        const auto* rows = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(table.data());
        for (DWORD i = 0; i < rows->dwNumEntries; ++i)
            if (ntohs(static_cast<u_short>(rows->table[i].dwLocalPort)) == port)
                owners.push_back(rows->table[i].dwOwningPid);
    }
    return owners;
}

} // namespace

UdpPortUse udpPortUse(std::uint16_t port)
{
    UdpPortUse use;
    const DWORD self = ::GetCurrentProcessId();
    for (const ULONG family : {ULONG{AF_INET}, ULONG{AF_INET6}}) {
        for (const DWORD pid : ownersOnPort(family, port)) {
            if (pid == self) {
                use.heldByThisProcess = true;
                continue;
            }
            use.heldByOthers = true;
            const bool known = std::any_of(use.otherHolders.begin(), use.otherHolders.end(),
                [pid](const ProcessInfo& p) { return p.pid == static_cast<int>(pid); });
            if (!known)
                use.otherHolders.push_back({static_cast<int>(pid), processName(pid)});
        }
    }
    std::sort(use.otherHolders.begin(), use.otherHolders.end(),
        [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return use;
}

} // namespace diagnostics
