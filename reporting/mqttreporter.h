#ifndef REPORTING_MQTTREPORTER_H
#define REPORTING_MQTTREPORTER_H

#include "commissioning/watch.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

struct mosquitto;

namespace reporting {

inline constexpr std::uint16_t kMqttDefaultPort = 1883;

// Reports a watched segment to an MQTT broker:
//   sorvinda/SITE/status          "online" (retained); the broker's last
//                                 will, and a clean end, make it "offline"
//   sorvinda/SITE/modules/MAC     the module's record as JSON (retained); an
//                                 empty retained message removes it once the
//                                 module is reported missing
//   sorvinda/SITE/events          every event line, QoS 1
// scanned() and reported() only record what is to be sent and return; one
// thread of its own talks to the broker. When the broker is away the
// segment's state is kept, the connection is retried with a growing pause,
// and on every connection the whole state is published again, so a broker
// that restarted without its retained messages gets them back. Events that
// come while the broker is away wait in a bounded queue (the oldest go).
class MqttReporter : public commissioning::WatchSink {
public:
    static constexpr std::chrono::milliseconds kFirstRetryPause{500};
    static constexpr std::chrono::milliseconds kLongestRetryPause{30000};
    static constexpr std::chrono::milliseconds kLoopTimeout{200};
    // How long a clean end waits to hand "offline" to the broker.
    static constexpr std::chrono::milliseconds kGoodbyeTimeout{500};
    static constexpr int kKeepAliveSeconds = 30;
    static constexpr std::size_t kMaxQueuedEvents = 10000;

    // Throws std::invalid_argument when site cannot be one topic level (empty,
    // or holding '/', '+', '#' or a NUL) and std::runtime_error when the
    // client cannot be made. Connecting is the thread's business: a broker
    // that is not there yet is tried again and again.
    MqttReporter(std::string site, std::string host, std::uint16_t port);
    ~MqttReporter() override;
    MqttReporter(const MqttReporter&) = delete;
    MqttReporter& operator=(const MqttReporter&) = delete;

    void scanned(const commissioning::ScanReport& report) override;
    void reported(const commissioning::WatchEvent& event) override;

private:
    void run();
    bool connectWithPauses(bool first);
    void publishPending();
    void sayGoodbye();
    bool publish(const std::string& topic, const std::string& payload, bool retain);
    std::string moduleTopic(const std::string& mac) const;
    void say(const std::string& what) const;
    void sayAway(int result);
    static void onConnect(mosquitto* client, void* self, int result);

    const std::string site_, host_;
    const std::uint16_t port_;
    const std::string statusTopic_, eventsTopic_;
    mosquitto* client_ = nullptr;
    bool awaySaid_ = false; // only the reporter's thread reads and writes it

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool connected_ = false;                             // the broker accepted us (CONNACK 0)
    bool republish_ = false;                             // connected anew: send the whole state
    std::chrono::milliseconds pause_ = kFirstRetryPause; // before the next connection try
    std::map<std::string, std::string> records_;         // MAC -> record JSON of every module not missing
    std::set<std::string> cleared_;                      // modules reported missing (their topic emptied)
    std::set<std::string> changed_;                      // MACs whose topic is to be sent
    std::deque<std::string> events_;
    std::thread thread_;
};

} // namespace reporting

#endif
