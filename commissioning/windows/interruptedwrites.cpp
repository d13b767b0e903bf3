// Windows: Ctrl+C, Ctrl+Break and a closed console reach the program as
// console control events, handled on a thread of their own; the records are
// written there and the default handler then ends the program.
#include "commissioning/interruptedwrites.h"

#include <array>
#include <atomic>
#include <mutex>
#include <windows.h>

namespace commissioning {
namespace {

std::array<std::atomic<WriteJournal*>, kMaxGuardedJournals> guardedJournals{};
std::mutex guardsMutex;
std::size_t guardCount = 0;

BOOL WINAPI onConsoleEvent(DWORD)
{
    for (std::atomic<WriteJournal*>& slot : guardedJournals)
        if (WriteJournal* journal = slot.exchange(nullptr))
            journal->recordInterrupted();
    return FALSE;
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
        ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptedWrites::~InterruptedWrites()
{
    if (!guarded())
        return;
    const std::lock_guard<std::mutex> lock(guardsMutex);
    guardedJournals[slot_].store(nullptr);
    if (--guardCount == 0)
        ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

} // namespace commissioning
