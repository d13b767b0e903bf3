#include "cli/secretguard.h"

#include <array>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace cli {
namespace {

// The signals whose default action ends the program, and those that stop it.
constexpr std::array kEndingSignals{SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2};
constexpr std::array kStoppingSignals{SIGTSTP, SIGTTIN, SIGTTOU};

// Reached from the handlers, so plain objects set before they are installed.
struct termios terminalBefore;
struct termios terminalAtPrompt;
volatile std::sig_atomic_t promptActive = 0;
struct sigaction previousActions[NSIG];

void restoreTerminal()
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalBefore);
}

void backToPrompt()
{
    if (promptActive != 0)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalAtPrompt);
}

void onEndingSignal(int number)
{
    restoreTerminal();
    // Ended by the signal itself, so the parent sees why; it is delivered
    // when this handler returns.
    static_cast<void>(::signal(number, SIG_DFL));
    static_cast<void>(::raise(number));
}

void installHandler(int number, void (*handler)(int))
{
    struct sigaction action { };
    action.sa_handler = handler;
    // The prompt's read goes on after a stop and continue.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    // A stop's own terminal calls must not stop it again from the background.
    for (const int stopping : kStoppingSignals)
        sigaddset(&action.sa_mask, stopping);
    static_cast<void>(::sigaction(number, &action, nullptr));
}

void onStoppingSignal(int number)
{
    restoreTerminal();
    static_cast<void>(::signal(number, SIG_DFL));
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, number);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the prompt is read before the program starts any thread
    static_cast<void>(::sigprocmask(SIG_UNBLOCK, &own, nullptr));
    // Stops here until SIGCONT; the kernel discards the stop in a process
    // group that no shell controls (an orphaned one), so it may not stop.
    static_cast<void>(::raise(number));
    installHandler(number, onStoppingSignal);
    backToPrompt();
}

void onContinue(int)
{
    backToPrompt();
}

} // namespace

SecretHolding::SecretHolding()
    : previousDumpable_(::prctl(PR_GET_DUMPABLE))
{
    ::prctl(PR_SET_DUMPABLE, 0);
}

SecretHolding::~SecretHolding()
{
    if (previousDumpable_ > 0)
        ::prctl(PR_SET_DUMPABLE, previousDumpable_);
}

void WipeSecret(void* data, std::size_t size)
{
    ::explicit_bzero(data, size);
}

void WipeSecret(std::string& text)
{
    WipeSecret(text.data(), text.capacity());
    text.clear();
}

EchoRestoringSignals::EchoRestoringSignals()
{
    if (::tcgetattr(STDIN_FILENO, &terminalBefore) != 0)
        return;
    terminalAtPrompt = terminalBefore;
    terminalAtPrompt.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    for (const int number : kEndingSignals) {
        ::sigaction(number, nullptr, &previousActions[number]);
        if (previousActions[number].sa_handler != SIG_IGN)
            installHandler(number, onEndingSignal);
    }
    for (const int number : kStoppingSignals) {
        ::sigaction(number, nullptr, &previousActions[number]);
        installHandler(number, onStoppingSignal);
    }
    ::sigaction(SIGCONT, nullptr, &previousActions[SIGCONT]);
    installHandler(SIGCONT, onContinue);
    promptActive = 1;
}

EchoRestoringSignals::~EchoRestoringSignals()
{
    if (promptActive == 0)
        return;
    promptActive = 0;
    for (const int number : kEndingSignals)
        ::sigaction(number, &previousActions[number], nullptr);
    for (const int number : kStoppingSignals)
        ::sigaction(number, &previousActions[number], nullptr);
    ::sigaction(SIGCONT, &previousActions[SIGCONT], nullptr);
}

} // namespace cli
