#include "platform/udpsocket.h"

#include "platform/wakeup.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

sockaddr_in makeAddress(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

bool setIntOption(int descriptor, int level, int option, int value)
{
    return ::setsockopt(descriptor, level, option, &value, sizeof value) == 0;
}

// Room for the control messages one datagram can carry: the drop counter
// (SO_RXQ_OVFL, a 32-bit count) and the packet information (IP_PKTINFO).
constexpr std::size_t kControlBytes = CMSG_SPACE(sizeof(std::uint32_t)) + CMSG_SPACE(sizeof(in_pktinfo));
// Control buffers are kept in 64-bit words so that each one is aligned for
// the cmsghdr it holds.
constexpr std::size_t kControlWords = (kControlBytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);

// A message of one datagram: its peer address, its bytes and room for
// control messages of controlBytes.
msghdr makeMessage(sockaddr_in& peer, iovec& payload, std::uint64_t* control, std::size_t controlBytes)
{
    msghdr message{};
    message.msg_name = &peer;
    message.msg_namelen = sizeof peer;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = controlBytes;
    return message;
}

} // namespace

int UdpSocket::fd() const
{
    return static_cast<int>(descriptor_);
}

struct ReceiveBatch::Native {
    std::vector<mmsghdr> messages;
    std::vector<iovec> vectors;
    std::vector<sockaddr_in> senders;
    std::vector<std::uint64_t> control;
};

ReceiveBatch::ReceiveBatch(std::size_t slots, std::size_t capacity)
    : capacity_(capacity)
    , buffers_(slots * (capacity + 1))
    , datagrams_(slots)
    , native_(std::make_unique<Native>())
{
    native_->messages.resize(slots);
    native_->vectors.resize(slots);
    native_->senders.resize(slots);
    native_->control.resize(slots * kControlWords);
}

ReceiveBatch::~ReceiveBatch() = default;

bool UdpSocket::fail()
{
    lastError_ = errno;
    return false;
}

bool UdpSocket::open()
{
    close();
    nonBlocking_ = false;
    // CLOEXEC: a program that starts others must not hand them our port.
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return descriptor_ >= 0 || fail();
}

void UdpSocket::close()
{
    if (descriptor_ >= 0) {
        ::close(fd());
        descriptor_ = -1;
    }
}

bool UdpSocket::enableBroadcast()
{
    return setIntOption(fd(), SOL_SOCKET, SO_BROADCAST, 1) || fail();
}

bool UdpSocket::setReceiveBufferSize(int bytes)
{
    // SO_RCVBUFFORCE needs CAP_NET_ADMIN; without it SO_RCVBUF is capped
    // silently at net.core.rmem_max, which is the best an ordinary user gets.
    if (setIntOption(fd(), SOL_SOCKET, SO_RCVBUFFORCE, bytes))
        return true;
    return setIntOption(fd(), SOL_SOCKET, SO_RCVBUF, bytes) || fail();
}

int UdpSocket::receiveBufferSize() const
{
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(fd(), SOL_SOCKET, SO_RCVBUF, &value, &length) != 0)
        return -1;
    return value;
}

bool UdpSocket::enableAddressReuse()
{
    return setIntOption(fd(), SOL_SOCKET, SO_REUSEADDR, 1) || fail();
}

bool UdpSocket::bind(std::uint16_t port, std::uint32_t address)
{
    const sockaddr_in local = makeAddress(address, port);
    return ::bind(fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 || fail();
}

bool UdpSocket::connect(std::uint32_t address, std::uint16_t port)
{
    const sockaddr_in remote = makeAddress(address, port);
    return ::connect(fd(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 || fail();
}

std::string UdpSocket::errorText(int error)
{
    return std::generic_category().message(error);
}

UdpSocket::ErrorKind UdpSocket::errorKind(int error)
{
    if (error == EACCES)
        return ErrorKind::AccessDenied;
    if (error == EADDRINUSE)
        return ErrorKind::AddressInUse;
    return ErrorKind::Other;
}

std::uint16_t UdpSocket::localPort() const
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool UdpSocket::setNonBlocking()
{
    const int flags = ::fcntl(fd(), F_GETFL);
    if (flags < 0)
        return fail();
    if (::fcntl(fd(), F_SETFL, flags | O_NONBLOCK) != 0)
        return fail();
    nonBlocking_ = true;
    return true;
}

bool UdpSocket::enableDropCounting()
{
    return setIntOption(fd(), SOL_SOCKET, SO_RXQ_OVFL, 1) || fail();
}

bool UdpSocket::enablePacketInfo()
{
    return setIntOption(fd(), IPPROTO_IP, IP_PKTINFO, 1) || fail();
}

std::optional<std::uint32_t> UdpSocket::dropCount() const
{
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (::getsockopt(fd(), SOL_SOCKET, SO_MEMINFO, memory, &length) != 0
        || length < (SK_MEMINFO_DROPS + 1) * sizeof memory[0])
        return std::nullopt;
    return memory[SK_MEMINFO_DROPS];
}

UdpSocket::WaitResult UdpSocket::waitReadable(const Wakeup& wakeup, std::chrono::milliseconds timeout) const
{
    // poll() ignores entries with a negative descriptor, so a closed socket
    // or a wake-up that could not be created simply drops out of the wait.
    pollfd watched[2] = {{fd(), POLLIN, 0}, {static_cast<int>(wakeup.descriptor_), POLLIN, 0}};
    const int milliseconds = timeout.count() < 0 ? -1 : static_cast<int>(timeout.count());
    const int ready = ::poll(watched, 2, milliseconds);
    if (ready < 0)
        return errno == EINTR ? WaitResult::TimedOut : WaitResult::Error;
    if (watched[1].revents != 0)
        return WaitResult::Woken;
    if (watched[0].revents != 0)
        return WaitResult::Readable;
    return WaitResult::TimedOut;
}

bool UdpSocket::sendToVia(unsigned adapterIndex, std::uint32_t sourceAddress, std::uint32_t address, std::uint16_t port,
    const void* data, std::size_t length)
{
    sockaddr_in remote = makeAddress(address, port);
    iovec payload{const_cast<void*>(data), length};
    // IP_PKTINFO with an adapter index: the kernel routes this one datagram
    // out of that adapter, also a limited broadcast, and takes the given
    // source address instead of the default route's.
    std::uint64_t control[kControlWords] = {};
    msghdr message = makeMessage(remote, payload, control, CMSG_SPACE(sizeof(in_pktinfo)));
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(adapterIndex);
    info.ipi_spec_dst.s_addr = htonl(sourceAddress);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    const ssize_t sent = ::sendmsg(fd(), &message, MSG_NOSIGNAL);
    if (sent < 0)
        return fail();
    return static_cast<std::size_t>(sent) == length;
}

bool UdpSocket::sendTo(std::uint32_t address, std::uint16_t port, const void* data, std::size_t length)
{
    const sockaddr_in remote = makeAddress(address, port);
    const ssize_t sent =
        ::sendto(fd(), data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    if (sent < 0)
        return fail();
    return static_cast<std::size_t>(sent) == length;
}

namespace {

void readControl(msghdr& header, unsigned& adapterIndex, std::optional<std::uint32_t>& dropCount)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
            std::uint32_t count = 0;
            std::memcpy(&count, CMSG_DATA(c), sizeof count);
            dropCount = count;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            adapterIndex = static_cast<unsigned>(info.ipi_ifindex);
        }
    }
}

} // namespace

UdpSocket::ReceiveResult UdpSocket::receiveFrom(void* buffer, std::size_t capacity)
{
    ReceiveResult result;
    sockaddr_in sender{};
    iovec payload{buffer, capacity};
    std::uint64_t control[kControlWords] = {};
    msghdr header = makeMessage(sender, payload, control, sizeof control);
    // MSG_TRUNC makes recvmsg return the datagram's real length even when
    // only `capacity` bytes of it were copied.
    const ssize_t received = ::recvmsg(fd(), &header, MSG_TRUNC);
    if (received < 0) {
        lastError_ = errno;
        result.status = (errno == EAGAIN || errno == EWOULDBLOCK) ? ReceiveStatus::WouldBlock : ReceiveStatus::Error;
        return result;
    }
    result.length = static_cast<std::size_t>(received);
    result.status = result.length > capacity ? ReceiveStatus::Truncated : ReceiveStatus::Received;
    result.senderAddress = ntohl(sender.sin_addr.s_addr);
    result.senderPort = ntohs(sender.sin_port);
    std::optional<std::uint32_t> ignoredDropCount;
    readControl(header, result.adapterIndex, ignoredDropCount);
    return result;
}

UdpSocket::ReceiveStatus UdpSocket::receiveBatch(ReceiveBatch& batch)
{
    auto& native = *batch.native_;
    const std::size_t slots = batch.slotCount();
    for (std::size_t i = 0; i < slots; ++i) {
        native.vectors[i] = {batch.data(i), batch.capacity_};
        native.messages[i].msg_hdr = makeMessage(native.senders[i], native.vectors[i],
            &native.control[i * kControlWords], kControlWords * sizeof(std::uint64_t));
        native.messages[i].msg_len = 0;
    }
    batch.count_ = 0;
    // MSG_TRUNC: msg_len is a datagram's real length even when it was cut.
    const int received =
        ::recvmmsg(fd(), native.messages.data(), static_cast<unsigned>(slots), MSG_DONTWAIT | MSG_TRUNC, nullptr);
    if (received < 0) {
        lastError_ = errno;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? ReceiveStatus::WouldBlock : ReceiveStatus::Error;
    }
    batch.count_ = static_cast<std::size_t>(received);
    for (std::size_t i = 0; i < batch.count_; ++i) {
        msghdr& header = native.messages[i].msg_hdr;
        ReceivedDatagram& datagram = batch.datagrams_[i];
        datagram = ReceivedDatagram{};
        datagram.length = native.messages[i].msg_len;
        datagram.truncated = (header.msg_flags & MSG_TRUNC) != 0 || datagram.length > batch.capacity_;
        datagram.senderAddress = ntohl(native.senders[i].sin_addr.s_addr);
        datagram.senderPort = ntohs(native.senders[i].sin_port);
        readControl(header, datagram.adapterIndex, batch.dropCount_);
    }
    return batch.count_ > 0 ? ReceiveStatus::Received : ReceiveStatus::WouldBlock;
}

} // namespace platform
