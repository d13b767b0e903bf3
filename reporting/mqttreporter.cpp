#include "reporting/mqttreporter.h"

#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>
#include <vector>

namespace reporting {
namespace {

constexpr int kQosAtLeastOnce = 1;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

// The library keeps process-wide state (its socket layer); set up once,
// never torn down while a reporter may still exist.
void initialiseLibraryOnce()
{
    static const int result = mosquitto_lib_init();
    if (result != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("the MQTT library did not start");
}

std::string checkedSite(std::string site)
{
    if (site.empty() || site.find_first_of(std::string("/+#\0", 4)) != std::string::npos)
        throw std::invalid_argument("the site name '" + site + "' cannot be an MQTT topic level (no /, + or #)");
    return site;
}

std::string recordPayload(const nlohmann::ordered_json& record)
{
    // Module texts are outside input: bytes that are no UTF-8 become U+FFFD
    // rather than an exception on the watch loop's thread.
    return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace

MqttReporter::MqttReporter(std::string site, std::string host, std::uint16_t port)
    : site_(checkedSite(std::move(site)))
    , host_(std::move(host))
    , port_(port)
    , statusTopic_("sorvinda/" + site_ + "/status")
    , eventsTopic_("sorvinda/" + site_ + "/events")
{
    initialiseLibraryOnce();
    if (mosquitto_pub_topic_check2(statusTopic_.c_str(), statusTopic_.size()) != MOSQ_ERR_SUCCESS)
        throw std::invalid_argument("the site name '" + site_ + "' is no valid MQTT topic text");
    // A generated client id with a clean session: two agents never push each
    // other off the broker, and nothing is kept for an agent that is gone.
    client_ = mosquitto_new(nullptr, true, this);
    if (client_ == nullptr)
        throw std::runtime_error("could not make an MQTT client");
    mosquitto_connect_callback_set(client_, &MqttReporter::onConnect);
    if (mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(std::char_traits<char>::length(kOffline)),
            kOffline, kQosAtLeastOnce, true)
        != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(client_);
        throw std::runtime_error("could not set the MQTT last will");
    }
    thread_ = std::thread(&MqttReporter::run, this);
}

MqttReporter::~MqttReporter()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    mosquitto_destroy(client_);
}

std::string MqttReporter::moduleTopic(const std::string& mac) const
{
    return "sorvinda/" + site_ + "/modules/" + mac;
}

void MqttReporter::scanned(const commissioning::ScanReport& report)
{
    std::set<std::string> seen;
    const std::lock_guard lock(mutex_);
    for (const commissioning::WatchedModule& module : report.modules) {
        seen.insert(module.mac);
        // A module reported missing keeps its topic empty until it answers again.
        if (!module.up && cleared_.contains(module.mac))
            continue;
        std::string payload = recordPayload(module.record);
        auto [it, added] = records_.try_emplace(module.mac, payload);
        if (added || it->second != payload) {
            it->second = std::move(payload);
            changed_.insert(module.mac);
        }
        cleared_.erase(module.mac);
    }
    for (auto it = records_.begin(); it != records_.end();) {
        if (seen.contains(it->first)) {
            ++it;
            continue;
        }
        cleared_.insert(it->first);
        changed_.insert(it->first);
        it = records_.erase(it);
    }
}

void MqttReporter::reported(const commissioning::WatchEvent& event)
{
    std::string line = event.line();
    const std::lock_guard lock(mutex_);
    if (event.event == "missing" && records_.erase(event.mac) > 0) {
        cleared_.insert(event.mac);
        changed_.insert(event.mac);
    }
    if (events_.size() == kMaxQueuedEvents)
        events_.pop_front();
    events_.push_back(std::move(line));
}

void MqttReporter::onConnect(mosquitto* /*client*/, void* self, int result)
{
    if (result != 0)
        return; // refused: the loop ends with an error and the retry pauses grow
    auto* reporter = static_cast<MqttReporter*>(self);
    if (std::exchange(reporter->awaySaid_, false))
        reporter->say("reached again");
    const std::lock_guard lock(reporter->mutex_);
    reporter->connected_ = true;
    reporter->republish_ = true;
    reporter->pause_ = kFirstRetryPause;
}

void MqttReporter::run()
{
    bool first = true;
    while (connectWithPauses(first)) {
        first = false;
        int result = MOSQ_ERR_SUCCESS;
        while (result == MOSQ_ERR_SUCCESS) {
            publishPending();
            result = mosquitto_loop(client_, static_cast<int>(kLoopTimeout.count()), 1);
            const std::lock_guard lock(mutex_);
            if (stopping_)
                break;
        }
        bool stopping = false;
        {
            const std::lock_guard lock(mutex_);
            stopping = stopping_;
            if (!stopping)
                connected_ = false;
        }
        if (stopping) {
            sayGoodbye();
            return;
        }
        sayAway(result);
    }
}

// Connects (first) or reconnects, pausing before every try but the first
// and doubling the pause after each failure up to kLongestRetryPause. The
// pause starts short again only once the broker accepted us (onConnect), so
// a broker that takes the connection and then refuses it is not hammered.
// False when the reporter is ending.
bool MqttReporter::connectWithPauses(bool first)
{
    for (;;) {
        if (!first) {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, pause_, [this] { return stopping_; }))
                return false;
            pause_ = std::min(pause_ * 2, kLongestRetryPause);
        }
        const int result = first ? mosquitto_connect_async(client_, host_.c_str(), port_, kKeepAliveSeconds)
                                 : mosquitto_reconnect_async(client_);
        if (result == MOSQ_ERR_SUCCESS)
            return true;
        sayAway(result);
        first = false;
    }
}

// One line on standard error per change between reached and away, so a
// broker that stays away does not fill the journal.
void MqttReporter::say(const std::string& what) const
{
    const std::string where = port_ == 0 ? host_ : host_ + ":" + std::to_string(port_);
    std::fprintf(stderr, "sorvinda: MQTT broker %s %s\n", where.c_str(), what.c_str());
}

void MqttReporter::sayAway(int result)
{
    if (!std::exchange(awaySaid_, true))
        say(std::string("is away (") + mosquitto_strerror(result) + "); trying again with growing pauses");
}

bool MqttReporter::publish(const std::string& topic, const std::string& payload, bool retain)
{
    return mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
               kQosAtLeastOnce, retain)
        == MOSQ_ERR_SUCCESS;
}

// Sends what scans and events changed since the last call, everything after
// a new connection. Works on copies so that the watch loop never waits for
// the broker; a send that fails leaves the state as it is, and the next
// connection sends it all again. Events go only while connected.
void MqttReporter::publishPending()
{
    std::vector<std::pair<std::string, std::string>> retained;
    std::deque<std::string> events;
    bool everything = false;
    {
        const std::lock_guard lock(mutex_);
        if (!connected_)
            return;
        everything = std::exchange(republish_, false);
        if (everything)
            changed_.clear();
        std::set<std::string> macs = everything ? std::set<std::string>{} : std::exchange(changed_, {});
        if (everything) {
            for (const auto& [mac, record] : records_)
                macs.insert(mac);
            macs.insert(cleared_.begin(), cleared_.end());
        }
        for (const std::string& mac : macs) {
            const auto it = records_.find(mac);
            retained.emplace_back(moduleTopic(mac), it == records_.end() ? std::string() : it->second);
        }
        events.swap(events_);
    }
    if (everything)
        publish(statusTopic_, kOnline, true);
    for (const auto& [topic, payload] : retained)
        publish(topic, payload, true);
    while (!events.empty() && publish(eventsTopic_, events.front(), false))
        events.pop_front();
    if (!events.empty()) {
        const std::lock_guard lock(mutex_);
        events_.insert(events_.begin(), events.begin(), events.end());
        while (events_.size() > kMaxQueuedEvents)
            events_.pop_front();
    }
}

// A clean end: "offline" as the will would have said it (a clean disconnect
// does not release the will), then the disconnect, both written before the
// socket closes or kGoodbyeTimeout passes.
void MqttReporter::sayGoodbye()
{
    {
        const std::lock_guard lock(mutex_);
        if (!connected_)
            return;
    }
    publish(statusTopic_, kOffline, true);
    mosquitto_disconnect(client_);
    const auto deadline = std::chrono::steady_clock::now() + kGoodbyeTimeout;
    while (std::chrono::steady_clock::now() < deadline
        && mosquitto_loop(client_, static_cast<int>(kLoopTimeout.count()), 1) == MOSQ_ERR_SUCCESS) { }
}

} // namespace reporting
