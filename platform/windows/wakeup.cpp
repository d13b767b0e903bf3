#include "platform/wakeup.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE handleOf(std::intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

// Manual-reset: once set it stays set for every later wait until clear(),
// as the eventfd does on Linux. Windows Sockets waits (WSAEVENT) are such
// events, so UdpSocket::waitReadable waits on it beside the socket's.
Wakeup::Wakeup()
{
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event != nullptr)
        descriptor_ = reinterpret_cast<std::intptr_t>(event);
}

Wakeup::~Wakeup()
{
    release();
}

void Wakeup::release()
{
    if (isValid())
        ::CloseHandle(handleOf(descriptor_));
    descriptor_ = -1;
}

void Wakeup::wake()
{
    if (isValid())
        ::SetEvent(handleOf(descriptor_));
}

void Wakeup::clear()
{
    if (isValid())
        ::ResetEvent(handleOf(descriptor_));
}

} // namespace platform
