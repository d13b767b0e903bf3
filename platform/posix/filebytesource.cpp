#include "platform/bytesource.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileByteSource::FileByteSource(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer; it has no effect on reads of regular files.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0)
        return;
    struct stat st { };
    // Only regular files: a FIFO or device would block or never end.
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
}

FileByteSource::~FileByteSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileByteSource::readAt(std::uint64_t offset, void* out, std::size_t count) const
{
    if (fd_ < 0 || !fitsInside(offset, count, size_))
        return false;
    auto* dst = static_cast<unsigned char*>(out);
    while (count > 0) {
        const ssize_t got = ::pread(fd_, dst, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        dst += got;
        count -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

} // namespace platform
