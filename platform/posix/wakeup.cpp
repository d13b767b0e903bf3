#include "platform/wakeup.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

Wakeup::Wakeup()
    : descriptor_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

Wakeup::~Wakeup()
{
    release();
}

void Wakeup::release()
{
    if (isValid())
        ::close(static_cast<int>(descriptor_));
    descriptor_ = -1;
}

void Wakeup::wake()
{
    if (!isValid())
        return;
    const std::uint64_t one = 1;
    // Fails only when the counter is near overflow, i.e. already signalled.
    [[maybe_unused]] const ssize_t written = ::write(static_cast<int>(descriptor_), &one, sizeof one);
}

void Wakeup::clear()
{
    if (!isValid())
        return;
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(static_cast<int>(descriptor_), &count, sizeof count);
}

} // namespace platform
