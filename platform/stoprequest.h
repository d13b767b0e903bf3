#ifndef PLATFORM_STOPREQUEST_H
#define PLATFORM_STOPREQUEST_H

#include <string>

namespace platform {

// The user's request to stop a program that runs in the foreground:
// SIGINT or SIGTERM (POSIX); Ctrl+C, Ctrl+Break or closing the console
// (Windows). One object per process.
class StopRequest {
public:
    // Create it before starting any thread. POSIX: the two signals are
    // blocked in this thread and in every thread it starts later, and taken
    // synchronously by wait(), so no handler runs in the middle of a worker.
    StopRequest();
    // NOLINTNEXTLINE(performance-trivially-destructible): the Windows one removes its console handler
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // Blocks until a stop is requested; its name ("SIGINT", "Ctrl+C", ...).
    std::string wait();
};

} // namespace platform

#endif
