#include "commissioning/addressinuse.h"

#include "commissioning/arppacket.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace commissioning {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kBroadcastByte = 0xFF;
constexpr std::size_t kReceiveSize = 64; // an ARP packet with room for padding

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd)
    {
    }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

sockaddr_ll linkAddress(unsigned ifindex)
{
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ARP);
    link.sll_ifindex = static_cast<int>(ifindex);
    link.sll_halen = arp::kMacLength;
    std::memset(link.sll_addr, kBroadcastByte, arp::kMacLength);
    return link;
}

std::optional<modules::MacAddress> awaitHolder(
    int fd, std::uint32_t ip, const modules::MacAddress& own, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            continue; // timed out (the loop ends) or interrupted
        std::uint8_t packet[kReceiveSize];
        const ssize_t size = ::recv(fd, packet, sizeof packet, 0);
        if (size > 0)
            if (auto holder = arpHolder(packet, static_cast<std::size_t>(size), ip, own))
                return holder;
    }
}

} // namespace

std::optional<modules::MacAddress> adapterMac(const std::string& adapter)
{
    const Descriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq request{};
    if (fd.get() < 0 || adapter.size() >= sizeof request.ifr_name)
        return std::nullopt;
    std::memcpy(request.ifr_name, adapter.c_str(), adapter.size() + 1);
    if (::ioctl(fd.get(), SIOCGIFHWADDR, &request) != 0)
        return std::nullopt;
    modules::MacAddress mac{};
    std::memcpy(mac.data(), request.ifr_hwaddr.sa_data, mac.size());
    return mac;
}

NetworkAnswer askByArpProbe(const AdapterSubnet& subnet, std::uint32_t ip, std::chrono::milliseconds bound)
{
    const Clock::time_point deadline = Clock::now() + bound;
    const Descriptor fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (fd.get() < 0)
        return {
            std::nullopt, std::string("no ARP probe without CAP_NET_RAW: ") + std::generic_category().message(errno)};
    const std::optional<modules::MacAddress> own = adapterMac(subnet.adapter);
    const sockaddr_ll link = linkAddress(subnet.index);
    if (!own || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0)
        return {std::nullopt, "no ARP probe on " + subnet.adapter + ": its link cannot be used"};
    const arp::Packet probe = arp::probe(*own, ip);
    if (::sendto(fd.get(), probe.data(), probe.size(), 0, reinterpret_cast<const sockaddr*>(&link), sizeof link)
        != static_cast<ssize_t>(probe.size()))
        return {
            std::nullopt, "the ARP probe on " + subnet.adapter + " failed: " + std::generic_category().message(errno)};
    return {awaitHolder(fd.get(), ip, *own, deadline), {}};
}

NetworkAnswer askNetwork(const AdapterSubnet& subnet, std::uint32_t ip, std::chrono::milliseconds bound)
{
    NetworkAnswer answer = askByArpProbe(subnet, ip, bound);
    if (answer.problem.empty())
        return answer;
    return askNeighbourTable(subnet, ip, bound);
}

} // namespace commissioning
