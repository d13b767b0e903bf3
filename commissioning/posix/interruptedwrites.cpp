// POSIX: SIGINT, SIGTERM, SIGHUP and SIGPIPE (Ctrl+C, kill, a closed
// terminal or session, a reader that went away).
#include "commissioning/interruptsource.h"

#include <array>
#include <atomic>
#include <csignal>
#include <unistd.h>

namespace commissioning::interruptsource {
namespace {

constexpr std::array kInterruptingSignals{SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic_flag ending = ATOMIC_FLAG_INIT;
struct sigaction previousActions[kInterruptingSignals.size()];

void onInterruptingSignal(int number)
{
    // One thread writes the records and ends the program; a second signal
    // on another thread meanwhile leaves it to that one.
    if (ending.test_and_set())
        return;
    recordInterruptedWrites();
    // Ended by the signal itself, so the parent sees why; it is delivered
    // when this handler returns.
    static_cast<void>(::signal(number, SIG_DFL));
    static_cast<void>(::raise(number));
}

} // namespace

void install()
{
    struct sigaction action { };
    action.sa_handler = onInterruptingSignal;
    sigemptyset(&action.sa_mask);
    // Not nested: one handler at a time per thread.
    for (const int number : kInterruptingSignals)
        sigaddset(&action.sa_mask, number);
    for (std::size_t i = 0; i < kInterruptingSignals.size(); ++i) {
        ::sigaction(kInterruptingSignals[i], nullptr, &previousActions[i]);
        // A signal the caller's caller ignores (nohup) stays ignored.
        if (previousActions[i].sa_handler != SIG_IGN)
            ::sigaction(kInterruptingSignals[i], &action, nullptr);
    }
}

void restore()
{
    for (std::size_t i = 0; i < kInterruptingSignals.size(); ++i)
        ::sigaction(kInterruptingSignals[i], &previousActions[i], nullptr);
}

// The handler sets the flag before it reads the journals, and a guard
// clears its journal before it asks: either the handler finds the journal
// gone, or the guard waits here until the signal ends the program.
void waitForRunningHandler()
{
    if (ending.test())
        for (;;)
            ::pause();
}

} // namespace commissioning::interruptsource
