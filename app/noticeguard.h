#pragma once

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
// Deliver runs while the library holds its own lock; the poster must only
// queue the notice and return, never wait for the window's thread.
class CNoticeGuard {
public:
    using Poster = std::function<void(int code)>;

    void Attach(Poster poster);
    void Detach();
    // True when the notice was handed to a poster, false when it was dropped.
    bool Deliver(int code);

private:
    std::mutex m_mutex;
    Poster m_poster;
};
