#ifndef CLI_QORTSESSION_H
#define CLI_QORTSESSION_H

#include "cli/qortlibrary.h"
#include "modules/macaddress.h"
#include "modules/modulestore.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

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
    // "Reconfigured:", or "Invalid Password:" for the request's MAC. Queued
    // invalid-password entries of other modules (another computer on the
    // segment sees every broadcast) are dropped on the way.
    ConfigureAnswer configure(const QORT_ConfigureRequestType& request, std::chrono::milliseconds wait);

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

    const QortLibrary& library_;
};

// The loaded library and a started session.
struct Connection {
    std::optional<QortLibrary> library;
    std::unique_ptr<QortSession> session;
};

} // namespace cli

#endif
