#include "cli/interruptedwrites.h"

#include <array>
#include <atomic>
#include <csignal>
#include <unistd.h>

namespace cli {
namespace {

constexpr std::array kInterruptingSignals{SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Reached from the handler: set before it is installed.
std::atomic<commissioning::WriteJournal*> activeJournal{nullptr};
std::atomic_flag ending = ATOMIC_FLAG_INIT;
struct sigaction previousActions[kInterruptingSignals.size()];

void onInterruptingSignal(int number)
{
    // One thread writes the records and ends the program; a second signal
    // on another thread meanwhile leaves it to that one.
    if (ending.test_and_set())
        return;
    if (commissioning::WriteJournal* journal = activeJournal.load())
        journal->recordInterrupted();
    // Ended by the signal itself, so the parent sees why; it is delivered
    // when this handler returns.
    static_cast<void>(::signal(number, SIG_DFL));
    static_cast<void>(::raise(number));
}

} // namespace

InterruptedWrites::InterruptedWrites(commissioning::WriteJournal& journal)
{
    activeJournal.store(&journal);
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

InterruptedWrites::~InterruptedWrites()
{
    for (std::size_t i = 0; i < kInterruptingSignals.size(); ++i)
        ::sigaction(kInterruptingSignals[i], &previousActions[i], nullptr);
    activeJournal.store(nullptr);
    // A handler on another thread may still be writing from the journal
    // (it sets the flag before it reads the journal): the program ends by
    // its signal in a moment, and the journal must live until then.
    if (ending.test())
        for (;;)
            ::pause();
}

} // namespace cli
