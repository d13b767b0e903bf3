// Windows: a console program leaves no core file, and the console's own
// input mode is given back by the prompt itself (platform/windows/terminal).
#include "cli/secretguard.h"

#include <windows.h>

namespace cli {

SecretHolding::SecretHolding()
    : previousDumpable_(0)
{
}

SecretHolding::~SecretHolding() = default;

void WipeSecret(void* data, std::size_t size)
{
    ::SecureZeroMemory(data, size);
}

void WipeSecret(std::string& text)
{
    WipeSecret(text.data(), text.capacity());
    text.clear();
}

EchoRestoringSignals::EchoRestoringSignals() = default;
EchoRestoringSignals::~EchoRestoringSignals() = default;

} // namespace cli
