// Windows Sockets 2 implementation of platform::UdpSocket.
#include "platform/udpsocket.h"

#include "platform/wakeup.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mswsock.h>

#include <cstring>
#include <string>
#include <utility>

namespace platform {

namespace {

// Version 2.2 of Windows Sockets, the one every Windows since 98 provides.
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
// The largest IPv4 UDP payload. Windows does not report the length of a
// datagram that did not fit (recvfrom fails with WSAEMSGSIZE), so every
// datagram is read into a buffer this long and then copied: the caller
// learns the real length of a cut datagram, as on Linux.
constexpr std::size_t kLargestDatagram = 65535;

SOCKET socketOf(std::intptr_t descriptor)
{
    return static_cast<SOCKET>(descriptor);
}

sockaddr_in makeAddress(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

bool setIntOption(std::intptr_t descriptor, int level, int option, int value)
{
    return ::setsockopt(socketOf(descriptor), level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

char* scratchBuffer()
{
    thread_local std::vector<char> scratch(kLargestDatagram);
    return scratch.data();
}

// Reads one datagram without blocking a socket that is in blocking mode:
// WouldBlock when nothing waits.
struct OneDatagram {
    UdpSocket::ReceiveStatus status = UdpSocket::ReceiveStatus::Error;
    std::size_t length = 0;
    sockaddr_in sender{};
    int error = 0;
};

bool datagramWaits(SOCKET socket)
{
    WSAPOLLFD watched{socket, POLLRDNORM, 0};
    return ::WSAPoll(&watched, 1, 0) > 0;
}

OneDatagram receiveOne(SOCKET socket, bool checkFirst, void* buffer, std::size_t capacity)
{
    OneDatagram result;
    if (checkFirst && !datagramWaits(socket)) {
        result.status = UdpSocket::ReceiveStatus::WouldBlock;
        return result;
    }
    char* scratch = scratchBuffer();
    int senderLength = sizeof result.sender;
    const int received = ::recvfrom(socket, scratch, static_cast<int>(kLargestDatagram), 0,
        reinterpret_cast<sockaddr*>(&result.sender), &senderLength);
    if (received == SOCKET_ERROR) {
        result.error = ::WSAGetLastError();
        // WSAECONNRESET: an earlier send drew an ICMP "port unreachable";
        // Windows reports it on the next receive. No datagram was consumed.
        result.status =
            result.error == WSAEWOULDBLOCK ? UdpSocket::ReceiveStatus::WouldBlock : UdpSocket::ReceiveStatus::Error;
        return result;
    }
    result.length = static_cast<std::size_t>(received);
    std::memcpy(buffer, scratch, std::min(result.length, capacity));
    result.status = result.length > capacity ? UdpSocket::ReceiveStatus::Truncated : UdpSocket::ReceiveStatus::Received;
    return result;
}

} // namespace

struct ReceiveBatch::Native { };

ReceiveBatch::ReceiveBatch(std::size_t slots, std::size_t capacity)
    : capacity_(capacity)
    , buffers_(slots * (capacity + 1))
    , datagrams_(slots)
    , native_(std::make_unique<Native>())
{
}

ReceiveBatch::~ReceiveBatch() = default;

bool UdpSocket::fail()
{
    lastError_ = ::WSAGetLastError();
    return false;
}

// Every open socket holds one reference on Windows Sockets (WSAStartup
// counts its calls); close() gives it back with WSACleanup.
bool UdpSocket::open()
{
    close();
    nonBlocking_ = false;
    WSADATA data{};
    const int started = ::WSAStartup(kWinsockVersion, &data);
    if (started != 0) {
        lastError_ = started;
        return false;
    }
    // Not inheritable: a program that starts others must not hand them our
    // port.
    const SOCKET created = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (created == INVALID_SOCKET) {
        fail();
        ::WSACleanup();
        return false;
    }
    descriptor_ = static_cast<std::intptr_t>(created);
    // A UDP socket on Windows reports an ICMP "port unreachable" for an
    // earlier send as a failure of the next receive (WSAECONNRESET); the
    // BSD socket ignores it. Turn that off so a receive means a datagram.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(created, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned, nullptr, nullptr);
    return true;
}

void UdpSocket::close()
{
    if (descriptor_ != -1) {
        ::closesocket(socketOf(descriptor_));
        descriptor_ = -1;
        ::WSACleanup();
    }
}

bool UdpSocket::enableBroadcast()
{
    return setIntOption(descriptor_, SOL_SOCKET, SO_BROADCAST, 1) || fail();
}

bool UdpSocket::setReceiveBufferSize(int bytes)
{
    return setIntOption(descriptor_, SOL_SOCKET, SO_RCVBUF, bytes) || fail();
}

int UdpSocket::receiveBufferSize() const
{
    int value = 0;
    int length = sizeof value;
    if (::getsockopt(socketOf(descriptor_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length) != 0)
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
    return ::bind(socketOf(descriptor_), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 || fail();
}

bool UdpSocket::connect(std::uint32_t address, std::uint16_t port)
{
    const sockaddr_in remote = makeAddress(address, port);
    return ::connect(socketOf(descriptor_), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 || fail();
}

std::string UdpSocket::errorText(int error)
{
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 ? std::string(text, length) : "Windows Sockets error " + std::to_string(error);
    ::LocalFree(text);
    // The system's texts end in ".\r\n"; callers add their own punctuation.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result;
}

UdpSocket::ErrorKind UdpSocket::errorKind(int error)
{
    if (error == WSAEACCES)
        return ErrorKind::AccessDenied;
    if (error == WSAEADDRINUSE)
        return ErrorKind::AddressInUse;
    return ErrorKind::Other;
}

std::uint16_t UdpSocket::localPort() const
{
    sockaddr_in local{};
    int length = sizeof local;
    if (::getsockname(socketOf(descriptor_), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool UdpSocket::setNonBlocking()
{
    u_long enabled = 1;
    if (::ioctlsocket(socketOf(descriptor_), FIONBIO, &enabled) != 0)
        return fail();
    nonBlocking_ = true;
    return true;
}

// Windows keeps no count of the datagrams a socket dropped for want of
// buffer space: drop counting is accepted and reports nothing.
bool UdpSocket::enableDropCounting()
{
    return descriptor_ != -1;
}

// The arrival adapter would come with WSARecvMsg; the one user of it (the
// recovery DHCP server) answers through the default adapter on Windows.
bool UdpSocket::enablePacketInfo()
{
    return setIntOption(descriptor_, IPPROTO_IP, IP_PKTINFO, 1) || fail();
}

std::optional<std::uint32_t> UdpSocket::dropCount() const
{
    return std::nullopt;
}

// The socket's readiness is an event too: WSAEventSelect signals it while a
// datagram waits (also one that waited before the call), and the wait
// covers it and the wake-up. WSAEventSelect puts the socket in
// non-blocking mode; a socket the caller left blocking is put back after.
UdpSocket::WaitResult UdpSocket::waitReadable(const Wakeup& wakeup, std::chrono::milliseconds timeout) const
{
    const DWORD milliseconds = timeout.count() < 0 ? WSA_INFINITE : static_cast<DWORD>(timeout.count());
    WSAEVENT events[2];
    DWORD count = 0;
    WSAEVENT readable = WSA_INVALID_EVENT;
    const SOCKET socket = socketOf(descriptor_);
    if (wakeup.isValid())
        events[count++] = reinterpret_cast<WSAEVENT>(wakeup.descriptor_);
    if (descriptor_ != -1) {
        readable = ::WSACreateEvent();
        if (readable == WSA_INVALID_EVENT || ::WSAEventSelect(socket, readable, FD_READ) != 0) {
            if (readable != WSA_INVALID_EVENT)
                ::WSACloseEvent(readable);
            return WaitResult::Error;
        }
        events[count++] = readable;
    }
    DWORD signalled = WSA_WAIT_TIMEOUT;
    if (count == 0)
        ::Sleep(milliseconds);
    else
        signalled = ::WSAWaitForMultipleEvents(count, events, FALSE, milliseconds, FALSE);
    if (readable != WSA_INVALID_EVENT) {
        ::WSAEventSelect(socket, nullptr, 0);
        ::WSACloseEvent(readable);
        if (!nonBlocking_) {
            u_long disabled = 0;
            ::ioctlsocket(socket, FIONBIO, &disabled);
        }
    }
    if (signalled == WSA_WAIT_TIMEOUT)
        return WaitResult::TimedOut;
    if (signalled == WSA_WAIT_FAILED || signalled >= WSA_WAIT_EVENT_0 + count)
        return WaitResult::Error;
    if (wakeup.isValid() && ::WaitForSingleObject(events[0], 0) == WAIT_OBJECT_0)
        return WaitResult::Woken;
    return WaitResult::Readable;
}

// The choice of adapter: IP_UNICAST_IF names the adapter the socket's
// datagrams leave through, also a limited broadcast; the source address is
// then that adapter's own. It is set for this one send and cleared again.
// (IP_PKTINFO on a sent datagram, WSASendMsg, would name adapter and
// source per datagram, but wine passes it on without effect, so a
// broadcast left only through the adapter of the default route there. A
// socket per adapter bound to its address would not do either: its
// replies would come to that socket's port instead of the library's.)
// Sends on one socket are serialised by the caller, so the option cannot
// change under another send.
bool UdpSocket::sendToVia(unsigned adapterIndex, std::uint32_t, std::uint32_t address, std::uint16_t port,
    const void* data, std::size_t length)
{
    if (adapterIndex == 0)
        return sendTo(address, port, data, length);
    // The option takes the index in network byte order.
    const DWORD chosen = htonl(adapterIndex);
    const DWORD none = 0;
    const SOCKET socket = socketOf(descriptor_);
    if (::setsockopt(socket, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&chosen), sizeof chosen) != 0)
        return fail();
    const bool sent = sendTo(address, port, data, length);
    ::setsockopt(socket, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&none), sizeof none);
    return sent;
}

bool UdpSocket::sendTo(std::uint32_t address, std::uint16_t port, const void* data, std::size_t length)
{
    const sockaddr_in remote = makeAddress(address, port);
    const int sent = ::sendto(socketOf(descriptor_), static_cast<const char*>(data), static_cast<int>(length), 0,
        reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    if (sent == SOCKET_ERROR)
        return fail();
    return static_cast<std::size_t>(sent) == length;
}

UdpSocket::ReceiveResult UdpSocket::receiveFrom(void* buffer, std::size_t capacity)
{
    ReceiveResult result;
    const OneDatagram one = receiveOne(socketOf(descriptor_), false, buffer, capacity);
    result.status = one.status;
    if (one.status == ReceiveStatus::WouldBlock || one.status == ReceiveStatus::Error) {
        lastError_ = one.error;
        return result;
    }
    result.length = one.length;
    result.senderAddress = ntohl(one.sender.sin_addr.s_addr);
    result.senderPort = ntohs(one.sender.sin_port);
    return result;
}

// Windows has no call that reads several datagrams at once: one recvfrom
// per slot until nothing waits. A blocking socket is asked first, so that
// the batch never blocks.
UdpSocket::ReceiveStatus UdpSocket::receiveBatch(ReceiveBatch& batch)
{
    batch.count_ = 0;
    const SOCKET socket = socketOf(descriptor_);
    while (batch.count_ < batch.slotCount()) {
        const std::size_t slot = batch.count_;
        const OneDatagram one = receiveOne(socket, !nonBlocking_, batch.data(slot), batch.capacity_);
        if (one.status == ReceiveStatus::WouldBlock)
            break;
        if (one.status == ReceiveStatus::Error) {
            lastError_ = one.error;
            if (batch.count_ == 0)
                return ReceiveStatus::Error;
            break;
        }
        ReceivedDatagram& datagram = batch.datagrams_[slot];
        datagram = ReceivedDatagram{};
        datagram.length = one.length;
        datagram.truncated = one.status == ReceiveStatus::Truncated;
        datagram.senderAddress = ntohl(one.sender.sin_addr.s_addr);
        datagram.senderPort = ntohs(one.sender.sin_port);
        ++batch.count_;
    }
    return batch.count_ > 0 ? ReceiveStatus::Received : ReceiveStatus::WouldBlock;
}

} // namespace platform
