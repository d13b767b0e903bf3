// Windows: Ctrl+C, Ctrl+Break and a closed console reach the program as
// console control events, handled on a thread of their own; the records are
// written there and the default handler then ends the program.
#include "cli/interruptedwrites.h"

#include <atomic>
#include <windows.h>

namespace cli {
namespace {

std::atomic<commissioning::WriteJournal*> activeJournal{nullptr};

BOOL WINAPI onConsoleEvent(DWORD)
{
    if (commissioning::WriteJournal* journal = activeJournal.exchange(nullptr))
        journal->recordInterrupted();
    return FALSE;
}

} // namespace

InterruptedWrites::InterruptedWrites(commissioning::WriteJournal& journal)
{
    activeJournal.store(&journal);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptedWrites::~InterruptedWrites()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    activeJournal.store(nullptr);
}

} // namespace cli
