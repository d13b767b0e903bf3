#include "platform/udpsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

} // namespace

UdpSocket::~UdpSocket()
{
    close();
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1))
    , lastError_(other.lastError_)
{
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept
{
    if (this != &other) {
        close();
        descriptor_ = std::exchange(other.descriptor_, -1);
        lastError_ = other.lastError_;
    }
    return *this;
}

bool UdpSocket::fail()
{
    lastError_ = errno;
    return false;
}

bool UdpSocket::open()
{
    close();
    // CLOEXEC: a program that starts others must not hand them our port.
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return descriptor_ >= 0 || fail();
}

void UdpSocket::close()
{
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

bool UdpSocket::enableBroadcast()
{
    return setIntOption(descriptor_, SOL_SOCKET, SO_BROADCAST, 1) || fail();
}

bool UdpSocket::setReceiveBufferSize(int bytes)
{
    // SO_RCVBUFFORCE needs CAP_NET_ADMIN; without it SO_RCVBUF is capped
    // silently at net.core.rmem_max, which is the best an ordinary user gets.
    if (setIntOption(descriptor_, SOL_SOCKET, SO_RCVBUFFORCE, bytes))
        return true;
    return setIntOption(descriptor_, SOL_SOCKET, SO_RCVBUF, bytes) || fail();
}

int UdpSocket::receiveBufferSize() const
{
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(descriptor_, SOL_SOCKET, SO_RCVBUF, &value, &length) != 0)
        return -1;
    return value;
}

bool UdpSocket::enableAddressReuse()
{
    return setIntOption(descriptor_, SOL_SOCKET, SO_REUSEADDR, 1) || fail();
}

bool UdpSocket::bind(std::uint16_t port, std::uint32_t address)
{
    const sockaddr_in local = makeAddress(address, port);
    return ::bind(descriptor_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 || fail();
}

std::uint16_t UdpSocket::localPort() const
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool UdpSocket::setNonBlocking()
{
    const int flags = ::fcntl(descriptor_, F_GETFL);
    if (flags < 0)
        return fail();
    return ::fcntl(descriptor_, F_SETFL, flags | O_NONBLOCK) == 0 || fail();
}

bool UdpSocket::sendTo(std::uint32_t address, std::uint16_t port, const void* data, std::size_t length)
{
    const sockaddr_in remote = makeAddress(address, port);
    const ssize_t sent =
        ::sendto(descriptor_, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    if (sent < 0)
        return fail();
    return static_cast<std::size_t>(sent) == length;
}

UdpSocket::ReceiveResult UdpSocket::receiveFrom(void* buffer, std::size_t capacity)
{
    ReceiveResult result;
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    // MSG_TRUNC makes recvfrom return the datagram's real length even when
    // only `capacity` bytes of it were copied.
    const ssize_t received =
        ::recvfrom(descriptor_, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) {
        lastError_ = errno;
        result.status = (errno == EAGAIN || errno == EWOULDBLOCK) ? ReceiveStatus::WouldBlock : ReceiveStatus::Error;
        return result;
    }
    result.length = static_cast<std::size_t>(received);
    result.status = result.length > capacity ? ReceiveStatus::Truncated : ReceiveStatus::Received;
    result.senderAddress = ntohl(sender.sin_addr.s_addr);
    result.senderPort = ntohs(sender.sin_port);
    return result;
}

} // namespace platform
