#include "platform/processid.h"

#include <unistd.h>

namespace platform {

std::uint64_t currentProcessId()
{
    return static_cast<std::uint64_t>(::getpid());
}

} // namespace platform
