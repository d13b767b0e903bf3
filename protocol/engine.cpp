#include "protocol/engine.h"

#include <cstring>
#include <new>
#include <system_error>

namespace qort {

using platform::UdpSocket;

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
    initialised_ = true;
    Lock lock = lockBounded();
    if (lock.owns_lock() && !prepareSocket())
        socket_.close();
}

bool Engine::prepareSocket() noexcept
{
    // A blocking socket would stall a pass, with the lock held, until the
    // next datagram arrives; so failing to make it non-blocking is as fatal
    // as failing to bind it.
    return socket_.open() && socket_.enableBroadcast() && socket_.setReceiveBufferSize(kReceiveBufferBytes)
        && socket_.bind(kProtocolPort) && socket_.setNonBlocking();
}

int Engine::start() noexcept
{
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
        }
    }
    if (!ticker_.start())
        return 1;
    try {
        receiveThread_ = std::thread(&Engine::receiveLoop, this);
    } catch (const std::system_error&) {
        ticker_.stop();
    }
    return 1;
}

void Engine::stopThreads() noexcept
{
    stopping_ = true;
    if (receiveThread_.joinable()) {
        // The process may end from inside the callback (exit() on the
        // receive thread); a thread cannot join itself.
        if (receiveThread_.get_id() == std::this_thread::get_id())
            receiveThread_.detach();
        else
            receiveThread_.join();
    }
    ticker_.stop();
}

void Engine::shutdown() noexcept
{
    std::lock_guard lifecycle(lifecycleMutex_);
    initialised_ = false;
    stopThreads();
    // Another thread of the program may still be inside a send; if it keeps
    // the lock past the bound the descriptor is left to the process's end
    // rather than closed under it.
    Lock lock = lockBounded();
    if (lock.owns_lock())
        socket_.close();
}

bool Engine::broadcast(const RequestText& request) noexcept
{
    return socket_.sendTo(UdpSocket::kLimitedBroadcastAddress, kProtocolPort, request.data(), request.sizeWithNul());
}

int Engine::sendModuleScan() noexcept
{
    Lock lock = lockBounded();
    if (!lock.owns_lock())
        return 0;
    return broadcast(buildScanRequest()) ? 1 : 0;
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

void Engine::receiveLoop() noexcept
{
    while (!stopping_) {
        if (mutex_.try_lock_for(kLockTimeout)) {
            receivePass();
            mutex_.unlock();
        }
        // Bounded as well, so the socket is looked at about once a
        // millisecond even when a tick is late.
        pollEvent_.waitFor(kPollPeriod);
    }
}

// Drains the socket by reading until it reports that nothing waits. (Asking
// for the waiting byte count first does not work on Linux: FIONREAD on a
// datagram socket gives the size of the next datagram only, which is 0 for
// an empty one, and a pass driven by it would stop in front of that empty
// datagram while replies wait behind it.)
void Engine::receivePass() noexcept
{
    while (!stopping_) {
        const auto result = socket_.receiveFrom(receiveBuffer_.data(), kMaxReplyLength);
        switch (result.status) {
        case UdpSocket::ReceiveStatus::Received:
            if (result.length > 0)
                handleReply(result.length);
            break;
        case UdpSocket::ReceiveStatus::Truncated:
            break; // longer than any reply: discarded whole
        case UdpSocket::ReceiveStatus::WouldBlock:
            return;
        case UdpSocket::ReceiveStatus::Error:
            // The failed read consumed nothing that could be retried now; a
            // lasting fault (no socket) must not keep the pass spinning
            // with the lock held. The next pass looks again.
            return;
        }
    }
}

void Engine::handleReply(std::size_t length) noexcept
{
    receiveBuffer_[length] = '\0';
    const std::string_view text(receiveBuffer_.data(), ::strnlen(receiveBuffer_.data(), length));
    switch (classifyReply(text)) {
    case ReplyKind::Reconfigured:
        raise(QORT_CB_RECONFIGURED);
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
        responses_.push_back(parseScanReply(text));
    } catch (const std::bad_alloc&) {
        return;
    }
    raise(QORT_CB_RESPONSE);
}

void Engine::queueInvalidPassword(std::string_view text) noexcept
{
    try {
        invalidPasswordMacs_.push_back(parseInvalidPasswordReply(text));
    } catch (const std::bad_alloc&) {
        return;
    }
    raise(QORT_CB_INVALID_PASSWORD);
}

// Called with the lock held and after the entry was queued, so the program
// can already take the entry when it reacts.
void Engine::raise(int code) noexcept
{
    if (const QORT_CallBackType callback = callback_.load())
        callback(code);
}

} // namespace qort
