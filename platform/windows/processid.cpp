#include "platform/processid.h"

#include <windows.h>

namespace platform {

std::uint64_t currentProcessId()
{
    return ::GetCurrentProcessId();
}

} // namespace platform
