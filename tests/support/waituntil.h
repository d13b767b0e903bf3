#ifndef TESTS_SUPPORT_WAITUNTIL_H
#define TESTS_SUPPORT_WAITUNTIL_H

#include <chrono>
#include <functional>

namespace testsupport {

// How often waitUntil looks again. Short enough not to slow a test down,
// long enough not to burn a core that a sanitizer build needs.
inline constexpr std::chrono::milliseconds kWaitPollInterval{5};

// Asks `condition` until it is true or `timeout` has passed; true when it
// became true. Always asks at least once, and once more at the deadline, so
// a slow machine only makes the test slower, never wrong. The condition
// runs on the calling thread and must do its own locking.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
    std::chrono::milliseconds pollInterval = kWaitPollInterval);

} // namespace testsupport

#endif
