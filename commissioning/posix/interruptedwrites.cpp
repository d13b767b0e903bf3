#include "commissioning/interruptedwrites.h"

#include <array>
#include <atomic>
#include <csignal>
#include <mutex>
#include <unistd.h>

namespace commissioning {
namespace {

constexpr std::array kInterruptingSignals{SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Reached from the handler: a journal is set before the handlers are
// installed, and cleared before its guard lets it go.
std::array<std::atomic<WriteJournal*>, kMaxGuardedJournals> guardedJournals{};
std::atomic_flag ending = ATOMIC_FLAG_INIT;

// Guards come and go on one thread or several; the handlers are installed
// with the first and put back with the last.
std::mutex guardsMutex;
std::size_t guardCount = 0;
struct sigaction previousActions[kInterruptingSignals.size()];

void onInterruptingSignal(int number)
{
    // One thread writes the records and ends the program; a second signal
    // on another thread meanwhile leaves it to that one.
    if (ending.test_and_set())
        return;
    for (std::atomic<WriteJournal*>& slot : guardedJournals)
        if (WriteJournal* journal = slot.load())
            journal->recordInterrupted();
    // Ended by the signal itself, so the parent sees why; it is delivered
    // when this handler returns.
    static_cast<void>(::signal(number, SIG_DFL));
    static_cast<void>(::raise(number));
}

void installHandlers()
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

void restoreHandlers()
{
    for (std::size_t i = 0; i < kInterruptingSignals.size(); ++i)
        ::sigaction(kInterruptingSignals[i], &previousActions[i], nullptr);
}

} // namespace

InterruptedWrites::InterruptedWrites(WriteJournal& journal)
{
    const std::lock_guard<std::mutex> lock(guardsMutex);
    for (std::size_t i = 0; i < guardedJournals.size(); ++i) {
        WriteJournal* free = nullptr;
        if (guardedJournals[i].compare_exchange_strong(free, &journal)) {
            slot_ = i;
            break;
        }
    }
    if (guarded() && guardCount++ == 0)
        installHandlers();
}

InterruptedWrites::~InterruptedWrites()
{
    if (!guarded())
        return;
    {
        const std::lock_guard<std::mutex> lock(guardsMutex);
        guardedJournals[slot_].store(nullptr);
        if (--guardCount == 0)
            restoreHandlers();
    }
    // A handler on another thread may still be writing from the journal
    // (it sets the flag before it reads the journals): the program ends by
    // its signal in a moment, and the journal must live until then.
    if (ending.test())
        for (;;)
            ::pause();
}

} // namespace commissioning
