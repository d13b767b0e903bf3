#ifndef PROTOCOL_ENGINE_H
#define PROTOCOL_ENGINE_H

// The run-time machinery of the protocol library: the socket, the receive
// thread with its 1 ms poll ticker, the two reply queues, the callback and
// the one library lock.
//
// The library holds exactly one Engine for the life of the process (see
// library.cpp); tests make their own. Every operation that touches the
// socket or a queue holds the library lock for its whole run and waits at
// most kLockTimeout for it; when that wait runs out the operation touches
// nothing and reports its failure result (0, or nothing for operations
// without a result).

#include "platform/autoresetevent.h"
#include "platform/pollticker.h"
#include "platform/recursivetimedmutex.h"
#include "platform/udpsocket.h"
#include "protocol/messages.h"
#include "protocol/qort.h"

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

namespace qort {

class Engine {
public:
    static constexpr std::chrono::milliseconds kLockTimeout{1000};
    static constexpr std::chrono::milliseconds kPollPeriod{1};
    // Kernel receive buffer. Every module on the segment answers a scan at
    // the same moment; at Linux's accounting of roughly 1 KiB of overhead
    // per small datagram, the classic 8 KiB buffer overflows after a handful
    // of replies that arrive within one poll period, and the rest are lost.
    // One MiB holds the answers of several hundred modules.
    static constexpr int kReceiveBufferBytes = 1 << 20;

    Engine() = default;
    // Runs shutdown().
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The load-time set-up: prepares the socket (broadcast, receive buffer,
    // bound to kProtocolPort on every address, non-blocking). A failed step
    // leaves the engine without a socket: sends then fail and nothing is
    // received, but everything else works.
    void setUp() noexcept;
    // 0 before setUp() (or after shutdown()); otherwise 1, also when the
    // ticker or the receive thread could not be started (nothing is then
    // received) and when the engine already runs (nothing more is started).
    int start() noexcept;
    // The unload step: stops and joins the receive thread and the ticker,
    // then closes the socket. Afterwards sends fail and start() refuses.
    void shutdown() noexcept;

    int sendModuleScan() noexcept;
    void sendConfigure(const QORT_ConfigureRequestType& request) noexcept;
    void sendWink(const QORT_ConfigureRequestType& request) noexcept;

    // Takes no lock: the pointer is swapped atomically, and a pass that has
    // already read the old pointer may still call it once.
    void registerCallback(QORT_CallBackType callback) noexcept;

    int takeResponse(QORT_ModuleScanResponseType& response) noexcept;
    int peekInvalidPasswordMac(std::uint8_t* mac) noexcept;
    void dropInvalidPasswordMac() noexcept;

    // The library lock, so that tests can hold it from another thread.
    platform::RecursiveTimedMutex& lockForTesting() noexcept { return mutex_; }

private:
    using Lock = std::unique_lock<platform::RecursiveTimedMutex>;

    Lock lockBounded() noexcept;
    bool prepareSocket() noexcept;
    bool broadcast(const RequestText& request) noexcept;
    void receiveLoop() noexcept;
    void receivePass() noexcept;
    void handleReply(std::size_t length) noexcept;
    void queueResponse(std::string_view text) noexcept;
    void queueInvalidPassword(std::string_view text) noexcept;
    void raise(int code) noexcept;
    void stopThreads() noexcept;

    // Serialises start() and shutdown() only; never taken by the receive
    // thread, so it cannot be part of a lock cycle with mutex_.
    std::mutex lifecycleMutex_;
    platform::RecursiveTimedMutex mutex_;
    platform::AutoResetEvent pollEvent_;
    platform::PollTicker ticker_{pollEvent_, kPollPeriod};
    std::thread receiveThread_;
    std::atomic<bool> initialised_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<QORT_CallBackType> callback_{nullptr};

    // Guarded by mutex_.
    platform::UdpSocket socket_;
    // One byte beyond the longest reply, for the NUL that ends its text.
    std::array<char, kMaxReplyLength + 1> receiveBuffer_{};
    std::deque<QORT_ModuleScanResponseType> responses_;
    std::deque<MacAddress> invalidPasswordMacs_;
};

} // namespace qort

#endif
