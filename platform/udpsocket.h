#ifndef PLATFORM_UDPSOCKET_H
#define PLATFORM_UDPSOCKET_H

#include <cstddef>
#include <cstdint>

namespace platform {

// An IPv4 UDP socket. The interface carries no operating-system types, so
// that a Winsock implementation can sit beside the BSD one.
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

    struct ReceiveResult {
        ReceiveStatus status = ReceiveStatus::Error;
        // Received: bytes in the buffer. Truncated: the datagram's full length.
        std::size_t length = 0;
        std::uint32_t senderAddress = 0;
        std::uint16_t senderPort = 0;
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

    // True only when the whole datagram was handed to the network.
    bool sendTo(std::uint32_t address, std::uint16_t port, const void* data, std::size_t length);

    // Reads one datagram into buffer[0, capacity). A datagram longer than
    // capacity is reported as Truncated with its real length, never as a
    // shorter one: the caller decides whether a cut datagram is usable.
    ReceiveResult receiveFrom(void* buffer, std::size_t capacity);

    // errno of the last failed call (0 when none failed yet).
    int lastError() const { return lastError_; }

private:
    bool fail();

    int descriptor_ = -1;
    int lastError_ = 0;
};

} // namespace platform

#endif
