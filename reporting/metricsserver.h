#ifndef REPORTING_METRICSSERVER_H
#define REPORTING_METRICSSERVER_H

#include "commissioning/watch.h"
#include "reporting/basicauth.h"
#include "reporting/webconfig.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct mg_context;
struct mg_connection;

namespace reporting {

// Serves GET (and HEAD) /metrics, the Prometheus text format (see
// metricspage.h), on ADDR:PORT with civetweb; any other method gets 405,
// any other path 404. With a web configuration (webconfig.h) it speaks
// only TLS and asks for a login before anything else.
//
// What no client can do to it: every connection is one request (no
// keep-alive), and that request has one deadline for all of it - the TLS
// handshake and the request's header - after which it is cut; the header
// may be kMaxRequestHeader bytes at most. A few workers serve, so clients
// that send a byte now and then hold a worker each for kRequestDeadline at
// most and the others still answer. The page is built once per scan, in
// scanned(), and a request only copies a pointer to it. The destructor
// cuts every connection in progress and ends within a fraction of a second
// at any moment, also right after the constructor.
class MetricsServer : public commissioning::WatchSink {
public:
    static constexpr int kWorkers = 4;
    static constexpr std::chrono::milliseconds kRequestDeadline{5000};
    static constexpr std::size_t kMaxRequestHeader = 8192;

    // Binds at once: throws std::runtime_error when ADDR:PORT cannot be had
    // or the TLS files cannot be used.
    MetricsServer(
        const std::string& site, const std::string& address, std::uint16_t port, const WebConfig& webConfig = {});
    ~MetricsServer() override;
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    void scanned(const commissioning::ScanReport& report) override;
    void reported(const commissioning::WatchEvent& event) override;

private:
    static int handle(mg_connection* connection, void* server);
    static int initTls(void* sslContext, void* server);
    static void connectionClosing(const mg_connection* connection);
    int serve(mg_connection* connection);
    std::shared_ptr<const std::string> page() const;
    void cutConnections();

    const std::uint16_t port_;
    const WebConfig webConfig_;
    BasicAuth auth_;
    std::string tlsError_; // what the TLS set-up found wrong, for the constructor's exception

    mutable std::mutex pageMutex_;
    std::shared_ptr<const std::string> page_;
    // Held while the destructor cuts the connections: a worker closing one
    // waits for it, so no descriptor it looks at is closed and reused meanwhile.
    std::mutex cuttingMutex_;
    mg_context* context_ = nullptr;
};

} // namespace reporting

#endif
