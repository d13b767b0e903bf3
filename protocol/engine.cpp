#include "protocol/engine.h"

#include "platform/networkadapters.h"
#include "platform/processid.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace qort {

using platform::UdpSocket;

namespace {

// The engine whose receive thread this is (none on other threads): a start
// from inside the callback must not wait for the lifecycle lock, which the
// unload step may hold while it stops this very thread.
thread_local const Engine* receivingEngine = nullptr;

// Without a wake-up descriptor the wait still ends this often, so that a
// stop is noticed.
constexpr std::chrono::milliseconds kFallbackWakeInterval{100};
constexpr std::chrono::milliseconds kWaitWithoutEnd{-1};

} // namespace

Engine::~Engine()
{
    shutdown();
}

Engine::Lock Engine::lockBounded() noexcept
{
    return Lock(mutex_, kLockTimeout);
}

void Engine::setUp() noexcept
{
    std::lock_guard lifecycle(lifecycleMutex_);
    callback_ = nullptr;
    stopping_ = false;
    wakeup_.clear();
    ownerProcess_ = platform::currentProcessId();
    initialised_ = true;
    Lock lock = lockBounded();
    if (!lock.owns_lock())
        return;
    if (!prepareSocket())
        socket_.close();
    dropsAtSetUp_ = dropsSeen_ = socket_.dropCount().value_or(0);
}

bool Engine::prepareSocket() noexcept
{
    // A blocking socket would stall a pass, with the lock held, until the
    // next datagram arrives; so failing to make it non-blocking is as fatal
    // as failing to bind it. Drop counting only informs: without it the
    // engine works, it just cannot notice lost replies.
    const bool ready = socket_.open() && socket_.enableBroadcast() && socket_.setReceiveBufferSize(kReceiveBufferBytes)
        && socket_.bind(kProtocolPort) && socket_.setNonBlocking();
    if (ready)
        socket_.enableDropCounting();
    return ready;
}

int Engine::start() noexcept
{
    if (receivingEngine == this)
        return initialised_ && !stopping_ ? 1 : 0;
    std::lock_guard lifecycle(lifecycleMutex_);
    if (!initialised_)
        return 0;
    if (receiveThread_.joinable())
        return 1;
    {
        Lock lock = lockBounded();
        if (lock.owns_lock()) {
            responses_.clear();
            invalidPasswordMacs_.clear();
            reconfiguredMacs_.clear();
        }
    }
    try {
        // Made with the thread rather than with the engine, so that a
        // library that is never started never holds these buffers (some
        // 100 KB).
        if (!batch_)
            batch_ = std::make_unique<platform::ReceiveBatch>(kBatchSlots, kMaxReplyLength);
        receiveThread_ = std::thread(&Engine::receiveLoop, this);
        everStarted_ = true;
    } catch (const std::bad_alloc&) {
    } catch (const std::system_error&) {
    }
    return 1;
}

void Engine::shutdown() noexcept
{
    std::thread receiver;
    bool neverStarted = false;
    {
        std::lock_guard lifecycle(lifecycleMutex_);
        if (ownerProcess_ != 0 && ownerProcess_ != platform::currentProcessId())
            return;
        neverStarted = !everStarted_;
        initialised_ = false;
        stopping_ = true;
        wakeup_.wake();
        receiver = std::move(receiveThread_);
    }
    // Joined with no lock held: the thread may be inside the callback, and
    // the callback may call any function of the library.
    if (receiver.joinable()) {
        // The process may end from inside the callback (exit() on the
        // receive thread); a thread cannot join itself.
        if (receiver.get_id() == std::this_thread::get_id())
            receiver.detach();
        else
            receiver.join();
    }
    // Another thread of the program may still be inside a send; if it keeps
    // the lock past the bound the descriptor is left to the process's end
    // rather than closed under it.
    Lock lock = lockBounded();
    if (!lock.owns_lock())
        return;
    socket_.close();
    if (neverStarted)
        releaseUnused();
}

// Only without a receive thread: a detached one (the process ending from
// inside the callback) still waits on the descriptor.
void Engine::releaseUnused() noexcept
{
    wakeup_.release();
    responses_.clear();
    invalidPasswordMacs_.clear();
    reconfiguredMacs_.clear();
    modulesOfScan_.clear();
}

// The limited broadcast leaves Linux only through the adapter of the
// routing table's choice, so it is sent once per usable adapter, each time
// naming the adapter and its address (IP_PKTINFO on the one socket bound to
// the protocol port). Replies come back to that socket whatever the adapter.
bool Engine::broadcast(const RequestText& request) noexcept
{
    std::vector<platform::NetworkAdapter> adapters;
    try {
        adapters = platform::NetworkAdapters::usable();
    } catch (const std::bad_alloc&) {
        return false;
    }
    bool sentOnce = false;
    for (const auto& adapter : adapters)
        sentOnce |= socket_.sendToVia(adapter.index, adapter.ipv4, UdpSocket::kLimitedBroadcastAddress, kProtocolPort,
            request.data(), request.sizeWithNul());
    return sentOnce;
}

int Engine::sendModuleScan() noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock())
        return 0;
    responses_.clear();
    const bool sent = broadcast(buildScanRequest());
    if (sent) {
        scanned_ = true;
        repeatsOfScan_ = 0;
        modulesOfScan_.clear();
        beginRound(Clock::now());
    }
    return sent ? 1 : 0;
}

// Every round counts its own losses and its own new modules.
void Engine::beginRound(Clock::time_point at) noexcept
{
    roundStartedAt_ = at;
    dropsSeen_ = currentDropCount();
    dropsAtPreviousRoundStart_ = repeatsOfScan_ == 0 ? dropsSeen_ : dropsAtRoundStart_;
    dropsAtRoundStart_ = dropsSeen_;
    newModulesInRound_ = 0;
    repeatAllowed_ = true;
}

// The kernel's counter as read now, never behind what a datagram reported.
std::uint32_t Engine::currentDropCount() noexcept
{
    const std::optional<std::uint32_t> now = socket_.dropCount();
    return now && *now - dropsSeen_ < (1u << 31) ? *now : dropsSeen_;
}

void Engine::sendConfigure(const QORT_ConfigureRequestType& request) noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock())
        return;
    if (const auto text = buildConfigureRequest(request))
        broadcast(*text);
}

void Engine::sendWink(const QORT_ConfigureRequestType& request) noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock())
        return;
    broadcast(buildWinkRequest(request));
}

void Engine::registerCallback(QORT_CallBackType callback) noexcept
{
    callback_ = callback;
}

int Engine::takeResponse(QORT_ModuleScanResponseType& response) noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock() || responses_.empty())
        return 0;
    response = responses_.front();
    responses_.pop_front();
    return 1;
}

int Engine::peekInvalidPasswordMac(std::uint8_t* mac) noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock() || invalidPasswordMacs_.empty())
        return 0;
    std::memcpy(mac, invalidPasswordMacs_.front().data(), QORT_MAC_SIZE);
    return 1;
}

void Engine::dropInvalidPasswordMac() noexcept
{
    Lock lock = lockBounded();
    if (lock.owns_lock() && !invalidPasswordMacs_.empty())
        invalidPasswordMacs_.pop_front();
}

int Engine::peekReconfiguredMac(std::uint8_t* mac) noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock() || reconfiguredMacs_.empty())
        return 0;
    std::memcpy(mac, reconfiguredMacs_.front().data(), QORT_MAC_SIZE);
    return 1;
}

void Engine::dropReconfiguredMac() noexcept
{
    Lock lock = lockBounded();
    if (lock.owns_lock() && !reconfiguredMacs_.empty())
        reconfiguredMacs_.pop_front();
}

std::uint32_t Engine::lostReplies() noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock() || !scanned_)
        return 0;
    const auto now = Clock::now();
    const bool roundSettled = now - std::max(roundStartedAt_, lastDatagramAt_) >= kRepeatQuietTime;
    return currentDropCount() - (roundSettled ? dropsAtRoundStart_ : dropsAtPreviousRoundStart_);
}

std::uint32_t Engine::droppedDatagrams() noexcept
{
    Lock lock = lockBounded();
    return lock.owns_lock() ? dropsSeen_ - dropsAtSetUp_ : 0;
}

std::uint32_t Engine::repeatedScans() noexcept
{
    Lock lock = lockBounded();
    return lock.owns_lock() ? repeatedScans_ : 0;
}

std::uint32_t Engine::declinedRepeats() noexcept
{
    Lock lock = lockBounded();
    return lock.owns_lock() ? declinedRepeats_ : 0;
}

// Waits without end while nothing is due: an idle engine costs nothing.
std::chrono::milliseconds Engine::waitTimeout() const noexcept
{
    if (!wakeup_.isValid())
        return kFallbackWakeInterval;
    if (!repeatDueSince_)
        return kWaitWithoutEnd;
    return kRepeatQuietTime;
}

void Engine::receiveLoop() noexcept
{
    receivingEngine = this;
    bool lastPassDrained = true;
    while (!stopping_) {
        // The socket is read without the library lock: waiting changes
        // nothing that the lock guards.
        const auto woke = socket_.waitReadable(wakeup_, waitTimeout());
        if (stopping_)
            break;
        if (woke == UdpSocket::WaitResult::Error) {
            // A lasting fault must not turn into a busy loop.
            std::this_thread::sleep_for(kFallbackWakeInterval);
            continue;
        }
        // Only after a pass that emptied the socket: one that ended on its
        // budget left datagrams waiting, to be read without delay.
        if (woke == UdpSocket::WaitResult::Readable && lastPassDrained && inBurst(Clock::now()))
            std::this_thread::sleep_for(kBurstCoalesce);
        Lock lock = lockBounded();
        if (!lock.owns_lock())
            continue;
        const PassEnd end = woke == UdpSocket::WaitResult::Readable ? receivePass(*batch_) : PassEnd::Drained;
        // Drops after the last datagram that carried the counter (typically
        // the tail of a burst) are read directly after every pass while a
        // scan could still be repeated for them: the pass that reads the
        // last datagram may end on its budget, and no datagram may follow
        // to report them. Otherwise the counter carried by the datagrams
        // suffices, and a wake-up costs one system call less.
        if (repeatAllowed_)
            noteDrops(socket_.dropCount());
        repeatScanIfDue();
        lock.unlock();
        lastPassDrained = end == PassEnd::Drained;
        if (end == PassEnd::BudgetUsed)
            mutex_.yieldToWaiters(kYieldBound);
    }
    receivingEngine = nullptr;
}

// Drains the socket, in batches, up to the pass's budget. (Asking for the
// waiting byte count first does not work on Linux: FIONREAD on a datagram
// socket gives the size of the next datagram only, which is 0 for an empty
// one, and a pass driven by it would stop in front of that empty datagram
// while replies wait behind it.)
Engine::PassEnd Engine::receivePass(platform::ReceiveBatch& batch) noexcept
{
    const auto deadline = Clock::now() + kPassTimeBudget;
    std::size_t handled = 0;
    while (!stopping_) {
        const auto status = socket_.receiveBatch(batch);
        if (status != UdpSocket::ReceiveStatus::Received) {
            // WouldBlock: drained. Error: the failed read consumed nothing
            // that could be retried now; the next wake-up looks again.
            return PassEnd::Drained;
        }
        noteDrops(batch.dropCount());
        handleBatch(batch);
        lastDatagramAt_ = Clock::now();
        noteRead(batch.count(), lastDatagramAt_);
        handled += batch.count();
        // A batch that did not fill up emptied the socket: asking again
        // would cost a system call per wake-up for nothing.
        if (batch.count() < batch.slotCount())
            return PassEnd::Drained;
        if (handled >= kMaxDatagramsPerPass || lastDatagramAt_ >= deadline)
            return PassEnd::BudgetUsed;
    }
    return PassEnd::Drained;
}

// A batch's datagrams count as read at the same moment; more than the
// ring holds would only overwrite each other.
void Engine::noteRead(std::size_t datagrams, Clock::time_point at) noexcept
{
    for (std::size_t i = 0; i < std::min(datagrams, kBurstDatagrams); ++i) {
        recentReads_[nextRecentRead_] = at;
        nextRecentRead_ = (nextRecentRead_ + 1) % kBurstDatagrams;
    }
}

// The oldest of the last kBurstDatagrams reads is recent: a burst is on.
bool Engine::inBurst(Clock::time_point now) const noexcept
{
    return now - recentReads_[nextRecentRead_] < kBurstWindow;
}

void Engine::handleBatch(platform::ReceiveBatch& batch) noexcept
{
    for (std::size_t i = 0; i < batch.count() && !stopping_; ++i) {
        const auto& datagram = batch.datagram(i);
        // Longer than any reply: discarded whole. Empty: nothing to read.
        if (!datagram.truncated && datagram.length > 0)
            handleReply(batch.data(i), datagram.length);
    }
}

void Engine::handleReply(char* data, std::size_t length) noexcept
{
    data[length] = '\0';
    const std::string_view text(data, ::strnlen(data, length));
    switch (classifyReply(text)) {
    case ReplyKind::Reconfigured:
        queueReconfigured(text);
        break;
    case ReplyKind::InvalidPassword:
        queueInvalidPassword(text);
        break;
    case ReplyKind::OwnScanEcho:
        break;
    case ReplyKind::ScanReply:
        queueResponse(text);
        break;
    }
}

// A reply that cannot be queued for want of memory is dropped without a
// code: a code promises the program an entry to take.
void Engine::queueResponse(std::string_view text) noexcept
{
    try {
        if (responses_.size() >= kMaxQueuedResponses)
            responses_.pop_front();
        responses_.push_back(parseScanReply(text));
        noteModule(responses_.back());
    } catch (const std::bad_alloc&) {
        return;
    }
    raise(QORT_CB_RESPONSE);
}

// A reply without a MAC cannot be told from another one: it is no module
// of its own (the program's list gives it no row either).
void Engine::noteModule(const QORT_ModuleScanResponseType& response) noexcept
{
    if (response.MacIdValid != 1)
        return;
    if (modulesOfScan_.size() >= kMaxTrackedModules) {
        ++newModulesInRound_;
        return;
    }
    MacAddress mac;
    std::copy(std::begin(response.MacId), std::end(response.MacId), mac.begin());
    try {
        if (modulesOfScan_.insert(mac).second)
            ++newModulesInRound_;
    } catch (const std::bad_alloc&) {
        ++newModulesInRound_;
    }
}

void Engine::queueInvalidPassword(std::string_view text) noexcept
{
    try {
        if (invalidPasswordMacs_.size() >= kMaxQueuedInvalidPasswords)
            invalidPasswordMacs_.pop_front();
        invalidPasswordMacs_.push_back(parseInvalidPasswordReply(text));
    } catch (const std::bad_alloc&) {
        return;
    }
    raise(QORT_CB_INVALID_PASSWORD);
}

// The code is raised even when the MAC could not be kept (no memory): the
// answer came, only its name is lost, as before the queue existed.
void Engine::queueReconfigured(std::string_view text) noexcept
{
    try {
        if (reconfiguredMacs_.size() >= kMaxQueuedReconfigured)
            reconfiguredMacs_.pop_front();
        reconfiguredMacs_.push_back(parseReconfiguredReply(text));
    } catch (const std::bad_alloc&) {
    }
    raise(QORT_CB_RECONFIGURED);
}

// Called with the lock held and after the entry was queued, so the program
// can already take the entry when it reacts.
void Engine::raise(int code) noexcept
{
    if (const QORT_CallBackType callback = callback_.load())
        callback(code);
}

// The kernel's drop counter only grows (it wraps after 2^32 drops, which
// the unsigned difference absorbs).
void Engine::noteDrops(std::optional<std::uint32_t> kernelCount) noexcept
{
    if (!kernelCount || *kernelCount == dropsSeen_ || *kernelCount - dropsSeen_ > (1u << 31))
        return;
    dropsSeen_ = *kernelCount;
    const auto now = Clock::now();
    if (repeatAllowed_ && now - roundStartedAt_ < kRepeatWindow && !repeatDueSince_) {
        repeatAllowed_ = false;
        repeatDueSince_ = now;
    }
}

// Decided once the port went quiet after a round that lost replies: by
// then the round's new modules are all in.
void Engine::repeatScanIfDue() noexcept
{
    if (!repeatDueSince_)
        return;
    const auto now = Clock::now();
    if (now - lastDatagramAt_ < kRepeatQuietTime && now - *repeatDueSince_ < kRepeatLatest)
        return;
    repeatDueSince_.reset();
    const bool repeatStillHelps = repeatsOfScan_ == 0 || newModulesInRound_ > 0;
    if (repeatsOfScan_ >= kMaxRepeats || !repeatStillHelps) {
        ++declinedRepeats_;
        return;
    }
    if (broadcast(buildScanRequest())) {
        ++repeatedScans_;
        ++repeatsOfScan_;
        beginRound(Clock::now());
    }
}

} // namespace qort
