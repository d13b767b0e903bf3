#ifndef PROTOCOL_ENGINE_H
#define PROTOCOL_ENGINE_H

// The run-time machinery of the protocol library: the socket, the receive
// thread that waits on it, the two reply queues, the callback and the one
// library lock.
//
// The library holds exactly one Engine for the life of the process (see
// library.cpp); tests make their own. Every operation that touches the
// socket or a queue holds the library lock for its whole run and waits at
// most kLockTimeout for it; when that wait runs out the operation touches
// nothing and reports its failure result (0, or nothing for operations
// without a result).

#include "platform/recursivetimedmutex.h"
#include "platform/udpsocket.h"
#include "platform/wakeup.h"
#include "protocol/messages.h"
#include "protocol/qort.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace qort {

class Engine {
public:
    static constexpr std::chrono::milliseconds kLockTimeout{1000};
    // Kernel receive buffer. Every module on the segment answers a scan at
    // the same moment. As root the library gets this size; an ordinary user
    // gets at most net.core.rmem_max (212,992 bytes on most systems), which
    // at Linux's accounting of about 1 KiB per small datagram holds some 200
    // replies: the receive thread has to keep up rather than rely on it.
    static constexpr int kReceiveBufferBytes = 1 << 20;

    // One receive pass reads datagrams in batches of kBatchSlots (one system
    // call each) and ends after kMaxDatagramsPerPass datagrams or
    // kPassTimeBudget, whichever comes first, even when more wait: then it
    // releases the lock and lets a caller that waits for it in before the
    // next pass (at most kYieldBound), so that a flood on the port cannot
    // lock the program out.
    static constexpr std::size_t kBatchSlots = 64;
    static constexpr std::size_t kMaxDatagramsPerPass = 256;
    static constexpr std::chrono::milliseconds kPassTimeBudget{2};
    static constexpr std::chrono::milliseconds kYieldBound{2};
    // While a burst is on, the thread lets kBurstCoalesce pass before it
    // reads, so that the burst is read in batches rather than with one
    // wake-up per datagram: that fixed cost, on a busy machine, let the
    // socket of an ordinary user (capped at rmem_max) overflow, and a
    // shorter wait (100 us) still lost replies. A burst is recognised by its
    // rate, at least kBurstDatagrams read within the last kBurstWindow, not
    // by one short gap: modules that answer spread out (100 within a
    // second) often follow one another within a millisecond, and each such
    // reply would wait the whole kBurstCoalesce; replies that come alone or
    // two or three together are read at once. Four within a millisecond is
    // some forty times that rate, and a small fraction of a burst that can
    // fill the buffer (tens of replies per millisecond); only the first few
    // datagrams of a burst cost a wake-up each.
    static constexpr std::size_t kBurstDatagrams = 4;
    static constexpr std::chrono::microseconds kBurstWindow{1000};
    static constexpr std::chrono::microseconds kBurstCoalesce{250};

    // Queue limits. When a queue is full its oldest entry is dropped for
    // the new one: the newest replies answer the latest request, and a
    // program that has fallen that far behind is better served by them
    // than by replies to requests it has long forgotten. A dropped entry's
    // code has already been raised; its take then reports 0, as after a
    // lock time-out. 16,384 responses are some 5 MB. (Lists, not deques:
    // an empty list holds no memory, so an engine that never received
    // anything leaves nothing behind when its library is unloaded.)
    static constexpr std::size_t kMaxQueuedResponses = 16384;
    static constexpr std::size_t kMaxQueuedInvalidPasswords = 256;
    // The MACs of "Reconfigured:" answers, a queue of their own beside the
    // invalid-password one and bounded alike.
    static constexpr std::size_t kMaxQueuedReconfigured = 256;

    // Lost replies. A scan and each of its repeats is a round. When the
    // kernel reports datagrams dropped on the socket (its buffer
    // overflowed) within kRepeatWindow of a round's start, the engine sends
    // the scan again, as soon as the port has been quiet for
    // kRepeatQuietTime (at the latest kRepeatLatest after the loss was
    // seen): modules answer again, and the program's list ignores a
    // module's second reply. It goes on while a repeat still loses replies
    // and still brings modules not seen before in this scan, at most
    // kMaxRepeats times: on a computer that is busy for good, every round
    // loses some replies, and only new modules show that repeating still
    // helps. The quiet time is long against a burst's gaps on a busy
    // machine: a repeat sent while the modules are still answering would
    // only add to the overflow. At most kMaxTrackedModules MAC addresses
    // are remembered per scan; beyond that every reply counts as new.
    static constexpr std::chrono::milliseconds kRepeatWindow{3000};
    static constexpr std::chrono::milliseconds kRepeatQuietTime{100};
    static constexpr std::chrono::milliseconds kRepeatLatest{1500};
    static constexpr std::uint32_t kMaxRepeats = 4;
    static constexpr std::size_t kMaxTrackedModules = kMaxQueuedResponses;

    Engine() = default;
    // Runs shutdown().
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The load-time set-up: prepares the socket (broadcast, receive buffer,
    // drop counting, bound to kProtocolPort on every address, non-blocking).
    // A failed step leaves the engine without a socket: sends then fail and
    // nothing is received, but everything else works. The calling process
    // owns the engine from then on (see shutdown()).
    void setUp() noexcept;
    // 0 before setUp() (or after shutdown()); otherwise 1, also when the
    // receive thread could not be started (nothing is then received) and
    // when the engine already runs (nothing more is started). Called from
    // the receive thread (the callback) it returns at once.
    int start() noexcept;
    // The unload step: wakes, stops and joins the receive thread, holding
    // no lock while it joins, then closes the socket. Afterwards sends fail
    // and start() refuses. An engine that never started also gives back its
    // wake-up descriptor, so that a library loaded and unloaded many times
    // keeps nothing. In a process other than the one that set the engine
    // up (a child made by fork() that exits without exec) it does nothing
    // at all: the wake-up descriptor and the socket are shared with the
    // parent, whose receive thread a wake would keep spinning, and the
    // child has no receive thread to join.
    void shutdown() noexcept;

    // Scan, configure and wink go out once through every usable adapter
    // (platform::NetworkAdapters), looked up at each call. sendModuleScan
    // reports 1 when at least one send succeeded, 0 with no usable adapter.
    // A scan also drops the responses still queued: they answer an earlier
    // request, and a program that starts a new list must not find them at
    // its head.
    int sendModuleScan() noexcept;
    void sendConfigure(const QORT_ConfigureRequestType& request) noexcept;
    void sendWink(const QORT_ConfigureRequestType& request) noexcept;

    // Takes no lock: the pointer is swapped atomically, and a pass that has
    // already read the old pointer may still call it once.
    void registerCallback(QORT_CallBackType callback) noexcept;

    int takeResponse(QORT_ModuleScanResponseType& response) noexcept;
    int peekInvalidPasswordMac(std::uint8_t* mac) noexcept;
    void dropInvalidPasswordMac() noexcept;
    int peekReconfiguredMac(std::uint8_t* mac) noexcept;
    void dropReconfiguredMac() noexcept;

    // Datagrams the kernel dropped on the socket in the last round of the
    // latest scan: the scan itself or, when it was repeated, its last
    // repeat (QORT_GetLostReplyCount). While a repeat's replies are still
    // coming (the port has not yet been quiet for kRepeatQuietTime since
    // it went out) the round before it counts too: its losses are not made
    // up for yet, and a program that stops listening now keeps them. 0
    // before any scan, and when the system does not count drops.
    std::uint32_t lostReplies() noexcept;

    // Datagrams the kernel dropped on the socket since setUp(), scans
    // repeated for that reason, and losses after which the scan was not
    // repeated (the last repeat brought no new module, or the bound was
    // reached); for tests and benchmarks.
    std::uint32_t droppedDatagrams() noexcept;
    std::uint32_t repeatedScans() noexcept;
    std::uint32_t declinedRepeats() noexcept;

    // The library lock, so that tests can hold it from another thread.
    platform::RecursiveTimedMutex& lockForTesting() noexcept { return mutex_; }

private:
    using Lock = std::unique_lock<platform::RecursiveTimedMutex>;
    using Clock = std::chrono::steady_clock;
    enum class PassEnd { Drained, BudgetUsed };

    Lock lockBounded() noexcept;
    bool prepareSocket() noexcept;
    bool broadcast(const RequestText& request) noexcept;
    void receiveLoop() noexcept;
    std::chrono::milliseconds waitTimeout() const noexcept;
    PassEnd receivePass(platform::ReceiveBatch& batch) noexcept;
    void handleBatch(platform::ReceiveBatch& batch) noexcept;
    void noteRead(std::size_t datagrams, Clock::time_point at) noexcept;
    bool inBurst(Clock::time_point now) const noexcept;
    void handleReply(char* data, std::size_t length) noexcept;
    void queueResponse(std::string_view text) noexcept;
    void queueInvalidPassword(std::string_view text) noexcept;
    void queueReconfigured(std::string_view text) noexcept;
    void raise(int code) noexcept;
    void noteDrops(std::optional<std::uint32_t> kernelCount) noexcept;
    std::uint32_t currentDropCount() noexcept;
    void beginRound(Clock::time_point at) noexcept;
    void noteModule(const QORT_ModuleScanResponseType& response) noexcept;
    void repeatScanIfDue() noexcept;
    void releaseUnused() noexcept;

    // Serialises start(), shutdown() and setUp(); never taken by the
    // receive thread, and never held while a thread is joined.
    std::mutex lifecycleMutex_;
    platform::RecursiveTimedMutex mutex_;
    platform::Wakeup wakeup_;
    std::thread receiveThread_;
    std::atomic<bool> initialised_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<QORT_CallBackType> callback_{nullptr};
    // Guarded by lifecycleMutex_: the process that ran setUp() (0 before),
    // and whether a receive thread was ever started. The receive thread's
    // buffers, made by start() before the thread and used by it alone.
    std::uint64_t ownerProcess_ = 0;
    bool everStarted_ = false;
    std::unique_ptr<platform::ReceiveBatch> batch_;

    // Guarded by mutex_.
    platform::UdpSocket socket_;
    std::list<QORT_ModuleScanResponseType> responses_;
    std::list<MacAddress> invalidPasswordMacs_;
    std::list<MacAddress> reconfiguredMacs_;
    std::uint32_t dropsSeen_ = 0;
    std::uint32_t dropsAtSetUp_ = 0;
    std::uint32_t repeatedScans_ = 0;
    std::uint32_t declinedRepeats_ = 0;
    // The latest scan's rounds: when and at which drop count the current
    // round began (and the one before it), the repeats sent so far, the
    // modules seen in the whole scan and how many of them first answered in
    // the current round. When the last datagram was read (written by the
    // receive thread).
    bool scanned_ = false;
    Clock::time_point roundStartedAt_{};
    std::uint32_t dropsAtRoundStart_ = 0;
    std::uint32_t dropsAtPreviousRoundStart_ = 0;
    std::uint32_t repeatsOfScan_ = 0;
    std::set<MacAddress> modulesOfScan_;
    std::size_t newModulesInRound_ = 0;
    bool repeatAllowed_ = false;
    Clock::time_point lastDatagramAt_{};

    // Touched by the receive thread only: when a loss called for a repeat,
    // and when each of the last kBurstDatagrams was read (a ring; the next
    // slot to write holds the oldest).
    std::optional<Clock::time_point> repeatDueSince_;
    std::array<Clock::time_point, kBurstDatagrams> recentReads_{};
    std::size_t nextRecentRead_ = 0;
};

} // namespace qort

#endif
