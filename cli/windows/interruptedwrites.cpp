// Windows: Ctrl+C, Ctrl+Break and a closed console reach the program as
// console control events, handled on a thread of their own; the records are
// written there and the default handler then ends the program.
//
// The main thread goes on meanwhile and may finish its write and leave, so
// the handler and the destructor take turns on one lock: once the
// destructor has run, no handler is still writing to the journal its owner
// is about to destroy, and a handler that comes later finds none.
#include "cli/interruptedwrites.h"

#include <mutex>
#include <windows.h>

namespace cli {
namespace {

std::mutex journalLock;
commissioning::WriteJournal* activeJournal = nullptr; // under journalLock

BOOL WINAPI onConsoleEvent(DWORD)
{
    const std::lock_guard lock(journalLock);
    if (activeJournal != nullptr) {
        activeJournal->recordInterrupted();
        activeJournal = nullptr;
    }
    return FALSE;
}

} // namespace

InterruptedWrites::InterruptedWrites(commissioning::WriteJournal& journal)
{
    {
        const std::lock_guard lock(journalLock);
        activeJournal = &journal;
    }
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptedWrites::~InterruptedWrites()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    const std::lock_guard lock(journalLock);
    activeJournal = nullptr;
}

} // namespace cli
