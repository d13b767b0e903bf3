#ifndef TESTS_INTEGRATION_QORTSESSION_H
#define TESTS_INTEGRATION_QORTSESSION_H

#include "protocol/qort.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace integration {

// libqort has one engine per process, started once and never stopped, and
// its callback carries no context. QortSession is this test program's one
// user of it: it starts the engine on first use with a callback that records
// every code (with the time it arrived), and lets each test begin from
// empty queues and an empty record.
//
// The callback runs on the library's receive thread with the library lock
// held and takes only the recorder's own lock; the recorder's lock is never
// held while calling into the library, so the two cannot deadlock.
class QortSession {
public:
    struct Event {
        int code = 0;
        std::int64_t steadyNs = 0; // std::chrono::steady_clock
    };
    using Mac = std::array<std::uint8_t, QORT_MAC_SIZE>;

    static constexpr std::chrono::milliseconds kReplyTimeout{10000};

    // Requires the isolated network, registers the recorder, QORT_Start();
    // false when QORT_Start refused. Later calls only report the first result.
    static bool startOnce();
    // Takes and discards everything queued, then forgets recorded events.
    static void reset();

    static std::vector<Event> events();
    static std::vector<int> codes();
    static std::size_t count(int code);
    // True once at least `n` events with `code` were recorded.
    static bool waitForCount(int code, std::size_t n, std::chrono::milliseconds timeout = kReplyTimeout);

    // Puts the recorder back after a test replaced the callback.
    static void registerRecorder();

    static std::vector<QORT_ModuleScanResponseType> takeAllResponses();
    static std::vector<Mac> takeAllInvalidPasswordMacs();

private:
    static void record(int code);
};

std::string macText(const std::uint8_t* mac);
std::string addressText(std::uint32_t address);
// a.b.c.d as the library stores it: a<<24 | b<<16 | c<<8 | d.
std::uint32_t address(unsigned a, unsigned b, unsigned c, unsigned d);
// A request record that leaves everything out except the MAC and the
// always-sent host-name piece.
QORT_ConfigureRequestType emptyRequest(const std::string& mac);
// A text field of a response record, or "<absent>" when its Valid byte is 0.
std::string textField(const char* field, std::uint8_t valid);

} // namespace integration

#endif
