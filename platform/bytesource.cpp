#include "platform/bytesource.h"

#include <cstring>

namespace platform {

bool fitsInside(std::uint64_t offset, std::size_t count, std::uint64_t size)
{
    return offset <= size && count <= size - offset;
}

bool MemoryByteSource::readAt(std::uint64_t offset, void* out, std::size_t count) const
{
    if (!fitsInside(offset, count, bytes_.size()))
        return false;
    if (count != 0)
        std::memcpy(out, bytes_.data() + offset, count);
    return true;
}

} // namespace platform
