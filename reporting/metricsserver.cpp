#include "reporting/metricsserver.h"

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <stdexcept>
#include <vector>

namespace reporting {
namespace {

constexpr const char* kMetricsPath = "/metrics";
constexpr const char* kTextFormat = "text/plain; version=0.0.4; charset=utf-8";
constexpr int kMethodNotAllowed = 405;

// httplib's own pool queues accepted connections without limit; this one
// makes the accepting thread wait while kMaxWaitingConnections are queued,
// so a flood of connections waits in the kernel's backlog instead of
// holding descriptors and memory here.
class BoundedPool : public httplib::TaskQueue {
public:
    BoundedPool(std::size_t workers, std::size_t maxWaiting)
        : maxWaiting_(maxWaiting)
    {
        for (std::size_t i = 0; i < workers; ++i)
            workers_.emplace_back([this] { work(); });
    }
    ~BoundedPool() override { shutdown(); }
    BoundedPool(const BoundedPool&) = delete;
    BoundedPool& operator=(const BoundedPool&) = delete;

    void enqueue(std::function<void()> job) override
    {
        std::unique_lock lock(mutex_);
        roomFreed_.wait(lock, [this] { return jobs_.size() < maxWaiting_ || ending_; });
        jobs_.push_back(std::move(job)); // even when ending: the job closes its socket
        jobAdded_.notify_one();
    }

    void shutdown() override
    {
        {
            const std::lock_guard lock(mutex_);
            ending_ = true;
        }
        jobAdded_.notify_all();
        roomFreed_.notify_all();
        for (std::thread& worker : workers_)
            if (worker.joinable())
                worker.join();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                jobAdded_.wait(lock, [this] { return !jobs_.empty() || ending_; });
                if (jobs_.empty())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            roomFreed_.notify_one();
            job();
        }
    }

    const std::size_t maxWaiting_;
    std::mutex mutex_;
    std::condition_variable jobAdded_, roomFreed_;
    std::deque<std::function<void()>> jobs_;
    bool ending_ = false;
    std::vector<std::thread> workers_;
};

void notAllowed(const httplib::Request&, httplib::Response& response)
{
    response.status = kMethodNotAllowed;
    response.set_header("Allow", "GET, HEAD");
}

} // namespace

MetricsServer::MetricsServer(const std::string& site, const std::string& address, std::uint16_t port)
    : snapshot_(std::make_shared<const MetricsSnapshot>(MetricsSnapshot{site, {}, 0, 0, false, {}}))
    , server_(std::make_unique<httplib::Server>())
{
    server_->new_task_queue = [] { return new BoundedPool(kWorkers, kMaxWaitingConnections); };
    server_->set_read_timeout(kClientTimeout);
    server_->set_write_timeout(kClientTimeout);
    server_->set_keep_alive_timeout(kClientTimeout.count());
    server_->set_payload_max_length(kMaxRequestBody);
    server_->Get(kMetricsPath,
        [this](const httplib::Request&, httplib::Response& response) { response.set_content(page(), kTextFormat); });
    server_->Post(kMetricsPath, notAllowed);
    server_->Put(kMetricsPath, notAllowed);
    server_->Patch(kMetricsPath, notAllowed);
    server_->Delete(kMetricsPath, notAllowed);
    server_->Options(kMetricsPath, notAllowed);
    if (!server_->bind_to_port(address, port))
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + " for metrics");
    listener_ = std::thread([this] { server_->listen_after_bind(); });
}

MetricsServer::~MetricsServer()
{
    server_->stop();
    listener_.join();
}

void MetricsServer::scanned(const commissioning::ScanReport& report)
{
    auto snapshot = std::make_shared<const MetricsSnapshot>(metricsSnapshot(report));
    const std::lock_guard lock(mutex_);
    snapshot_ = std::move(snapshot);
}

void MetricsServer::reported(const commissioning::WatchEvent& /*event*/)
{
}

std::string MetricsServer::page() const
{
    std::shared_ptr<const MetricsSnapshot> snapshot;
    {
        const std::lock_guard lock(mutex_);
        snapshot = snapshot_;
    }
    return metricsPage(*snapshot);
}

} // namespace reporting
