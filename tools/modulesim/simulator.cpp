#include "tools/modulesim/simulator.h"

#include "platform/textescape.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace modulesim {

namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
// Any UDP payload fits, so oversized requests are logged whole.
constexpr std::size_t kReceiveBufferSize = 65536;
// Generous kernel buffers: a burst of a thousand replies must not be
// dropped on our side, and our own broadcasts come back to this socket.
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;
// The kernel hands a broadcast back at once; anything older is not an echo.
constexpr auto kEchoLifetime = std::chrono::seconds(2);
constexpr char kReplyTerminator = '\0';

std::string addressText(std::uint32_t address, std::uint16_t port)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "."
        + std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF) + ":" + std::to_string(port);
}

std::int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string datagramLine(std::string_view kind, std::uint32_t address, std::uint16_t port, std::string_view bytes,
    std::size_t length, std::int64_t timestampNs)
{
    return std::string(kind) + " " + addressText(address, port) + " " + std::to_string(length) + " \""
        + platform::escapeBytes(bytes) + "\" t=" + std::to_string(timestampNs);
}

bool setIntOption(int socket, int level, int option, int value)
{
    return ::setsockopt(socket, level, option, &value, sizeof value) == 0;
}

} // namespace

Simulator::Simulator(SimulatorOptions options, std::FILE* log)
    : options_(std::move(options))
    , log_(log)
    , receiveBuffer_(kReceiveBufferSize)
{
    seed_ = options_.seed ? *options_.seed : std::random_device{}();
    random_.seed(seed_);
}

Simulator::~Simulator()
{
    if (socket_ >= 0)
        ::close(socket_);
}

void Simulator::logLine(const std::string& line)
{
    if (logBroken_)
        return;
    // One write per line and a flush: whoever follows the log sees each
    // event as it happens, and lines never interleave.
    const std::string withEnd = line + "\n";
    if (std::fwrite(withEnd.data(), 1, withEnd.size(), log_) != withEnd.size() || std::fflush(log_) != 0)
        logBroken_ = true;
}

bool Simulator::open()
{
    const auto fail = [this](const char* step) {
        logLine(std::string("error ") + step + ": " + std::generic_category().message(errno));
        return false;
    };
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        return fail("socket");
    if (!setIntOption(socket_, SOL_SOCKET, SO_REUSEADDR, 1))
        return fail("SO_REUSEADDR");
    if (!setIntOption(socket_, SOL_SOCKET, SO_BROADCAST, 1))
        return fail("SO_BROADCAST");
    // FORCE variants pass the system ceiling when we may (root in a
    // namespace); otherwise the plain request is capped, which is fine.
    if (!setIntOption(socket_, SOL_SOCKET, SO_RCVBUFFORCE, kSocketBufferBytes))
        setIntOption(socket_, SOL_SOCKET, SO_RCVBUF, kSocketBufferBytes);
    if (!setIntOption(socket_, SOL_SOCKET, SO_SNDBUFFORCE, kSocketBufferBytes))
        setIntOption(socket_, SOL_SOCKET, SO_SNDBUF, kSocketBufferBytes);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(options_.port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return fail("bind");

    logLine("ready port=" + std::to_string(options_.port) + " modules=" + std::to_string(options_.modules.size())
        + " seed=" + std::to_string(seed_));
    return !logBroken_;
}

int Simulator::run(const volatile std::sig_atomic_t* stopRequested, const sigset_t* waitMask)
{
    pollfd watched{socket_, POLLIN, 0};
    std::string reason = "signal";
    while (*stopRequested == 0) {
        if (finished()) {
            reason = "exit-after";
            break;
        }
        if (logBroken_) {
            reason = "log-closed";
            break;
        }
        const int timeoutMs = waitTimeoutMs();
        timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
        const int ready = ::ppoll(&watched, 1, timeoutMs < 0 ? nullptr : &timeout, waitMask);
        if (ready < 0 && errno != EINTR) {
            logLine(std::string("error poll: ") + std::generic_category().message(errno));
            return 1;
        }
        if (ready > 0 && !receiveWaiting())
            return 1;
        sendDue();
        forgetOldEchoes();
    }
    logLine("exit " + reason + " received=" + std::to_string(received_) + " sent=" + std::to_string(sent_));
    return 0;
}

bool Simulator::finished() const
{
    return options_.exitAfter > 0 && received_ >= options_.exitAfter && pending_.empty();
}

int Simulator::waitTimeoutMs() const
{
    if (pending_.empty())
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(pending_.top().due - Clock::now());
    return wait.count() > 0 ? static_cast<int>(wait.count()) : 0;
}

bool Simulator::receiveWaiting()
{
    for (;;) {
        sockaddr_in source{};
        socklen_t sourceLength = sizeof source;
        // MSG_TRUNC: the result is the datagram's real length, even when it
        // did not fit; the log then shows the length and the bytes kept.
        const ssize_t length = ::recvfrom(socket_, receiveBuffer_.data(), receiveBuffer_.size(),
            MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&source), &sourceLength);
        if (length < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return true;
            logLine(std::string("error recv: ") + std::generic_category().message(errno));
            return false;
        }
        const std::int64_t timestampNs = monotonicNs();
        const std::size_t kept = std::min(static_cast<std::size_t>(length), receiveBuffer_.size());
        const std::string_view bytes(receiveBuffer_.data(), kept);
        const std::uint32_t address = ntohl(source.sin_addr.s_addr);
        const std::uint16_t port = ntohs(source.sin_port);
        if (isOwnEcho(bytes, port))
            continue;
        ++received_;
        logLine(datagramLine("recv", address, port, bytes, static_cast<std::size_t>(length), timestampNs));
        handleDatagram(bytes, address, port);
    }
}

void Simulator::handleDatagram(std::string_view bytes, std::uint32_t address, std::uint16_t port)
{
    const Request request = Request::parse(bytes);
    switch (request.kind) {
    case Request::Kind::Scan:
        answerScan(address, port);
        break;
    case Request::Kind::Configure:
        answerConfigure(request, address, port);
        break;
    case Request::Kind::Wink:
        noteWink(request);
        break;
    case Request::Kind::Other:
        break;
    }
}

void Simulator::answerScan(std::uint32_t address, std::uint16_t port)
{
    const int times = options_.answerTwice ? 2 : 1;
    for (int round = 0; round < times; ++round) {
        if (!options_.rawReplies.empty()) {
            for (const std::string& raw : options_.rawReplies)
                schedule(raw, address, port);
            continue;
        }
        for (const SimulatedModule& module : options_.modules)
            schedule(module.scanReply() + kReplyTerminator, address, port);
    }
}

void Simulator::answerConfigure(const Request& request, std::uint32_t address, std::uint16_t port)
{
    for (SimulatedModule& module : options_.modules) {
        if (module.mac() != request.target)
            continue;
        if (!module.answersConfigure()) {
            logLine("ignored " + module.mac().toString());
            continue;
        }
        const auto result = module.configure(request);
        if (result.outcome == SimulatedModule::Outcome::InvalidPassword) {
            logLine("invalid-password " + module.mac().toString() + " " + result.summary);
            schedule(module.invalidPasswordReply() + kReplyTerminator, address, port);
        } else {
            logLine("applied " + module.mac().toString() + (result.summary.empty() ? "" : " ") + result.summary);
            schedule(module.reconfiguredReply() + kReplyTerminator, address, port);
        }
    }
}

void Simulator::noteWink(const Request& request)
{
    for (const SimulatedModule& module : options_.modules)
        if (module.mac() == request.target)
            logLine("wink " + module.mac().toString());
}

void Simulator::schedule(std::string bytes, std::uint32_t address, std::uint16_t port)
{
    auto wait = options_.delay;
    if (options_.jitter.count() > 0) {
        std::uniform_int_distribution<long> extra(0, options_.jitter.count());
        wait += std::chrono::milliseconds(extra(random_));
    }
    Outgoing outgoing;
    outgoing.due = Clock::now() + wait;
    outgoing.sequence = nextSequence_++;
    outgoing.address = options_.unicastReplies ? address : kLimitedBroadcast;
    outgoing.port = options_.unicastReplies ? port : options_.port;
    outgoing.bytes = std::move(bytes);
    pending_.push(std::move(outgoing));
}

void Simulator::sendDue()
{
    const auto now = Clock::now();
    std::vector<Outgoing> due;
    while (!pending_.empty() && pending_.top().due <= now) {
        due.push_back(pending_.top());
        pending_.pop();
    }
    if (options_.burst) {
        // Back to back first, log afterwards: writing a line between two
        // sends would spread the burst out.
        std::vector<Sent> results;
        results.reserve(due.size());
        for (const Outgoing& outgoing : due)
            results.push_back(sendOne(outgoing));
        for (const Sent& sent : results)
            logSent(sent);
        return;
    }
    for (const Outgoing& outgoing : due)
        logSent(sendOne(outgoing));
}

Simulator::Sent Simulator::sendOne(const Outgoing& outgoing)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(outgoing.port);
    target.sin_addr.s_addr = htonl(outgoing.address);
    if (outgoing.address == kLimitedBroadcast)
        expectEcho(outgoing.bytes);
    Sent sent{&outgoing, monotonicNs(), false, 0};
    const ssize_t result = ::sendto(socket_, outgoing.bytes.data(), outgoing.bytes.size(), 0,
        reinterpret_cast<const sockaddr*>(&target), sizeof target);
    sent.ok = result == static_cast<ssize_t>(outgoing.bytes.size());
    sent.error = sent.ok ? 0 : errno;
    return sent;
}

void Simulator::logSent(const Sent& sent)
{
    const Outgoing& outgoing = *sent.outgoing;
    if (!sent.ok) {
        logLine("error send " + addressText(outgoing.address, outgoing.port) + ": "
            + std::generic_category().message(sent.error));
        return;
    }
    ++sent_;
    logLine(
        datagramLine("send", outgoing.address, outgoing.port, outgoing.bytes, outgoing.bytes.size(), sent.timestampNs));
}

// Linux delivers every broadcast we send to our own socket too. Those
// copies are not requests: dropping them keeps the log to what others said,
// and keeps a raw reply that looks like a scan from answering itself.
bool Simulator::isOwnEcho(std::string_view bytes, std::uint16_t port)
{
    if (port != options_.port)
        return false;
    const auto it = expectedEchoes_.find(std::string(bytes));
    if (it == expectedEchoes_.end())
        return false;
    it->second.pop_front();
    if (it->second.empty())
        expectedEchoes_.erase(it);
    return true;
}

void Simulator::expectEcho(const std::string& bytes)
{
    const auto now = Clock::now();
    expectedEchoes_[bytes].push_back(now);
    echoAges_.emplace_back(now, bytes);
}

// Only entries older than the lifetime go: a newer send of the same bytes
// still waits for its own copy.
void Simulator::forgetOldEchoes()
{
    const auto limit = Clock::now() - kEchoLifetime;
    while (!echoAges_.empty() && echoAges_.front().first < limit) {
        const auto it = expectedEchoes_.find(echoAges_.front().second);
        if (it != expectedEchoes_.end()) {
            while (!it->second.empty() && it->second.front() < limit)
                it->second.pop_front();
            if (it->second.empty())
                expectedEchoes_.erase(it);
        }
        echoAges_.pop_front();
    }
}

} // namespace modulesim
