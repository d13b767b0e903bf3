#include "tests/support/waituntil.h"

#include <thread>

namespace testsupport {

bool waitUntil(
    const std::function<bool()>& condition, std::chrono::milliseconds timeout, std::chrono::milliseconds pollInterval)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(pollInterval);
    }
}

} // namespace testsupport
