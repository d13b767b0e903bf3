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

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
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

// One adapter's share of a batch: its socket, its MAC and the questions
// asked on it (indexes into the batch).
struct ProbingAdapter {
    std::unique_ptr<Descriptor> fd;
    modules::MacAddress own{};
    std::vector<std::size_t> questions;
};

// The socket bound to the adapter with every probe sent, or the reason why not.
std::string startProbes(
    ProbingAdapter& adapter, const AdapterSubnet& subnet, const std::vector<AddressQuestion>& questions)
{
    adapter.fd = std::make_unique<Descriptor>(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (adapter.fd->get() < 0)
        return std::string("no ARP probe without CAP_NET_RAW: ") + std::generic_category().message(errno);
    const std::optional<modules::MacAddress> own = adapterMac(subnet.adapter);
    const sockaddr_ll link = linkAddress(subnet.index);
    if (!own || ::bind(adapter.fd->get(), reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0)
        return "no ARP probe on " + subnet.adapter + ": its link cannot be used";
    adapter.own = *own;
    for (std::size_t question : adapter.questions) {
        const arp::Packet probe = arp::probe(*own, questions[question].ip);
        if (::sendto(
                adapter.fd->get(), probe.data(), probe.size(), 0, reinterpret_cast<const sockaddr*>(&link), sizeof link)
            != static_cast<ssize_t>(probe.size()))
            return "the ARP probe on " + subnet.adapter + " failed: " + std::generic_category().message(errno);
    }
    return {};
}

// Takes what arrived on one adapter's socket for the questions still open.
void readReplies(
    const ProbingAdapter& adapter, const std::vector<AddressQuestion>& questions, std::vector<NetworkAnswer>& answers)
{
    std::uint8_t packet[kReceiveSize];
    const ssize_t size = ::recv(adapter.fd->get(), packet, sizeof packet, MSG_DONTWAIT);
    if (size <= 0)
        return;
    for (std::size_t question : adapter.questions)
        if (!answers[question].holder)
            answers[question].holder =
                arpHolder(packet, static_cast<std::size_t>(size), questions[question].ip, adapter.own);
}

bool allAnswered(const std::vector<NetworkAnswer>& answers)
{
    return std::all_of(answers.begin(), answers.end(),
        [](const NetworkAnswer& answer) { return answer.holder || !answer.problem.empty(); });
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

namespace commissioning {

std::vector<NetworkAnswer> askAllByArpProbe(
    const std::vector<AddressQuestion>& questions, std::chrono::milliseconds bound)
{
    const Clock::time_point deadline = Clock::now() + bound;
    std::vector<NetworkAnswer> answers(questions.size());
    std::map<unsigned, ProbingAdapter> adapters; // by interface index
    for (std::size_t i = 0; i < questions.size(); ++i)
        adapters[questions[i].subnet.index].questions.push_back(i);
    std::vector<pollfd> waits;
    std::vector<const ProbingAdapter*> waiting;
    for (auto& [index, adapter] : adapters) {
        const std::string problem = startProbes(adapter, questions[adapter.questions.front()].subnet, questions);
        if (!problem.empty()) {
            for (std::size_t question : adapter.questions)
                answers[question].problem = problem;
            continue;
        }
        waits.push_back({adapter.fd->get(), POLLIN, 0});
        waiting.push_back(&adapter);
    }
    while (!waits.empty() && !allAnswered(answers)) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        if (::poll(waits.data(), waits.size(), static_cast<int>(left.count())) <= 0)
            continue; // timed out (the loop ends) or interrupted
        for (std::size_t i = 0; i < waits.size(); ++i)
            if ((waits[i].revents & POLLIN) != 0)
                readReplies(*waiting[i], questions, answers);
    }
    return answers;
}

std::vector<NetworkAnswer> askAllNetwork(const std::vector<AddressQuestion>& questions, std::chrono::milliseconds bound)
{
    const Clock::time_point deadline = Clock::now() + bound;
    std::vector<NetworkAnswer> answers = askAllByArpProbe(questions, bound);
    std::vector<AddressQuestion> retry;
    std::vector<std::size_t> retried;
    for (std::size_t i = 0; i < answers.size(); ++i)
        if (!answers[i].problem.empty()) {
            retry.push_back(questions[i]);
            retried.push_back(i);
        }
    if (retry.empty())
        return answers;
    // Without CAP_NET_RAW no probe went out and no time passed; an adapter
    // that failed alone gets what is left of the one bound.
    const auto left = std::max(
        std::chrono::milliseconds{0}, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    const std::vector<NetworkAnswer> fromTable = askAllNeighbourTable(retry, left);
    for (std::size_t i = 0; i < retried.size() && i < fromTable.size(); ++i)
        answers[retried[i]] = fromTable[i];
    return answers;
}

} // namespace commissioning
