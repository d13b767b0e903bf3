#include "platform/stoprequest.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

// The console's control handler runs on a thread the system starts; it
// records the event and wakes wait().
HANDLE requested = nullptr;
std::atomic<DWORD> requestKind{0};

BOOL WINAPI onConsoleControl(DWORD kind)
{
    requestKind = kind;
    ::SetEvent(requested);
    // Handled: the process is not ended here, wait() returns and the
    // program stops in order. (For a closing console Windows ends the
    // process anyway after a grace period.)
    return TRUE;
}

const char* nameOf(DWORD kind)
{
    switch (kind) {
    case CTRL_C_EVENT:
        return "Ctrl+C";
    case CTRL_BREAK_EVENT:
        return "Ctrl+Break";
    default:
        return "console closed";
    }
}

} // namespace

StopRequest::StopRequest()
{
    requested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

StopRequest::~StopRequest()
{
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
}

std::string StopRequest::wait()
{
    ::WaitForSingleObject(requested, INFINITE);
    return nameOf(requestKind);
}

} // namespace platform
