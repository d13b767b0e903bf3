#include "reporting/mqttreporter.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace reporting {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQosAtLeastOnce = 1;
constexpr int kQosAtMostOnce = 0;
constexpr int kSslVerifyPeer = 1;                    // SSL_VERIFY_PEER: the broker must show a certificate we trust
constexpr const char* kLowestTlsVersion = "tlsv1.2"; // 1.2 or later; older ones are refused
constexpr const char* kSystemCaPath = "/etc/ssl/certs";
constexpr int kFirstFailureReasonCode = 0x80; // MQTT 5 reason codes from here on say "refused"
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

// Length of the UTF-8 sequence starting at text[i] that encodes a printable
// character, 0 when there is none (invalid UTF-8, a control character, a
// surrogate or an overlong form).
std::size_t printableSequence(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return lead >= 0x20 && lead != 0x7f ? 1 : 0;
    std::size_t length = 0;
    char32_t value = 0;
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        value = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        value = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i + k) & 0x3f);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool overlong = value < kSmallest[length];
    const bool surrogate = value >= 0xd800 && value <= 0xdfff;
    const bool c1Control = value >= 0x80 && value <= 0x9f;
    if (overlong || surrogate || c1Control || value > 0x10ffff)
        return 0;
    return length;
}

std::string checkedSite(std::string site)
{
    if (const auto problem = siteNameProblem(site))
        throw std::invalid_argument(*problem);
    return site;
}

std::string recordPayload(const nlohmann::ordered_json& record)
{
    // Module texts are outside input: bytes that are no UTF-8 become U+FFFD
    // rather than an exception on the watch loop's thread.
    return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// An encrypted key file would make the TLS library ask on the terminal; no
// password is given instead, so that such a file is refused.
int noKeyPassword(char* /*buffer*/, int /*size*/, int /*rwflag*/, void* /*userdata*/)
{
    return 0;
}

void wipe(std::string& secret)
{
    explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

} // namespace

std::optional<std::string> siteNameProblem(std::string_view site)
{
    if (site.empty())
        return std::string("the site name is empty");
    for (std::size_t i = 0; i < site.size();) {
        const std::size_t length = printableSequence(site, i);
        if (length == 0)
            return "the site name "
                + nlohmann::json(std::string(site)).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace)
                + " is not plain printable UTF-8 (byte " + std::to_string(i + 1) + ")";
        i += length;
    }
    if (site.find_first_of("/+#") != std::string_view::npos)
        return "the site name '" + std::string(site) + "' cannot be an MQTT topic level (no /, + or #)";
    return std::nullopt;
}

class MqttReporter::Link {
public:
    Link(std::string site, MqttSettings settings);
    ~Link()
    {
        // Abandoned: the process is ending; its TLS library may be torn down
        // already, so the client is left to the end of the process.
        if (!abandoned_)
            mosquitto_destroy(client_);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    void run();
    void stop();
    bool waitFinished(std::chrono::milliseconds bound);
    void abandon();
    void scanned(const commissioning::ScanReport& report);
    void reported(const commissioning::WatchEvent& event);
    MqttStats stats() const;

private:
    enum class Kind { kStatus, kRecord, kClear, kEvent };
    struct Outgoing {
        Kind kind;
        std::string mac; // kRecord, kClear
        std::string topic, payload;
        bool retain = false;
    };
    enum class Sweep { kNone, kToSubscribe, kSubscribed, kReading };

    void configureTls(const MqttTls& tls);
    bool connectWithPauses(bool first);
    std::vector<Outgoing> takePending();
    void publishPending();
    void putBack(Outgoing&& outgoing);
    void sweepStep();
    void sayGoodbye();
    int publish(const Outgoing& outgoing);
    std::string moduleTopic(const std::string& mac) const;
    void dropEventsBeyondBound();
    void say(const std::string& what);
    void sayAway(int result, const std::string& why = {});
    std::optional<std::string> lookUpName();
    void finish();

    static void onConnect(mosquitto* client, void* self, int reason);
    static void onPublish(mosquitto* client, void* self, int mid, int reason, const mosquitto_property* properties);
    static void onSubscribe(
        mosquitto* client, void* self, int mid, int count, const int* granted, const mosquitto_property* properties);
    static void onMessage(
        mosquitto* client, void* self, const mosquitto_message* message, const mosquitto_property* properties);
    static void onLog(mosquitto* client, void* self, int level, const char* text);

    const std::string site_, host_;
    const std::uint16_t port_;
    const std::string user_;
    const std::size_t maxPending_;
    const std::string statusTopic_, eventsTopic_, modulesPrefix_, modulesFilter_;
    mosquitto* client_ = nullptr;

    // Only the reporter's thread (and the library's callbacks, which run on
    // it) touch these.
    std::string lastSaid_;       // the last line said about reaching the broker
    std::string libraryError_;   // the library's last error line of this connection try
    std::set<int> refusalsSaid_; // reason codes of refused publishes already said
    int refusedConnect_ = 0;     // the broker's reason for refusing the last connection
    Clock::time_point connectedAt_;
    bool acknowledged_ = false; // the broker acknowledged a message on this connection
    Sweep sweep_ = Sweep::kNone;
    int sweepMid_ = 0;
    Clock::time_point sweepEnd_, sweepQuietUntil_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool finished_ = false;
    bool lookingUp_ = false;   // in the system's name lookup, which may stall for many seconds
    bool abandoned_ = false;   // the reporter ended without waiting for this thread
    bool connected_ = false;   // the broker accepted us
    bool republish_ = false;   // connected anew: send the whole state
    bool scannedOnce_ = false; // the sweep waits for the first scan: before it, every module is unknown
    std::chrono::milliseconds pause_ = kFirstRetryPause; // before the next connection try
    std::map<std::string, std::string> records_;         // MAC -> record JSON of every module not missing
    std::map<std::string, int> cleared_;                 // MAC -> message id of its empty message in flight, 0: to send
    std::set<std::string> changed_;                      // MACs whose record is to be sent
    std::deque<std::string> events_;
    std::map<int, std::pair<Kind, std::string>> inFlight_; // message id -> what it carries
    std::uint64_t droppedEvents_ = 0;
};

MqttReporter::Link::Link(std::string site, MqttSettings settings)
    : site_(checkedSite(std::move(site)))
    , host_(std::move(settings.host))
    , port_(settings.port)
    , user_(settings.user)
    , maxPending_(std::max<std::size_t>(settings.maxPending, 1))
    , statusTopic_("sorvinda/" + site_ + "/status")
    , eventsTopic_("sorvinda/" + site_ + "/events")
    , modulesPrefix_("sorvinda/" + site_ + "/modules/")
    , modulesFilter_(modulesPrefix_ + "+")
{
    initialiseLibraryOnce();
    // A generated client id with a clean session: two agents never push each
    // other off the broker, and nothing is kept for an agent that is gone.
    client_ = mosquitto_new(nullptr, true, this);
    if (client_ == nullptr) {
        wipe(settings.password);
        throw std::runtime_error("could not make an MQTT client");
    }
    try {
        // MQTT 5: the broker says why it refuses a publish or a subscription.
        if (mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5) != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("the MQTT library does not speak MQTT 5");
        mosquitto_connect_callback_set(client_, &Link::onConnect);
        mosquitto_publish_v5_callback_set(client_, &Link::onPublish);
        mosquitto_subscribe_v5_callback_set(client_, &Link::onSubscribe);
        mosquitto_message_v5_callback_set(client_, &Link::onMessage);
        mosquitto_log_callback_set(client_, &Link::onLog);
        if (mosquitto_will_set(client_, statusTopic_.c_str(),
                static_cast<int>(std::char_traits<char>::length(kOffline)), kOffline, kQosAtLeastOnce, true)
            != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("could not set the MQTT last will");
        if (settings.tls)
            configureTls(*settings.tls);
        if (!user_.empty()
            && mosquitto_username_pw_set(
                   client_, user_.c_str(), settings.password.empty() ? nullptr : settings.password.c_str())
                != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("the MQTT user name '" + user_ + "' cannot be used");
    } catch (...) {
        wipe(settings.password);
        mosquitto_destroy(client_);
        throw;
    }
    wipe(settings.password);
    if (!user_.empty() && !settings.tls && port_ != 0)
        say("gets the password of '" + user_ + "' in clear text: use TLS (mqtts://, --mqtt-cafile)");
}

void MqttReporter::Link::configureTls(const MqttTls& tls)
{
    const auto orNull = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
    const bool systemStore = tls.caFile.empty() && tls.caPath.empty();
    if (mosquitto_tls_set(client_, orNull(tls.caFile), systemStore ? kSystemCaPath : orNull(tls.caPath),
            orNull(tls.certFile), orNull(tls.keyFile), &noKeyPassword)
        != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("the MQTT TLS files cannot be used (--mqtt-cafile, --mqtt-capath, --mqtt-cert, "
                                 "--mqtt-key: readable, a certificate and its key together)");
    if (mosquitto_tls_opts_set(client_, kSslVerifyPeer, kLowestTlsVersion, nullptr) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("the MQTT library cannot insist on TLS 1.2");
    if (tls.insecure) {
        mosquitto_tls_insecure_set(client_, true);
        say("is not checked against its certificate's name (--mqtt-insecure): anyone with a certificate from a "
            "trusted CA can pose as it");
    }
}

std::string MqttReporter::Link::moduleTopic(const std::string& mac) const
{
    return modulesPrefix_ + mac;
}

void MqttReporter::Link::dropEventsBeyondBound()
{
    while (!events_.empty() && events_.size() + inFlight_.size() > maxPending_) {
        events_.pop_front();
        ++droppedEvents_;
    }
}

void MqttReporter::Link::scanned(const commissioning::ScanReport& report)
{
    std::set<std::string> seen;
    const std::lock_guard lock(mutex_);
    scannedOnce_ = true;
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
        cleared_.insert_or_assign(it->first, 0);
        changed_.erase(it->first);
        it = records_.erase(it);
    }
}

void MqttReporter::Link::reported(const commissioning::WatchEvent& event)
{
    std::string line = event.line();
    const std::lock_guard lock(mutex_);
    if (event.event == commissioning::kEventMissing && records_.erase(event.mac) > 0) {
        cleared_.insert_or_assign(event.mac, 0);
        changed_.erase(event.mac);
    }
    events_.push_back(std::move(line));
    dropEventsBeyondBound();
}

MqttStats MqttReporter::Link::stats() const
{
    const std::lock_guard lock(mutex_);
    return {inFlight_.size(), events_.size(), cleared_.size(), droppedEvents_, connected_};
}

void MqttReporter::Link::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

bool MqttReporter::Link::waitFinished(std::chrono::milliseconds bound)
{
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, bound, [this] { return finished_ || lookingUp_; });
    return finished_;
}

void MqttReporter::Link::abandon()
{
    const std::lock_guard lock(mutex_);
    abandoned_ = true;
}

void MqttReporter::Link::finish()
{
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
    }
    wake_.notify_all();
}

void MqttReporter::Link::onConnect(mosquitto* /*client*/, void* self, int reason)
{
    auto* link = static_cast<Link*>(self);
    if (reason != 0) {
        // Refused: the loop ends with an error, said there, and the pauses grow.
        link->refusedConnect_ = reason;
        return;
    }
    link->refusedConnect_ = 0;
    link->connectedAt_ = Clock::now();
    link->acknowledged_ = false;
    link->sweep_ = Sweep::kToSubscribe;
    const std::lock_guard lock(link->mutex_);
    link->connected_ = true;
    link->republish_ = true;
}

// The broker acknowledged a message (PUBACK): it leaves the count of
// messages in flight, and an empty module message takes its MAC out of the
// cleared set, so that set holds only what is still to be said.
void MqttReporter::Link::onPublish(
    mosquitto* /*client*/, void* self, int mid, int reason, const mosquitto_property* /*properties*/)
{
    auto* link = static_cast<Link*>(self);
    std::pair<Kind, std::string> what;
    {
        const std::lock_guard lock(link->mutex_);
        const auto it = link->inFlight_.find(mid);
        if (it == link->inFlight_.end())
            return;
        what = std::move(it->second);
        link->inFlight_.erase(it);
        if (reason < kFirstFailureReasonCode && what.first == Kind::kClear) {
            const auto cleared = link->cleared_.find(what.second);
            if (cleared != link->cleared_.end() && cleared->second == mid)
                link->cleared_.erase(cleared);
        }
    }
    if (reason < kFirstFailureReasonCode) {
        link->acknowledged_ = true;
        // Said once the broker took a message, not at its CONNACK: a broker
        // that accepts and drops at once is not "reached" every try.
        if (!link->lastSaid_.empty()) {
            link->lastSaid_.clear();
            link->say("reached again");
        }
        return;
    }
    if (link->refusalsSaid_.insert(reason).second) {
        const std::string topic = what.first == Kind::kEvent ? link->eventsTopic_
            : what.first == Kind::kStatus                    ? link->statusTopic_
                                                             : link->moduleTopic(what.second);
        link->say(std::string("refused a message to ") + topic + " (" + mosquitto_reason_string(reason)
            + "): may user '" + link->user_ + "' write sorvinda/" + link->site_ + "/#?");
    }
}

void MqttReporter::Link::onSubscribe(
    mosquitto* /*client*/, void* self, int mid, int count, const int* granted, const mosquitto_property* /*properties*/)
{
    auto* link = static_cast<Link*>(self);
    if (mid != link->sweepMid_ || link->sweep_ != Sweep::kSubscribed)
        return;
    if (count < 1 || granted[0] >= kFirstFailureReasonCode) {
        link->sweep_ = Sweep::kNone;
        if (link->refusalsSaid_.insert(count < 1 ? kFirstFailureReasonCode : granted[0]).second)
            link->say("does not let this agent read " + link->modulesFilter_
                + ": records of modules gone while it was away stay there");
        return;
    }
    link->sweep_ = Sweep::kReading;
    link->sweepQuietUntil_ = Clock::now() + kRetainedQuiet;
}

// A retained record of the site: one of a module the agent does not know
// is emptied (through the cleared set, so it is sent again until the
// broker acknowledges it).
void MqttReporter::Link::onMessage(
    mosquitto* /*client*/, void* self, const mosquitto_message* message, const mosquitto_property* /*properties*/)
{
    auto* link = static_cast<Link*>(self);
    if (link->sweep_ != Sweep::kReading || !message->retain || message->payloadlen == 0)
        return;
    const std::string_view topic(message->topic);
    if (!topic.starts_with(link->modulesPrefix_))
        return;
    link->sweepQuietUntil_ = Clock::now() + kRetainedQuiet;
    std::string mac(topic.substr(link->modulesPrefix_.size()));
    const std::lock_guard lock(link->mutex_);
    if (!link->records_.contains(mac))
        link->cleared_.try_emplace(std::move(mac), 0);
}

void MqttReporter::Link::onLog(mosquitto* /*client*/, void* self, int level, const char* text)
{
    if (level == MOSQ_LOG_ERR && text != nullptr)
        static_cast<Link*>(self)->libraryError_ = text;
}

// Subscribes to the site's module records once the first scan has told
// which modules exist, reads the retained ones until they stop coming, and
// unsubscribes.
void MqttReporter::Link::sweepStep()
{
    const Clock::time_point now = Clock::now();
    if (sweep_ == Sweep::kToSubscribe) {
        {
            const std::lock_guard lock(mutex_);
            if (!scannedOnce_)
                return;
        }
        if (mosquitto_subscribe_v5(
                client_, &sweepMid_, modulesFilter_.c_str(), kQosAtMostOnce, MQTT_SUB_OPT_NO_LOCAL, nullptr)
            == MOSQ_ERR_SUCCESS) {
            sweep_ = Sweep::kSubscribed;
            sweepEnd_ = now + kRetainedWait;
        }
        return;
    }
    const bool reading = sweep_ == Sweep::kSubscribed || sweep_ == Sweep::kReading;
    if (reading && (now >= sweepEnd_ || (sweep_ == Sweep::kReading && now >= sweepQuietUntil_))) {
        mosquitto_unsubscribe(client_, nullptr, modulesFilter_.c_str());
        sweep_ = Sweep::kNone;
    }
}

void MqttReporter::Link::run()
{
    bool first = true;
    while (connectWithPauses(first)) {
        first = false;
        int result = MOSQ_ERR_SUCCESS;
        while (result == MOSQ_ERR_SUCCESS) {
            publishPending();
            sweepStep();
            result = mosquitto_loop(client_, static_cast<int>(kLoopTimeout.count()), 1);
            const std::lock_guard lock(mutex_);
            if (stopping_)
                break;
        }
        bool stopping = false;
        bool wasConnected = false;
        {
            const std::lock_guard lock(mutex_);
            stopping = stopping_;
            wasConnected = connected_;
            if (!stopping)
                connected_ = false;
            // Only a connection that held and carried something shows the
            // broker is back for good.
            if (wasConnected && acknowledged_ && Clock::now() - connectedAt_ >= kSteadyConnection)
                pause_ = kFirstRetryPause;
        }
        sweep_ = Sweep::kNone;
        if (stopping) {
            sayGoodbye();
            break;
        }
        sayAway(result);
    }
    finish();
}

// Connects (first) or reconnects, pausing before every try but the first
// and doubling the pause after each one up to kLongestRetryPause. False
// when the reporter is ending.
bool MqttReporter::Link::connectWithPauses(bool first)
{
    for (;;) {
        if (!first) {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, pause_, [this] { return stopping_; }))
                return false;
            pause_ = std::min(pause_ * 2, kLongestRetryPause);
        }
        libraryError_.clear();
        refusedConnect_ = 0;
        const std::optional<std::string> problem = lookUpName();
        {
            const std::lock_guard lock(mutex_);
            if (stopping_)
                return false;
        }
        if (problem) {
            sayAway(MOSQ_ERR_EAI, *problem);
            first = false;
            continue;
        }
        const int result = first ? mosquitto_connect_async(client_, host_.c_str(), port_, kKeepAliveSeconds)
                                 : mosquitto_reconnect_async(client_);
        if (result == MOSQ_ERR_SUCCESS)
            return true;
        sayAway(result);
        first = false;
    }
}

// Looks the broker's name up on this thread, marked so that the destructor
// does not wait for it: a resolver that does not answer holds it for many
// seconds. The library looks the name up again right after, answered at
// once by a resolver that just answered. Why it failed, or nothing.
std::optional<std::string> MqttReporter::Link::lookUpName()
{
    if (port_ == 0)
        return std::nullopt; // a UNIX socket
    {
        const std::lock_guard lock(mutex_);
        lookingUp_ = true;
    }
    wake_.notify_all();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int result = ::getaddrinfo(host_.c_str(), nullptr, &hints, &addresses);
    if (addresses != nullptr)
        ::freeaddrinfo(addresses);
    const std::lock_guard lock(mutex_);
    lookingUp_ = false;
    if (result == 0)
        return std::nullopt;
    return std::string("its name cannot be looked up: ") + ::gai_strerror(result);
}

// One line on standard error per change in what is wrong, so a broker that
// stays away does not fill the journal.
void MqttReporter::Link::say(const std::string& what)
{
    const std::string where = port_ == 0 ? host_ : host_ + ":" + std::to_string(port_);
    std::fprintf(stderr, "sorvinda: MQTT broker %s %s\n", where.c_str(), what.c_str());
}

void MqttReporter::Link::sayAway(int result, const std::string& why)
{
    std::string what;
    if (!why.empty())
        what = "is away (" + why + ")";
    else if (refusedConnect_ == MQTT_RC_BAD_USERNAME_OR_PASSWORD || refusedConnect_ == MQTT_RC_NOT_AUTHORIZED)
        what = "refused the login" + (user_.empty() ? std::string(" without a user") : " of user '" + user_ + "'")
            + " (" + mosquitto_reason_string(refusedConnect_) + ")";
    else if (refusedConnect_ != 0)
        what = std::string("refused the connection (") + mosquitto_reason_string(refusedConnect_) + ")";
    else if (result == MOSQ_ERR_TLS || result == MOSQ_ERR_TLS_HANDSHAKE
        || libraryError_.find("certificate") != std::string::npos)
        what = "failed the TLS check (" + (libraryError_.empty() ? mosquitto_strerror(result) : libraryError_)
            + "): is its certificate signed by --mqtt-cafile, and does it name " + host_ + "?";
    else
        what = std::string("is away (") + mosquitto_strerror(result) + " [" + std::to_string(result) + "])";
    what += "; trying again with growing pauses";
    if (what != lastSaid_) {
        lastSaid_ = what;
        say(what);
    }
}

int MqttReporter::Link::publish(const Outgoing& outgoing)
{
    int mid = 0;
    const int result = mosquitto_publish_v5(client_, &mid, outgoing.topic.c_str(),
        static_cast<int>(outgoing.payload.size()), outgoing.payload.data(), kQosAtLeastOnce, outgoing.retain, nullptr);
    return result == MOSQ_ERR_SUCCESS ? mid : 0;
}

// What is to be sent now, within the bound of messages in flight: after a
// new connection the status and every record first, then what scans and
// events changed. Taken under the lock so that the watch loop never waits
// for the broker.
std::vector<MqttReporter::Link::Outgoing> MqttReporter::Link::takePending()
{
    std::vector<Outgoing> batch;
    const std::lock_guard lock(mutex_);
    if (!connected_)
        return batch;
    if (std::exchange(republish_, false)) {
        batch.push_back({Kind::kStatus, {}, statusTopic_, kOnline, true});
        for (const auto& [mac, record] : records_)
            changed_.insert(mac);
        for (auto& [mac, mid] : cleared_)
            mid = 0;
    }
    std::size_t room =
        maxPending_ > inFlight_.size() + batch.size() ? maxPending_ - inFlight_.size() - batch.size() : 0;
    for (auto& [mac, mid] : cleared_) {
        if (room == 0)
            break;
        if (mid != 0)
            continue;
        mid = -1; // taken: not batched twice before its id is known
        batch.push_back({Kind::kClear, mac, moduleTopic(mac), {}, true});
        --room;
    }
    while (room > 0 && !changed_.empty()) {
        const std::string mac = changed_.extract(changed_.begin()).value();
        const auto record = records_.find(mac);
        if (record == records_.end())
            continue;
        batch.push_back({Kind::kRecord, mac, moduleTopic(mac), record->second, true});
        --room;
    }
    while (room > 0 && !events_.empty()) {
        batch.push_back({Kind::kEvent, {}, eventsTopic_, std::move(events_.front()), false});
        events_.pop_front();
        --room;
    }
    return batch;
}

void MqttReporter::Link::putBack(Outgoing&& outgoing)
{
    switch (outgoing.kind) {
    case Kind::kStatus:
        republish_ = true;
        break;
    case Kind::kRecord:
        changed_.insert(outgoing.mac);
        break;
    case Kind::kClear:
        if (const auto it = cleared_.find(outgoing.mac); it != cleared_.end() && it->second == -1)
            it->second = 0;
        break;
    case Kind::kEvent:
        events_.push_front(std::move(outgoing.payload));
        break;
    }
}

// Hands what is pending to the library and counts it in flight; what the
// library does not take goes back (events in their order) for the next
// connection.
void MqttReporter::Link::publishPending()
{
    std::vector<Outgoing> batch = takePending();
    if (batch.empty())
        return;
    std::vector<int> mids;
    mids.reserve(batch.size());
    for (const Outgoing& outgoing : batch)
        mids.push_back(publish(outgoing));
    const std::lock_guard lock(mutex_);
    for (std::size_t i = batch.size(); i-- > 0;) {
        Outgoing& outgoing = batch[i];
        if (mids[i] == 0) {
            putBack(std::move(outgoing));
            continue;
        }
        if (outgoing.kind == Kind::kClear)
            if (const auto it = cleared_.find(outgoing.mac); it != cleared_.end() && it->second == -1)
                it->second = mids[i];
        inFlight_.emplace(mids[i], std::make_pair(outgoing.kind, std::move(outgoing.mac)));
    }
    dropEventsBeyondBound();
}

// A clean end: "offline" as the will would have said it (a clean disconnect
// does not release the will), then the disconnect, both written before the
// socket closes or kGoodbyeTimeout passes.
void MqttReporter::Link::sayGoodbye()
{
    {
        const std::lock_guard lock(mutex_);
        if (!connected_)
            return;
    }
    publish({Kind::kStatus, {}, statusTopic_, kOffline, true});
    mosquitto_disconnect(client_);
    const auto deadline = Clock::now() + kGoodbyeTimeout;
    while (Clock::now() < deadline
        && mosquitto_loop(client_, static_cast<int>(kLoopTimeout.count()), 1) == MOSQ_ERR_SUCCESS) { }
}

MqttReporter::MqttReporter(std::string site, MqttSettings settings)
    : link_(std::make_shared<Link>(std::move(site), std::move(settings)))
{
    thread_ = std::thread([link = link_] { link->run(); });
}

MqttReporter::~MqttReporter()
{
    link_->stop();
    if (link_->waitFinished(kStopBound)) {
        thread_.join();
        return;
    }
    // In a name lookup, or slower than every step it takes should be: it
    // holds the link, and both end when its call returns.
    link_->abandon();
    thread_.detach();
}

void MqttReporter::scanned(const commissioning::ScanReport& report)
{
    link_->scanned(report);
}

void MqttReporter::reported(const commissioning::WatchEvent& event)
{
    link_->reported(event);
}

MqttStats MqttReporter::stats() const
{
    return link_->stats();
}

} // namespace reporting
