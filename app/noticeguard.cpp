#include "app/noticeguard.h"

#include <utility>

CNoticeGuard::CNoticeGuard(int coalescedCode)
    : m_coalescedCode(coalescedCode)
{
}

void CNoticeGuard::Attach(Poster poster)
{
    std::lock_guard lock(m_mutex);
    m_poster = std::move(poster);
    m_coalescedPending = false;
}

void CNoticeGuard::Detach()
{
    Poster old;
    {
        std::lock_guard lock(m_mutex);
        old = std::exchange(m_poster, nullptr);
        m_coalescedPending = false;
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
    if (code == m_coalescedCode) {
        if (m_coalescedPending) {
            return true;
        }
        m_coalescedPending = true;
    }
    m_poster(code);
    return true;
}

void CNoticeGuard::TakeCoalesced()
{
    std::lock_guard lock(m_mutex);
    m_coalescedPending = false;
}
