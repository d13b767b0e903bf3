#include "cli/qortsession.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace cli {
namespace {

constexpr int kWakeNotice = -1;

// The notices of the one session of this process. Reached by the library's
// thread until the process ends, also while static objects are destroyed,
// so it is never destroyed.
struct NoticeQueue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<int> codes;
};

NoticeQueue& notices()
{
    static NoticeQueue* queue = new NoticeQueue;
    return *queue;
}

void onLibraryNotice(int code)
{
    NoticeQueue& queue = notices();
    {
        std::lock_guard lock(queue.mutex);
        queue.codes.push_back(code);
    }
    queue.arrived.notify_one();
}

} // namespace

QortSession::QortSession(const QortLibrary& library)
    : library_(library)
{
    library_.registerCallBack(onLibraryNotice);
}

QortSession::~QortSession()
{
    library_.registerCallBack(nullptr);
}

bool QortSession::start()
{
    return library_.start() == 1;
}

std::optional<int> QortSession::nextNotice(std::chrono::steady_clock::time_point deadline)
{
    // wait_until takes a waiting notice even past the deadline, and under a
    // flood one always waits.
    if (std::chrono::steady_clock::now() >= deadline)
        return std::nullopt;
    NoticeQueue& queue = notices();
    std::unique_lock lock(queue.mutex);
    if (!queue.arrived.wait_until(lock, deadline, [&queue] { return !queue.codes.empty(); }))
        return std::nullopt;
    const int code = queue.codes.front();
    queue.codes.pop_front();
    return code;
}

void QortSession::discardNotices()
{
    NoticeQueue& queue = notices();
    std::lock_guard lock(queue.mutex);
    queue.codes.clear();
}

bool QortSession::scan(std::chrono::milliseconds wait, modules::ModuleStore& modules,
    const std::function<bool(const modules::ModuleStore&)>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    if (library_.sendModuleScan() != 1)
        return false;
    while (!(done && done(modules))) {
        const std::optional<int> code = nextNotice(deadline);
        if (!code)
            break;
        if (*code != QORT_CB_RESPONSE)
            continue;
        // A flood keeps the queue full: the deadline bounds the taking too.
        QORT_ModuleScanResponseType record;
        while (std::chrono::steady_clock::now() < deadline && library_.getResponse(&record) == 1) {
            // A reply without a MAC cannot be told apart from another one
            // and gets no row in the window either.
            if (record.MacIdValid != 0 && !modules.Contains(modules::macOfRecord(record)))
                modules.Append(record);
        }
    }
    return true;
}

bool QortSession::takeInvalidPassword(const modules::MacAddress& mac)
{
    modules::MacAddress queued{};
    while (library_.getInvPswdMacId(queued.data()) == 1) {
        library_.removeFirstInvPswdMacId();
        if (queued == mac)
            return true;
    }
    return false;
}

bool QortSession::takeReconfigured(const modules::MacAddress& mac)
{
    constexpr modules::MacAddress kUnreadable = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    modules::MacAddress queued{};
    while (library_.getReconfiguredMacId(queued.data()) == 1) {
        library_.removeFirstReconfiguredMacId();
        if (queued == mac || queued == kUnreadable)
            return true;
    }
    return false;
}

void QortSession::dropQueuedAnswers()
{
    std::uint8_t stale[QORT_MAC_SIZE];
    while (library_.getInvPswdMacId(stale) == 1)
        library_.removeFirstInvPswdMacId();
    while (library_.getReconfiguredMacId(stale) == 1)
        library_.removeFirstReconfiguredMacId();
}

QortSession::ConfigureAnswer QortSession::configure(
    const QORT_ConfigureRequestType& request, std::chrono::milliseconds wait)
{
    modules::MacAddress mac;
    std::copy(std::begin(request.MacId), std::end(request.MacId), mac.begin());
    // Answers that came before this request are not its answers.
    dropQueuedAnswers();
    discardNotices();

    const auto deadline = std::chrono::steady_clock::now() + wait;
    library_.sendConfigure(&request);
    while (const std::optional<int> code = nextNotice(deadline)) {
        if (*code == QORT_CB_RECONFIGURED && takeReconfigured(mac))
            return ConfigureAnswer::kReconfigured;
        if (*code == QORT_CB_INVALID_PASSWORD && takeInvalidPassword(mac))
            return ConfigureAnswer::kInvalidPassword;
    }
    return ConfigureAnswer::kNone;
}

void QortSession::wake()
{
    // No notice code of the library: the scan loop takes it as "ask again".
    onLibraryNotice(kWakeNotice);
}

QortSession::BatchAnswers QortSession::configureAll(const std::vector<QORT_ConfigureRequestType>& requests,
    std::chrono::milliseconds wait, const BatchProgress& progress)
{
    std::vector<modules::MacAddress> batch;
    for (const QORT_ConfigureRequestType& request : requests) {
        modules::MacAddress mac;
        std::copy(std::begin(request.MacId), std::end(request.MacId), mac.begin());
        batch.push_back(mac);
    }
    dropQueuedAnswers();
    discardNotices();

    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (const QORT_ConfigureRequestType& request : requests)
        library_.sendConfigure(&request);
    BatchAnswers answers;
    while (answers.total() < requests.size()) {
        const std::optional<int> code = nextNotice(deadline);
        if (!code)
            break;
        // A module answers once; a later answer of the same module (its
        // request seen on two adapters) adds nothing.
        const auto take = [&batch, &answers](
                              const modules::MacAddress& queued, std::vector<modules::MacAddress>& into) {
            const bool ours = std::find(batch.begin(), batch.end(), queued) != batch.end();
            const auto known = [&queued](const std::vector<modules::MacAddress>& list) {
                return std::find(list.begin(), list.end(), queued) != list.end();
            };
            if (ours && !known(answers.reconfigured) && !known(answers.invalidPassword))
                into.push_back(queued);
        };
        modules::MacAddress queued{};
        while (*code == QORT_CB_RECONFIGURED && library_.getReconfiguredMacId(queued.data()) == 1) {
            library_.removeFirstReconfiguredMacId();
            take(queued, answers.reconfigured);
        }
        while (*code == QORT_CB_INVALID_PASSWORD && library_.getInvPswdMacId(queued.data()) == 1) {
            library_.removeFirstInvPswdMacId();
            take(queued, answers.invalidPassword);
        }
        if (progress)
            progress(answers);
    }
    return answers;
}

void QortSession::wink(const modules::MacAddress& mac)
{
    QORT_ConfigureRequestType request;
    std::memset(&request, 0, sizeof request);
    std::copy(mac.begin(), mac.end(), request.MacId);
    library_.sendWink(&request);
}

} // namespace cli
