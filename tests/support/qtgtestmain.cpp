// main() of the GoogleTest programs that drive Qt widgets.
#include "tests/support/modalwatchdog.h"
#include "tests/support/qtgtest.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

// One watchdog per test: a modal window left open fails that test.
class WatchdogPerTest : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        watchdog_ = std::make_unique<testsupport::ModalWatchdog>(
            [](const QString& what) { ADD_FAILURE() << what.toStdString(); });
    }
    void OnTestEnd(const ::testing::TestInfo&) override { watchdog_.reset(); }
    std::unique_ptr<testsupport::ModalWatchdog> watchdog_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new WatchdogPerTest);
    return RUN_ALL_TESTS();
}
