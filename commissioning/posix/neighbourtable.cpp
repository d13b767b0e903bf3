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

std::optional<modules::MacAddress> holderOf(rtnl_neigh* neighbour, unsigned ifindex, std::uint32_t ip)
{
    nl_addr* destination = rtnl_neigh_get_dst(neighbour);
    nl_addr* link = rtnl_neigh_get_lladdr(neighbour);
    if (rtnl_neigh_get_family(neighbour) != AF_INET || rtnl_neigh_get_ifindex(neighbour) != static_cast<int>(ifindex)
        || (rtnl_neigh_get_state(neighbour) & kAnsweredStates) == 0 || destination == nullptr || link == nullptr
        || nl_addr_get_len(destination) != kIpv4Length || nl_addr_get_len(link) != kMacLength)
        return std::nullopt;
    std::uint32_t networkOrder = 0;
    std::memcpy(&networkOrder, nl_addr_get_binary_addr(destination), kIpv4Length);
    if (ntohl(networkOrder) != ip)
        return std::nullopt;
    modules::MacAddress mac{};
    std::memcpy(mac.data(), nl_addr_get_binary_addr(link), kMacLength);
    return mac;
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

// One read of the neighbour table; nothing also when it cannot be read.
std::optional<modules::MacAddress> readTable(nl_sock* socket, unsigned ifindex, std::uint32_t ip)
{
    ndmsg request{};
    request.ndm_family = AF_INET;
    request.ndm_ifindex = static_cast<int>(ifindex);
    if (nl_send_simple(socket, RTM_GETNEIGH, NLM_F_DUMP, &request, sizeof request) < 0)
        return std::nullopt;
    std::optional<modules::MacAddress> holder;
    for (;;) {
        sockaddr_nl from{};
        unsigned char* buffer = nullptr;
        const int size = nl_recv(socket, &from, &buffer, nullptr);
        const std::unique_ptr<unsigned char, decltype(&std::free)> owner(buffer, &std::free);
        if (size <= 0)
            return holder;
        const NeighbourDumpPart part = readNeighbourDump(buffer, static_cast<std::size_t>(size), ifindex, ip);
        if (part.holder)
            holder = part.holder;
        if (part.done)
            return holder;
    }
}

} // namespace

NeighbourDumpPart readNeighbourDump(const std::uint8_t* data, std::size_t size, unsigned ifindex, std::uint32_t ip)
{
    if (size == 0 || size > static_cast<std::size_t>(INT_MAX))
        return {};
    // Netlink messages are read in place: give them their alignment.
    std::vector<std::uint32_t> aligned((size + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t));
    std::memcpy(aligned.data(), data, size);
    auto* message = reinterpret_cast<nlmsghdr*>(aligned.data());
    int remaining = static_cast<int>(size);
    NeighbourDumpPart part;
    for (; nlmsg_ok(message, remaining); message = nlmsg_next(message, &remaining)) {
        if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) {
            part.done = true;
            break;
        }
        if (message->nlmsg_type != RTM_NEWNEIGH)
            continue;
        rtnl_neigh* parsed = nullptr;
        if (rtnl_neigh_parse(message, &parsed) < 0 || parsed == nullptr)
            continue;
        const std::unique_ptr<rtnl_neigh, NeighbourFree> neighbour(parsed);
        if (auto holder = holderOf(neighbour.get(), ifindex, ip))
            part.holder = holder;
    }
    return part;
}

NetworkAnswer askNeighbourTable(const AdapterSubnet& subnet, std::uint32_t ip, std::chrono::milliseconds bound)
{
    const Clock::time_point deadline = Clock::now() + bound;
    const NetlinkSocket socket = openRouteSocket(bound);
    if (!socket)
        return {std::nullopt, "the kernel's neighbour table cannot be read"};
    triggerResolution(ip);
    for (;;) {
        if (auto holder = readTable(socket.get(), subnet.index, ip))
            return {holder, {}};
        if (Clock::now() >= deadline)
            return {};
        std::this_thread::sleep_for(std::min<Clock::duration>(kNeighbourPollInterval, deadline - Clock::now()));
    }
}

} // namespace commissioning
