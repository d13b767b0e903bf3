#ifndef REPORTING_METRICSSERVER_H
#define REPORTING_METRICSSERVER_H

#include "commissioning/watch.h"
#include "reporting/metricspage.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace reporting {

// Serves GET /metrics (the Prometheus text format, see metricspage.h) on
// ADDR:PORT; any other method on it gets 405, any other path 404. scanned()
// only swaps in a copy of the report under a mutex; the page is built from
// that copy on a worker thread. A few workers and a short queue serve the
// requests, and every read, write and idle connection is cut after
// kClientTimeout, so slow or hostile clients can at worst keep the page from
// other clients for a while, never hold up the scans or the agent's end.
class MetricsServer : public commissioning::WatchSink {
public:
    static constexpr std::size_t kWorkers = 2;
    static constexpr std::size_t kMaxWaitingConnections = 8;
    static constexpr std::chrono::seconds kClientTimeout{1};
    static constexpr std::size_t kMaxRequestBody = 1024;

    // Binds at once: throws std::runtime_error when ADDR:PORT cannot be had.
    MetricsServer(const std::string& site, const std::string& address, std::uint16_t port);
    ~MetricsServer() override;
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    void scanned(const commissioning::ScanReport& report) override;
    void reported(const commissioning::WatchEvent& event) override;

private:
    std::string page() const;

    mutable std::mutex mutex_;
    std::shared_ptr<const MetricsSnapshot> snapshot_;
    std::unique_ptr<httplib::Server> server_;
    std::thread listener_;
};

} // namespace reporting

#endif
