#ifndef PLATFORM_UDPSOCKET_H
#define PLATFORM_UDPSOCKET_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Wakeup;

// One datagram of a ReceiveBatch.
struct ReceivedDatagram {
    // Bytes in the buffer; for a truncated datagram its full length.
    std::size_t length = 0;
    // Longer than the buffer: only its first bytes were kept.
    bool truncated = false;
    std::uint32_t senderAddress = 0;
    std::uint16_t senderPort = 0;
    // The adapter it arrived on (0 unless packet information is enabled).
    unsigned adapterIndex = 0;
};

// Buffers for reading many datagrams with one system call. Sized once;
// UdpSocket::receiveBatch fills it anew each time.
class ReceiveBatch {
public:
    ReceiveBatch(std::size_t slots, std::size_t capacity);
    ~ReceiveBatch();
    ReceiveBatch(const ReceiveBatch&) = delete;
    ReceiveBatch& operator=(const ReceiveBatch&) = delete;

    std::size_t slotCount() const { return datagrams_.size(); }
    std::size_t capacity() const { return capacity_; }
    // Datagrams read by the last receiveBatch.
    std::size_t count() const { return count_; }
    const ReceivedDatagram& datagram(std::size_t i) const { return datagrams_[i]; }
    // Slot i's buffer: capacity() bytes plus one spare byte for a NUL.
    char* data(std::size_t i) { return &buffers_[i * (capacity_ + 1)]; }
    // The kernel's count of datagrams it dropped on this socket for want of
    // buffer space, as reported with the last batch (needs drop counting
    // enabled; empty when no datagram carried it, i.e. none dropped yet).
    std::optional<std::uint32_t> dropCount() const { return dropCount_; }

private:
    friend class UdpSocket;
    struct Native;

    std::size_t capacity_;
    std::size_t count_ = 0;
    std::vector<char> buffers_;
    std::vector<ReceivedDatagram> datagrams_;
    std::optional<std::uint32_t> dropCount_;
    std::unique_ptr<Native> native_;
};

// An IPv4 UDP socket. The interface carries no operating-system types: BSD
// sockets in platform/posix/, Windows Sockets 2 in platform/windows/.
//
// Addresses are host-order 32-bit values: a.b.c.d is a<<24 | b<<16 | c<<8 | d.
// Ports are host-order. One object owns one descriptor; it is closed by
// close() or by the destructor. Not thread-safe: callers serialise access.
class UdpSocket {
public:
    static constexpr std::uint32_t kAnyAddress = 0x00000000u;
    static constexpr std::uint32_t kLoopbackAddress = 0x7F000001u;
    static constexpr std::uint32_t kLimitedBroadcastAddress = 0xFFFFFFFFu;

    enum class ReceiveStatus {
        Received,   // a whole datagram is in the buffer (length may be 0)
        Truncated,  // the datagram was longer than the buffer; it is consumed and lost
        WouldBlock, // nothing waits (non-blocking socket)
        Error,      // the receive failed; see lastError()
    };

    enum class WaitResult {
        Readable, // a datagram waits
        Woken,    // the Wakeup was signalled
        TimedOut,
        Error, // see lastError()
    };

    struct ReceiveResult {
        ReceiveStatus status = ReceiveStatus::Error;
        // Received: bytes in the buffer. Truncated: the datagram's full length.
        std::size_t length = 0;
        std::uint32_t senderAddress = 0;
        std::uint16_t senderPort = 0;
        // The adapter it arrived on (0 unless packet information is enabled).
        unsigned adapterIndex = 0;
    };

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;

    // Creates the datagram socket; closes one this object held before.
    bool open();
    bool isOpen() const { return descriptor_ >= 0; }
    void close();

    bool enableBroadcast();
    // Asks for a kernel receive buffer of at least `bytes`. As root the
    // system-wide ceiling (net.core.rmem_max) is bypassed; otherwise the
    // request is capped by it, which still counts as success.
    bool setReceiveBufferSize(int bytes);
    // The size the kernel actually reserves (Linux reports twice the
    // requested payload size, for its bookkeeping); -1 on failure.
    int receiveBufferSize() const;
    // Lets another socket bind the same port while this one lingers.
    bool enableAddressReuse();
    bool bind(std::uint16_t port, std::uint32_t address = kAnyAddress);
    // The port actually bound (useful after bind(0)); 0 on failure.
    std::uint16_t localPort() const;
    bool setNonBlocking();
    // Each received datagram then carries the kernel's running count of
    // datagrams dropped on this socket (ReceiveBatch::dropCount).
    bool enableDropCounting();
    // Each received datagram then carries the adapter it arrived on.
    bool enablePacketInfo();
    // The kernel's count of datagrams dropped on this socket so far, read
    // directly (empty when the system cannot tell).
    std::optional<std::uint32_t> dropCount() const;

    // Blocks until a datagram waits, `wakeup` is signalled or `timeout`
    // passes (a negative timeout waits without end). A closed socket is
    // not waited on: only the wake-up and the timeout end the wait. Changes
    // nothing in this object, so one thread may wait while another sends.
    WaitResult waitReadable(const Wakeup& wakeup, std::chrono::milliseconds timeout) const;

    // True only when the whole datagram was handed to the network.
    bool sendTo(std::uint32_t address, std::uint16_t port, const void* data, std::size_t length);
    // The same, sent out of one adapter with the given source address (0:
    // the adapter's own); needed for the limited broadcast, which otherwise
    // leaves only through the adapter of the default route.
    bool sendToVia(unsigned adapterIndex, std::uint32_t sourceAddress, std::uint32_t address, std::uint16_t port,
        const void* data, std::size_t length);

    // Reads one datagram into buffer[0, capacity). A datagram longer than
    // capacity is reported as Truncated with its real length, never as a
    // shorter one: the caller decides whether a cut datagram is usable.
    ReceiveResult receiveFrom(void* buffer, std::size_t capacity);

    // Reads as many waiting datagrams as the batch has slots, without
    // blocking. Received: batch.count() > 0. WouldBlock: nothing waited.
    ReceiveStatus receiveBatch(ReceiveBatch& batch);

    // errno (POSIX) or WSAGetLastError() (Windows) of the last failed call
    // (0 when none failed yet).
    int lastError() const { return lastError_; }

    // Connects the socket to a remote address, which only looks up the route
    // (a datagram socket sends nothing for it): fails when none leads there.
    bool connect(std::uint32_t address, std::uint16_t port);

    // The system's text for a lastError() value.
    static std::string errorText(int error);
    enum class ErrorKind { AccessDenied, AddressInUse, Other };
    static ErrorKind errorKind(int error);

private:
    bool fail();
    // The descriptor as the system's calls take it (POSIX only).
    int fd() const;

    // A descriptor (POSIX) or a SOCKET (Windows, pointer-sized); -1 when closed.
    std::intptr_t descriptor_ = -1;
    int lastError_ = 0;
    // Set by setNonBlocking(). On Windows waiting makes the socket
    // non-blocking for the wait; it is put back afterwards unless this is set.
    bool nonBlocking_ = false;
};

} // namespace platform

#endif
