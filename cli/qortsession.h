#ifndef CLI_QORTSESSION_H
#define CLI_QORTSESSION_H

#include "cli/qortlibrary.h"
#include "modules/macaddress.h"
#include "modules/modulestore.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace cli {

// One run of the command line against libqort: registers the callback,
// starts the library and turns its notices into bounded waits on the main
// thread. The callback runs on the library's receive thread with the
// library lock held, so it only queues the notice's code; every record is
// taken on the main thread, as the window does.
class QortSession {
public:
    enum class ConfigureAnswer { kReconfigured, kInvalidPassword, kNone };

    explicit QortSession(const QortLibrary& library);
    ~QortSession();
    QortSession(const QortSession&) = delete;
    QortSession& operator=(const QortSession&) = delete;

    // QORT_Start; false when the library could not start.
    bool start();

    // Broadcasts one scan and stores each module's first reply (as the
    // window's list keeps the first reply of a MAC) until `wait` has passed
    // or, when given, `done` says the replies so far are enough. False when
    // the scan could not be sent.
    bool scan(std::chrono::milliseconds wait, modules::ModuleStore& modules,
        const std::function<bool(const modules::ModuleStore&)>& done = {});

    // Sends the request and waits up to `wait` for its module's answer:
    // "Reconfigured:" or "Invalid Password:" naming the request's MAC (an
    // answer whose MAC cannot be read counts as the one request's). Queued
    // answers of other modules (another computer on the segment sees every
    // broadcast) are dropped on the way.
    ConfigureAnswer configure(const QORT_ConfigureRequestType& request, std::chrono::milliseconds wait);

    // What came back for a batch of requests, each answer named by the MAC
    // it carries; answers of modules outside the batch (or whose MAC cannot
    // be read) are left out, so a module that did not answer is never
    // taken for one that did.
    struct BatchAnswers {
        std::vector<modules::MacAddress> reconfigured;
        std::vector<modules::MacAddress> invalidPassword;
        std::size_t total() const { return reconfigured.size() + invalidPassword.size(); }
    };
    using BatchProgress = std::function<void(const BatchAnswers&)>;

    // Sends every request at once, without waiting for an answer in
    // between, then collects answers until each request has one or `wait`
    // has passed. Invalid-password entries of MACs outside the batch are
    // dropped. `progress` (when given) sees the answers after each one.
    BatchAnswers configureAll(const std::vector<QORT_ConfigureRequestType>& requests, std::chrono::milliseconds wait,
        const BatchProgress& progress = {});

    void wink(const modules::MacAddress& mac);

    // Ends a scan's wait for the next reply at once, so that its `done` is
    // asked again (a stop request of a long-running command). Any thread.
    static void wake();

private:
    // The oldest queued notice code, waiting until deadline at most.
    std::optional<int> nextNotice(std::chrono::steady_clock::time_point deadline);
    void discardNotices();
    // True when an entry for mac was found (and removed); entries ahead of
    // it, which are other modules', are removed too.
    bool takeInvalidPassword(const modules::MacAddress& mac);
    // Likewise for "Reconfigured:" entries; an unreadable MAC matches too.
    bool takeReconfigured(const modules::MacAddress& mac);
    // Empties both answer queues: what is queued before a send is no
    // answer to it.
    void dropQueuedAnswers();

    const QortLibrary& library_;
};

} // namespace cli

#endif
