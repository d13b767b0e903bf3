#pragma once

#include <QEvent>

// The event that carries a library notice from the library's receive thread
// to the main window's thread. Its type is the window message number the
// notice has always had (WM_USER + 1), which lies in Qt's user event range.
constexpr int WM_LIBRARY_NOTIFY = 0x0401;

class CLibraryNotifyEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(WM_LIBRARY_NOTIFY);

    explicit CLibraryNotifyEvent(int code)
        : QEvent(kType)
        , m_code(code)
    {
    }

    // The library's callback code (QORT_CB_...).
    int Code() const { return m_code; }

private:
    int m_code;
};

static_assert(WM_LIBRARY_NOTIFY > QEvent::User && WM_LIBRARY_NOTIFY < QEvent::MaxUser);
