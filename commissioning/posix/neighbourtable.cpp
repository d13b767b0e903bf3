#include "commissioning/addressinuse.h"

#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/neighbour.h>
#include <netlink/route/rtnl.h>
#include <netlink/socket.h>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace commissioning {
namespace {

using Clock = std::chrono::steady_clock;

// The discard service: nothing listens there on a module or a host that
// happens to hold the address, and the datagram only serves to make the
// kernel resolve the address.
constexpr std::uint16_t kDiscardPort = 9;
// How often the table is read while the kernel waits for the ARP reply.
constexpr std::chrono::milliseconds kNeighbourPollInterval{10};
constexpr std::size_t kMacLength = 6;
constexpr std::size_t kIpv4Length = 4;
// Entries that hold a MAC somebody answered with (stale: within the last
// minutes, not confirmed since).
constexpr int kAnsweredStates = NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;

struct SocketCloser {
    void operator()(nl_sock* socket) const { nl_socket_free(socket); }
};
using NetlinkSocket = std::unique_ptr<nl_sock, SocketCloser>;

struct NeighbourFree {
    void operator()(rtnl_neigh* neighbour) const { rtnl_neigh_put(neighbour); }
};

std::optional<NeighbourEntry> entryOf(rtnl_neigh* neighbour)
{
    nl_addr* destination = rtnl_neigh_get_dst(neighbour);
    nl_addr* link = rtnl_neigh_get_lladdr(neighbour);
    if (rtnl_neigh_get_family(neighbour) != AF_INET || (rtnl_neigh_get_state(neighbour) & kAnsweredStates) == 0
        || destination == nullptr || link == nullptr || nl_addr_get_len(destination) != kIpv4Length
        || nl_addr_get_len(link) != kMacLength || rtnl_neigh_get_ifindex(neighbour) < 0)
        return std::nullopt;
    std::uint32_t networkOrder = 0;
    std::memcpy(&networkOrder, nl_addr_get_binary_addr(destination), kIpv4Length);
    NeighbourEntry entry{static_cast<unsigned>(rtnl_neigh_get_ifindex(neighbour)), ntohl(networkOrder), {}};
    std::memcpy(entry.mac.data(), nl_addr_get_binary_addr(link), kMacLength);
    return entry;
}

// The empty datagram that makes the kernel send its ARP request. A failure
// to send is no answer either way: the table is still read.
void triggerResolution(std::uint32_t ip)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(kDiscardPort);
    target.sin_addr.s_addr = htonl(ip);
    [[maybe_unused]] const ssize_t sent =
        ::sendto(fd, "", 0, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    ::close(fd);
}

NetlinkSocket openRouteSocket(std::chrono::milliseconds bound)
{
    NetlinkSocket socket(nl_socket_alloc());
    if (!socket || nl_connect(socket.get(), NETLINK_ROUTE) != 0)
        return nullptr;
    // The kernel answers a dump at once; the bound only guards a receive
    // that would otherwise never end.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(bound);
    const timeval timeout{static_cast<time_t>(seconds.count()),
        static_cast<suseconds_t>(std::chrono::duration_cast<std::chrono::microseconds>(bound - seconds).count())};
    ::setsockopt(nl_socket_get_fd(socket.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return socket;
}

// One read of the neighbour table (ifindex 0: of every adapter), each
// entry handed to take; false when the table cannot be read.
template <class Take>
bool readTable(nl_sock* socket, unsigned ifindex, Take take)
{
    ndmsg request{};
    request.ndm_family = AF_INET;
    request.ndm_ifindex = static_cast<int>(ifindex);
    if (nl_send_simple(socket, RTM_GETNEIGH, NLM_F_DUMP, &request, sizeof request) < 0)
        return false;
    for (;;) {
        sockaddr_nl from{};
        unsigned char* buffer = nullptr;
        const int size = nl_recv(socket, &from, &buffer, nullptr);
        const std::unique_ptr<unsigned char, decltype(&std::free)> owner(buffer, &std::free);
        if (size <= 0)
            return true;
        const NeighbourDump part = readNeighbourEntries(buffer, static_cast<std::size_t>(size));
        for (const NeighbourEntry& entry : part.entries)
            take(entry);
        if (part.done)
            return true;
    }
}

} // namespace

NeighbourDump readNeighbourEntries(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > static_cast<std::size_t>(INT_MAX))
        return {};
    // Netlink messages are read in place: give them their alignment.
    std::vector<std::uint32_t> aligned((size + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t));
    std::memcpy(aligned.data(), data, size);
    auto* message = reinterpret_cast<nlmsghdr*>(aligned.data());
    int remaining = static_cast<int>(size);
    NeighbourDump dump;
    for (; nlmsg_ok(message, remaining); message = nlmsg_next(message, &remaining)) {
        if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) {
            dump.done = true;
            break;
        }
        if (message->nlmsg_type != RTM_NEWNEIGH)
            continue;
        rtnl_neigh* parsed = nullptr;
        if (rtnl_neigh_parse(message, &parsed) < 0 || parsed == nullptr)
            continue;
        const std::unique_ptr<rtnl_neigh, NeighbourFree> neighbour(parsed);
        if (auto entry = entryOf(neighbour.get()))
            dump.entries.push_back(*entry);
    }
    return dump;
}

NeighbourDumpPart readNeighbourDump(const std::uint8_t* data, std::size_t size, unsigned ifindex, std::uint32_t ip)
{
    const NeighbourDump dump = readNeighbourEntries(data, size);
    NeighbourDumpPart part{std::nullopt, dump.done};
    for (const NeighbourEntry& entry : dump.entries)
        if (entry.ifindex == ifindex && entry.ip == ip)
            part.holder = entry.mac;
    return part;
}

NetworkAnswer askNeighbourTable(const AdapterSubnet& subnet, std::uint32_t ip, std::chrono::milliseconds bound)
{
    return askAllNeighbourTable({{subnet, ip}}, bound).front();
}

std::vector<NetworkAnswer> askAllNeighbourTable(
    const std::vector<AddressQuestion>& questions, std::chrono::milliseconds bound)
{
    const Clock::time_point deadline = Clock::now() + bound;
    std::vector<NetworkAnswer> answers(questions.size());
    const NetlinkSocket socket = openRouteSocket(bound);
    if (!socket) {
        for (NetworkAnswer& answer : answers)
            answer.problem = "the kernel's neighbour table cannot be read";
        return answers;
    }
    std::map<std::pair<unsigned, std::uint32_t>, std::vector<std::size_t>> open; // (ifindex, ip) -> questions
    for (std::size_t i = 0; i < questions.size(); ++i) {
        open[{questions[i].subnet.index, questions[i].ip}].push_back(i);
        triggerResolution(questions[i].ip);
    }
    const unsigned onlyAdapter = open.size() == 1 ? open.begin()->first.first : 0;
    for (;;) {
        readTable(socket.get(), onlyAdapter, [&](const NeighbourEntry& entry) {
            const auto found = open.find({entry.ifindex, entry.ip});
            if (found == open.end())
                return;
            for (std::size_t question : found->second)
                answers[question].holder = entry.mac;
            open.erase(found);
        });
        if (open.empty() || Clock::now() >= deadline)
            return answers;
        std::this_thread::sleep_for(std::min<Clock::duration>(kNeighbourPollInterval, deadline - Clock::now()));
    }
}

} // namespace commissioning
