#ifndef TESTS_INTEGRATION_QORTSESSION_H
#define TESTS_INTEGRATION_QORTSESSION_H

#include "protocol/qort.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace integration {

// libqort has one engine per process, started once and never stopped, and
// its callback carries no context. QortSession is the program's one user of
// it: it starts the engine on first use with a callback that records every
// code (with the time it arrived). The callback takes only the recorder's
// lock, which is never held while calling into the library.
class QortSession {
public:
    struct Event {
        int code = 0;
        std::int64_t steadyNs = 0; // std::chrono::steady_clock
    };

    static constexpr std::chrono::milliseconds kReplyTimeout{10000};

    // Requires the isolated network, registers the recorder, QORT_Start();
    // false when QORT_Start refused. Later calls only report the first result.
    static bool startOnce();
    // Takes and discards everything queued, then forgets recorded events.
    static void reset();
    static std::vector<Event> events();
    static std::vector<int> codes();
    static std::size_t count(int code);
    static bool waitForCount(int code, std::size_t n, std::chrono::milliseconds timeout = kReplyTimeout);
    // Puts the recorder back after a test replaced the callback.
    static void registerRecorder();
    static std::vector<QORT_ModuleScanResponseType> takeAllResponses();

private:
    static void record(int code);
};

std::string macText(const std::uint8_t* mac);
std::string addressText(std::uint32_t address);
// A request record that leaves everything out except the MAC and the
// always-sent host-name piece.
QORT_ConfigureRequestType emptyRequest(const std::string& mac);
// Fills a request's text field with `text` (cut to fit) and NULs.
void setText(char (&field)[QORT_TEXT_FIELD_SIZE], const std::string& text);
// A text field of a response record, or "<absent>" when its Valid byte is 0.
std::string textField(const char* field, std::uint8_t valid);
// Every present field of a record in one line ("ip=10.0.0.1 hn=x ..."), so
// that a table row states a whole record. A Valid byte other than 0 or 1,
// or an absent field whose bytes are not all 0xFF, shows as "!name".
std::string describe(const QORT_ModuleScanResponseType& r);

} // namespace integration

#endif
