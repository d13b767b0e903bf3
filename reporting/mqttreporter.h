#ifndef REPORTING_MQTTREPORTER_H
#define REPORTING_MQTTREPORTER_H

#include "commissioning/watch.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace reporting {

inline constexpr std::uint16_t kMqttDefaultPort = 1883;
inline constexpr std::uint16_t kMqttTlsDefaultPort = 8883;

// How the reporter proves the broker is the broker, and who it is itself.
struct MqttTls {
    std::string caFile, caPath;    // trusted authorities; both empty: the system's store
    std::string certFile, keyFile; // a client certificate (both or neither)
    bool insecure = false;         // the broker's name is not checked against its certificate
};

struct MqttSettings {
    std::string host; // a name, an address, or the path of the broker's UNIX socket (port 0)
    std::uint16_t port = 0;
    std::optional<MqttTls> tls;
    std::string user;     // empty: no login
    std::string password; // never written anywhere
    // Messages the reporter holds at most: those the library has not seen
    // acknowledged yet plus the events waiting to be handed to it.
    std::size_t maxPending = 10000;
};

// What the reporter holds and has lost, for the metrics page and the tests.
struct MqttStats {
    std::size_t inFlight = 0;        // handed to the library, not acknowledged yet
    std::size_t queuedEvents = 0;    // waiting to be handed to the library
    std::size_t cleared = 0;         // module topics to empty whose empty message is not acknowledged yet
    std::uint64_t droppedEvents = 0; // events given up (oldest first) to keep within maxPending
    bool connected = false;
};

// Why a site name cannot label MQTT topics, or nothing when it can: it is
// one topic level of plain printable UTF-8 (no control bytes, no '/', '+'
// or '#').
std::optional<std::string> siteNameProblem(std::string_view site);

// Reports a watched segment to an MQTT broker (MQTT 5):
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
// that restarted without its retained messages gets them back. On every
// connection the reporter also reads the site's retained module records
// back for a bounded time and empties those of modules it does not know
// (left by a module that went missing while the broker was away, or by an
// earlier run). Everything not yet acknowledged counts against maxPending;
// the oldest waiting events give way first.
class MqttReporter : public commissioning::WatchSink {
public:
    static constexpr std::chrono::milliseconds kFirstRetryPause{500};
    static constexpr std::chrono::milliseconds kLongestRetryPause{30000};
    // A connection resets the retry pause only when it lasted this long and
    // the broker acknowledged a message on it: a broker that accepts and
    // drops at once is not hammered.
    static constexpr std::chrono::milliseconds kSteadyConnection{5000};
    static constexpr std::chrono::milliseconds kLoopTimeout{100};
    // How long a clean end waits to hand "offline" to the broker.
    static constexpr std::chrono::milliseconds kGoodbyeTimeout{300};
    // The destructor waits this long for the thread (its goodbye to the
    // broker); a thread in the system's name lookup, or one that did not
    // end in time, is left to end by itself (it owns what it uses), so that
    // the agent ends promptly in every state.
    static constexpr std::chrono::milliseconds kStopBound{500};
    // Retained records come right after the subscription is acknowledged;
    // the reading ends after this much quiet, or kRetainedWait at most.
    static constexpr std::chrono::milliseconds kRetainedQuiet{500};
    static constexpr std::chrono::milliseconds kRetainedWait{5000};
    static constexpr int kKeepAliveSeconds = 30;

    // Throws std::invalid_argument when the site cannot label topics
    // (siteNameProblem) and std::runtime_error when the client cannot be
    // made (a certificate file it cannot use, ...). Connecting is the
    // thread's business: a broker that is not there yet is tried again and
    // again.
    MqttReporter(std::string site, MqttSettings settings);
    ~MqttReporter() override;
    MqttReporter(const MqttReporter&) = delete;
    MqttReporter& operator=(const MqttReporter&) = delete;

    void scanned(const commissioning::ScanReport& report) override;
    void reported(const commissioning::WatchEvent& event) override;

    MqttStats stats() const;

    class Link; // the client and everything its thread shares with the watch loop

private:
    std::shared_ptr<Link> link_;
    std::thread thread_;
};

} // namespace reporting

#endif
