// Windows: the audit log lives in the user's local application data
// (%LOCALAPPDATA%\sorvinda\audit.jsonl), which only that user may read by
// default. Each record is one append of whole lines, flushed to the disk.
// A console control handler runs on a thread of its own, so the "signal"
// calls here are ordinary ones.
#include "commissioning/auditfile.h"
#include "commissioning/auditlog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace commissioning {
namespace {

constexpr const char* kLocalDataVariable = "LOCALAPPDATA";
constexpr const char* kUserVariable = "USERNAME";
constexpr const char* kFolderName = "sorvinda";
constexpr const char* kFileName = "audit.jsonl";

std::string environmentText(const char* name)
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in these programs changes its environment
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string failure(const std::string& what, const std::filesystem::path& path, int error)
{
    return "cannot " + what + " the audit log " + path.string() + ": " + std::generic_category().message(error);
}

bool endsInNewline(int fd)
{
    const long long size = ::_lseeki64(fd, 0, SEEK_END);
    char last = '\n';
    if (size <= 0 || ::_lseeki64(fd, size - 1, SEEK_SET) < 0 || ::_read(fd, &last, 1) != 1)
        return true;
    return last == '\n';
}

} // namespace

namespace auditfile {

int openForAppend(const std::filesystem::path& file, std::string& error)
{
    std::error_code created;
    std::filesystem::create_directories(file.parent_path(), created);
    if (created) {
        error = "cannot create the folder of the audit log " + file.string() + ": " + created.message();
        return -1;
    }
    if (std::filesystem::is_symlink(file)) {
        error = "refused: the audit log " + file.string() + " is a symbolic link";
        return -1;
    }
    const int fd = ::_wopen(file.c_str(), _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        error = failure("open", file, errno);
    return fd;
}

std::optional<std::string> appendText(int fd, const std::string& text, const std::filesystem::path& file)
{
    const std::string record = endsInNewline(fd) ? text : "\n" + text;
    const int written = ::_write(fd, record.data(), static_cast<unsigned>(record.size()));
    if (written < 0 || static_cast<std::size_t>(written) != record.size() || ::_commit(fd) != 0)
        return failure("write", file, errno == 0 ? ENOSPC : errno);
    return std::nullopt;
}

void appendFromSignal(int fd, const char* text, std::size_t size) noexcept
{
    if (size > 0 && text[0] == '\n' && endsInNewline(fd)) {
        ++text;
        --size;
    }
    static_cast<void>(::_write(fd, text, static_cast<unsigned>(size)));
}

void flushFromSignal(int fd) noexcept
{
    static_cast<void>(::_commit(fd));
}

void closeFile(int fd)
{
    ::_close(fd);
}

int openForReading(const std::filesystem::path& file, std::string& error)
{
    if (std::filesystem::is_symlink(file)) {
        error = "refused: the audit log " + file.string() + " is a symbolic link";
        return -1;
    }
    const int fd = ::_wopen(file.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0 && errno != ENOENT)
        error = failure("open", file, errno);
    return fd;
}

std::uint64_t fileSize(int fd)
{
    const long long size = ::_lseeki64(fd, 0, SEEK_END);
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

bool readAt(int fd, std::uint64_t offset, char* out, std::size_t size)
{
    if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0)
        return false;
    while (size > 0) {
        const int got = ::_read(fd, out, static_cast<unsigned>(size));
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::time_t timeNowFromSignal() noexcept
{
    return std::time(nullptr);
}

std::string userName()
{
    const std::string user = environmentText(kUserVariable);
    return user.empty() ? std::string("unknown") : user;
}

} // namespace auditfile

AuditLog AuditLog::forUser()
{
    const std::string localData = environmentText(kLocalDataVariable);
    if (localData.empty())
        return AuditLog(std::filesystem::path());
    return AuditLog(std::filesystem::path(localData) / kFolderName / kFileName);
}

} // namespace commissioning
