#ifndef CLI_SECRETGUARD_H
#define CLI_SECRETGUARD_H

#include <cstddef>
#include <string>

// Keeping a password from leaking out of the command line: into a core
// file, out of memory it no longer needs, or as a terminal left without
// echo.

namespace cli {

// While one exists the process is not dumpable: no core file, and other
// processes of the same user may not read its memory.
class SecretHolding {
public:
    SecretHolding();
    ~SecretHolding();
    SecretHolding(const SecretHolding&) = delete;
    SecretHolding& operator=(const SecretHolding&) = delete;

private:
    int previousDumpable_;
};

// Clears memory that held a secret; a write the compiler may not drop as
// unused.
void WipeSecret(void* data, std::size_t size);
// Its whole buffer (also beyond its size), then empties it.
void WipeSecret(std::string& text);

// While one exists (around a prompt without echo): a signal that ends the
// program gives the terminal the settings it had when this was made; one
// that stops it (Ctrl+Z, a read or write from the background) gives them
// back before it stops, and the prompt's settings are set again when it
// continues.
class EchoRestoringSignals {
public:
    EchoRestoringSignals();
    ~EchoRestoringSignals();
    EchoRestoringSignals(const EchoRestoringSignals&) = delete;
    EchoRestoringSignals& operator=(const EchoRestoringSignals&) = delete;
};

} // namespace cli

#endif
