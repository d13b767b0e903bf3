#include "platform/bytesource.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <limits>
#include <string>

namespace platform {

namespace {

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// Paths are UTF-8 in this program; Windows opens UTF-16 names.
std::wstring widened(const std::string& path)
{
    const int count = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (count <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), count);
    wide.resize(static_cast<std::size_t>(count - 1));
    return wide;
}

} // namespace

FileByteSource::FileByteSource(const std::string& path)
{
    const std::wstring wide = widened(path);
    if (wide.empty())
        return;
    fd_ = ::_wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd_ < 0)
        return;
    // Only regular files: a pipe or device would block or never end.
    LARGE_INTEGER size{};
    if (::GetFileType(handleOf(fd_)) != FILE_TYPE_DISK || !::GetFileSizeEx(handleOf(fd_), &size)) {
        ::_close(fd_);
        fd_ = -1;
        return;
    }
    size_ = static_cast<std::uint64_t>(size.QuadPart);
}

FileByteSource::~FileByteSource()
{
    if (fd_ >= 0)
        ::_close(fd_);
}

// ReadFile with the offset in an OVERLAPPED record reads at that offset on
// a synchronous handle, like pread.
bool FileByteSource::readAt(std::uint64_t offset, void* out, std::size_t count) const
{
    if (fd_ < 0 || !fitsInside(offset, count, size_))
        return false;
    auto* dst = static_cast<unsigned char*>(out);
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, std::numeric_limits<DWORD>::max()));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(handleOf(fd_), dst, chunk, &got, &at) || got == 0)
            return false;
        dst += got;
        count -= got;
        offset += got;
    }
    return true;
}

} // namespace platform
