#ifndef TESTS_SUPPORT_QTGTEST_H
#define TESTS_SUPPORT_QTGTEST_H

// GoogleTest programs that drive Qt widgets link testsupport_qt: its main
// creates the QApplication (offscreen under CTest) and gives every test a
// ModalWatchdog whose report is a test failure.

#include <QApplication>
#include <QString>
#include <QTest>
#include <QTimer>

#include <functional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace testsupport {

// Generous: sanitizer builds on a shared two-core machine are slow.
inline constexpr int kGuiWaitMs = 5000;

// Runs `script` inside the next modal loop, once a modal window of type
// Dialog is active (a scripted user). The watchdog closes it if the script
// leaves it open.
template <class Dialog>
void WhenModal(std::function<void(Dialog&)> script, QObject* context = nullptr)
{
    QTimer::singleShot(0, context ? context : qApp, [script = std::move(script)] {
        Dialog* dialog = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] { return (dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) && dialog->isVisible(); },
            kGuiWaitMs);
        if (!shown)
            return; // the caller's check of what the script saw fails
        // Keys go to the active window: the dialog, not the one behind it.
        dialog->activateWindow();
        if (QTest::qWaitForWindowActive(dialog))
            script(*dialog);
    });
}

} // namespace testsupport

#endif
