#include "app/noticeguard.h"

#include <utility>

void CNoticeGuard::Attach(Poster poster)
{
    std::lock_guard lock(m_mutex);
    m_poster = std::move(poster);
}

void CNoticeGuard::Detach()
{
    Poster old;
    {
        std::lock_guard lock(m_mutex);
        old = std::exchange(m_poster, nullptr);
    }
    // The old poster is destroyed outside the lock: its captures may be
    // arbitrary objects whose destructors should not run under it.
}

bool CNoticeGuard::Deliver(int code)
{
    std::lock_guard lock(m_mutex);
    if (!m_poster) {
        return false;
    }
    m_poster(code);
    return true;
}
