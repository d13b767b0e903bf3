#pragma once

#include "protocol/qort.h"

#include <functional>
#include <mutex>

// Hands the library's notices to the main window, or drops them when there
// is no window. The library calls its callback on its own receive thread at
// any time, also after the main window has closed (the callback is never
// unregistered and the library runs until the process ends).
//
// Lifetime: the window attaches its poster once it can take notices and
// detaches it in its destructor. Deliver holds the lock while it posts, so
// once Detach has returned no poster call is running or will run, and the
// window may be destroyed.
//
// Coalescing: the library announces every queued scan reply, and a flood of
// replies posted one event each kept the window's thread busy long after
// the flood. A notice with the coalesced code is posted only when none is
// pending; the window calls TakeCoalesced before it takes the queued
// replies, so a reply queued after that is announced again and none waits
// unannounced. Other codes are posted one by one: each stands for its own
// entry or action.
//
// Deliver runs while the library holds its own lock; the poster must only
// queue the notice and return, never wait for the window's thread.
class CNoticeGuard {
public:
    using Poster = std::function<void(int code)>;

    explicit CNoticeGuard(int coalescedCode = QORT_CB_RESPONSE);

    void Attach(Poster poster);
    void Detach();
    // True when the notice was handed to a poster or merged into a pending
    // one, false when it was dropped.
    bool Deliver(int code);
    // The pending coalesced notice is being handled: the next one is posted.
    void TakeCoalesced();

private:
    std::mutex m_mutex;
    Poster m_poster;
    const int m_coalescedCode;
    bool m_coalescedPending = false;
};
