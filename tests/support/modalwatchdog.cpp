#include "tests/support/modalwatchdog.h"

#include <QApplication>
#include <QDialog>

namespace testsupport {

namespace {
constexpr std::chrono::milliseconds kPollInterval{50};
}

ModalWatchdog::ModalWatchdog(Report report, std::chrono::milliseconds limit)
    : report_(std::move(report))
    , limit_(limit)
{
    connect(&poll_, &QTimer::timeout, this, &ModalWatchdog::Look);
    poll_.start(kPollInterval);
}

void ModalWatchdog::Look()
{
    QWidget* modal = QApplication::activeModalWidget();
    const auto now = std::chrono::steady_clock::now();
    if (modal != watched_.data()) {
        watched_ = modal;
        since_ = now;
        return;
    }
    if (modal == nullptr || now - since_ < limit_)
        return;
    ++closed_;
    watched_ = nullptr;
    const QString title = modal->windowTitle();
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->done(QDialog::Rejected);
    else
        modal->close();
    report_(QStringLiteral("modal window \"%1\" was still open after %2 ms; closed by the watchdog")
                .arg(title)
                .arg(limit_.count()));
}

} // namespace testsupport
