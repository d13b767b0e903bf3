#ifndef PLATFORM_WAKEUP_H
#define PLATFORM_WAKEUP_H

#include <cstdint>

namespace platform {

// A wake-up signal that a thread blocked in UdpSocket::waitReadable() also
// waits on, so that another thread can end that wait at once (to stop the
// waiting thread). Signals do not count: any number of wake() calls before
// the next clear() end one wait and every later one, until clear().
// wake() and clear() may be called from any thread; wake() is also safe
// from a signal handler. Linux: an eventfd. Windows: a manual-reset event.
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // False when the descriptor could not be created; wait() then sees
    // only its socket and its timeout.
    bool isValid() const { return descriptor_ >= 0; }
    void wake();
    void clear();
    // Closes the descriptor now rather than at destruction, for an owner
    // that is itself never destroyed; afterwards isValid() is false and
    // wake() and clear() do nothing.
    void release();

private:
    friend class UdpSocket;
    // The eventfd (POSIX) or the event HANDLE (Windows); -1 when none.
    std::intptr_t descriptor_ = -1;
};

} // namespace platform

#endif
