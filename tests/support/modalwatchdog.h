#ifndef TESTS_SUPPORT_MODALWATCHDOG_H
#define TESTS_SUPPORT_MODALWATCHDOG_H

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace testsupport {

// Long enough for a scripted dialog under a sanitizer on a busy machine,
// short against CTest's 300 s: a test's own script closes its dialogs in
// milliseconds.
inline constexpr std::chrono::milliseconds kModalLimit{15000};

// Closes a modal window that stays open longer than `limit` and reports it,
// so that a fault which keeps a dialog or message box open (a version check
// that refuses the good library, a Set that never ends the dialog) fails the
// test at once instead of hanging until CTest's timeout. Works inside the
// nested event loop of DoModal and QMessageBox::exec.
class ModalWatchdog : public QObject {
public:
    using Report = std::function<void(const QString& what)>;
    explicit ModalWatchdog(Report report, std::chrono::milliseconds limit = kModalLimit);
    int Closed() const { return closed_; }

private:
    void Look();

    Report report_;
    std::chrono::milliseconds limit_;
    QTimer poll_;
    QPointer<QWidget> watched_;
    std::chrono::steady_clock::time_point since_;
    int closed_ = 0;
};

} // namespace testsupport

#endif
