#include "platform/stoprequest.h"

#include <csignal>
#include <pthread.h>
#include <signal.h>

namespace platform {
namespace {

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

StopRequest::StopRequest()
{
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopRequest::~StopRequest() = default;

std::string StopRequest::wait()
{
    const sigset_t signals = stopSignals();
    int signal = 0;
    sigwait(&signals, &signal);
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

} // namespace platform
