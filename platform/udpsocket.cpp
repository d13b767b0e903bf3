// What a UDP socket does the same way on every system: owning its handle.
// The system calls are in posix/udpsocket.cpp and windows/udpsocket.cpp.
#include "platform/udpsocket.h"

#include <utility>

namespace platform {

UdpSocket::~UdpSocket()
{
    close();
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1))
    , lastError_(other.lastError_)
    , nonBlocking_(other.nonBlocking_)
{
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept
{
    if (this != &other) {
        close();
        descriptor_ = std::exchange(other.descriptor_, -1);
        lastError_ = other.lastError_;
        nonBlocking_ = other.nonBlocking_;
    }
    return *this;
}

} // namespace platform
