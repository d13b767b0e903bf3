// Windows: Ctrl+C, Ctrl+Break and a closed console reach the program as
// console control events, handled on a thread of their own; the records are
// written there and the default handler then ends the program.
#include "commissioning/interruptsource.h"

#include <atomic>
#include <windows.h>

namespace commissioning::interruptsource {
namespace {

std::atomic_flag ending = ATOMIC_FLAG_INIT;

BOOL WINAPI onConsoleEvent(DWORD)
{
    if (!ending.test_and_set())
        recordInterruptedWrites();
    return FALSE; // the default handler ends the program
}

} // namespace

void install()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void restore()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

// As on POSIX: a guard whose journal the handler may be reading waits for
// the end of the program.
void waitForRunningHandler()
{
    if (ending.test())
        ::Sleep(INFINITE);
}

} // namespace commissioning::interruptsource
