#include "diagnostics/portholders.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace diagnostics {
namespace {

// Columns of /proc/net/udp{,6} counted from 0.
constexpr std::size_t kLocalAddressColumn = 1;
constexpr std::size_t kInodeColumn = 9;
constexpr int kHexBase = 16;
constexpr std::string_view kSocketLinkPrefix = "socket:[";
const std::filesystem::path kProcRoot = "/proc";
const char* const kUdpTables[] = {"/proc/net/udp", "/proc/net/udp6"};

std::vector<std::string_view> splitWhitespace(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (true) {
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t", pos), line.size());
        words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return words;
}

template <typename Number>
bool parseWhole(std::string_view text, Number& value, int base)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    return error == std::errc() && stop == end && !text.empty();
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The inode of a descriptor's link "socket:[12345]"; 0 for anything else.
unsigned long socketInodeOfLink(const std::string& link)
{
    if (link.rfind(kSocketLinkPrefix, 0) != 0 || link.back() != ']')
        return 0;
    const std::string_view digits =
        std::string_view(link).substr(kSocketLinkPrefix.size(), link.size() - kSocketLinkPrefix.size() - 1);
    unsigned long inode = 0;
    return parseWhole(digits, inode, 10) ? inode : 0;
}

// Which of `inodes` the process with this descriptor directory holds.
std::vector<unsigned long> inodesHeldBy(
    const std::filesystem::path& fdDirectory, const std::vector<unsigned long>& inodes)
{
    std::vector<unsigned long> held;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fdDirectory, error)) {
        std::error_code linkError;
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), linkError);
        if (linkError)
            continue;
        const unsigned long inode = socketInodeOfLink(target.string());
        if (inode != 0 && std::find(inodes.begin(), inodes.end(), inode) != inodes.end())
            held.push_back(inode);
    }
    return held;
}

std::string processName(const std::filesystem::path& processDirectory)
{
    std::string name = readFile(processDirectory / "comm");
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

} // namespace

std::vector<unsigned long> socketInodesOnPort(std::string_view table, std::uint16_t port)
{
    std::vector<unsigned long> inodes;
    while (!table.empty()) {
        const std::size_t end = std::min(table.find('\n'), table.size());
        const std::vector<std::string_view> columns = splitWhitespace(table.substr(0, end));
        table.remove_prefix(std::min(end + 1, table.size()));
        if (columns.size() <= kInodeColumn)
            continue;
        const std::string_view local = columns[kLocalAddressColumn];
        const std::size_t colon = local.rfind(':');
        unsigned localPort = 0;
        unsigned long inode = 0;
        if (colon == std::string_view::npos || !parseWhole(local.substr(colon + 1), localPort, kHexBase)
            || !parseWhole(columns[kInodeColumn], inode, 10))
            continue;
        // Inode 0 is a socket that is already closing: nobody holds it.
        if (localPort == port && inode != 0)
            inodes.push_back(inode);
    }
    return inodes;
}

UdpPortUse udpPortUse(std::uint16_t port)
{
    std::vector<unsigned long> inodes;
    for (const char* table : kUdpTables) {
        const std::vector<unsigned long> found = socketInodesOnPort(readFile(table), port);
        inodes.insert(inodes.end(), found.begin(), found.end());
    }
    UdpPortUse use;
    if (inodes.empty())
        return use;

    std::vector<unsigned long> unaccounted = inodes;
    const int ownPid = static_cast<int>(::getpid());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kProcRoot, error)) {
        int pid = 0;
        if (!parseWhole(std::string_view(entry.path().filename().native()), pid, 10))
            continue;
        const std::vector<unsigned long> held = inodesHeldBy(entry.path() / "fd", inodes);
        if (held.empty())
            continue;
        if (pid == ownPid)
            use.heldByThisProcess = true;
        else
            use.otherHolders.push_back({pid, processName(entry.path())});
        // Several processes may share one socket (inherited descriptors); an
        // inode counts as found as soon as one holder is known.
        std::erase_if(unaccounted,
            [&held](unsigned long inode) { return std::find(held.begin(), held.end(), inode) != held.end(); });
    }
    // A socket whose holder stays hidden belongs to another user's process:
    // our own descriptors are always readable.
    use.heldByOthers = !use.otherHolders.empty() || !unaccounted.empty();
    std::sort(use.otherHolders.begin(), use.otherHolders.end(),
        [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return use;
}

} // namespace diagnostics
