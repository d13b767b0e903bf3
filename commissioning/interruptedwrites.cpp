#include "commissioning/interruptedwrites.h"

#include "commissioning/interruptsource.h"

#include <array>
#include <atomic>
#include <mutex>

namespace commissioning {
namespace {

// Reached from the handler: a journal is set before the handler is
// installed, and cleared before its guard lets it go.
std::array<std::atomic<WriteJournal*>, kMaxGuardedJournals> guardedJournals{};

// Guards come and go on one thread or several; the handler is installed
// with the first and put back with the last.
std::mutex guardsMutex;
std::size_t guardCount = 0;

} // namespace

void recordInterruptedWrites() noexcept
{
    for (std::atomic<WriteJournal*>& slot : guardedJournals)
        if (WriteJournal* journal = slot.load())
            journal->recordInterrupted();
}

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
        interruptsource::install();
}

InterruptedWrites::~InterruptedWrites()
{
    if (!guarded())
        return;
    {
        const std::lock_guard<std::mutex> lock(guardsMutex);
        guardedJournals[slot_].store(nullptr);
        if (--guardCount == 0)
            interruptsource::restore();
    }
    interruptsource::waitForRunningHandler();
}

} // namespace commissioning
