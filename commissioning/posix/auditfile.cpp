#include "commissioning/auditfile.h"
#include "commissioning/auditlog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace commissioning {
namespace {

constexpr mode_t kFolderMode = 0700; // the log names users and modules: theirs alone
constexpr mode_t kFileMode = 0600;
constexpr mode_t kModeBits = 07777;
constexpr const char* kStateHomeVariable = "XDG_STATE_HOME";
constexpr const char* kStateHomeUnderHome = ".local/state";
constexpr const char* kFolderName = "sorvinda";
constexpr const char* kFileName = "audit.jsonl";
constexpr std::size_t kPasswdBufferSize = 16384;

std::filesystem::path homeFolder()
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in these programs changes its environment
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(kPasswdBufferSize, '\0');
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_dir;
    return {};
}

std::string failure(const std::string& what, const std::filesystem::path& path, int error)
{
    return "cannot " + what + " the audit log " + path.string() + ": " + std::generic_category().message(error);
}

// Creates every missing folder of path with kFolderMode (exactly: the umask
// may not take the owner's rights away).
std::optional<std::string> createFolders(const std::filesystem::path& folder)
{
    std::filesystem::path partial;
    for (const std::filesystem::path& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), kFolderMode) == 0) {
            ::chmod(partial.c_str(), kFolderMode);
        } else if (errno != EEXIST) {
            return failure("create the folder of", folder, errno);
        }
    }
    return std::nullopt;
}

// The log's own folder: no symbolic link, this user's, and 0700 (a folder
// made by hand or by an older program may be open to others).
std::optional<std::string> checkFolder(const std::filesystem::path& file, bool fixMode)
{
    const std::filesystem::path folder = file.parent_path();
    struct stat info { };
    if (::lstat(folder.c_str(), &info) != 0)
        return errno == ENOENT ? std::nullopt : std::optional(failure("reach the folder of", file, errno));
    if (S_ISLNK(info.st_mode))
        return "refused: the folder of the audit log " + file.string() + " is a symbolic link";
    if (!S_ISDIR(info.st_mode))
        return "refused: the folder of the audit log " + file.string() + " is no folder";
    if (info.st_uid != ::geteuid())
        return "refused: the folder of the audit log " + file.string() + " belongs to another user";
    if (fixMode && (info.st_mode & kModeBits) != kFolderMode && ::chmod(folder.c_str(), kFolderMode) != 0)
        return failure("make private the folder of", file, errno);
    return std::nullopt;
}

// The file just opened: a regular file of this user (O_NOFOLLOW already
// refused a symbolic link).
std::optional<std::string> checkOpened(int fd, const std::filesystem::path& file)
{
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        return failure("inspect", file, errno);
    if (!S_ISREG(info.st_mode))
        return "refused: the audit log " + file.string() + " is not a regular file";
    if (info.st_uid != ::geteuid())
        return "refused: the audit log " + file.string() + " belongs to another user";
    return std::nullopt;
}

std::string openFailure(const std::filesystem::path& file, int error)
{
    if (error == ELOOP)
        return "refused: the audit log " + file.string() + " is a symbolic link";
    if (error == EISDIR)
        return "refused: the audit log " + file.string() + " is not a regular file";
    return failure("open", file, error);
}

bool endsInNewline(int fd) noexcept
{
    struct stat info { };
    if (::fstat(fd, &info) != 0 || info.st_size == 0)
        return true;
    char last = '\n';
    // lseek and read, not pread: both are async-signal-safe. The writes
    // append (O_APPEND) wherever the offset is.
    if (::lseek(fd, info.st_size - 1, SEEK_SET) < 0 || ::read(fd, &last, 1) != 1)
        return true;
    return last == '\n';
}

ssize_t writeAll(int fd, const char* text, std::size_t size) noexcept
{
    ssize_t written = 0;
    do {
        written = ::write(fd, text, size);
    } while (written < 0 && errno == EINTR);
    return written;
}

} // namespace

namespace auditfile {

int openForAppend(const std::filesystem::path& file, std::string& error)
{
    if (auto failed = createFolders(file.parent_path())) {
        error = *failed;
        return -1;
    }
    if (auto failed = checkFolder(file, true)) {
        error = *failed;
        return -1;
    }
    const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode);
    if (fd < 0) {
        error = openFailure(file, errno);
        return -1;
    }
    if (auto failed = checkOpened(fd, file)) {
        error = *failed;
        ::close(fd);
        return -1;
    }
    // A file made by hand or by an older program may be readable by others.
    ::fchmod(fd, kFileMode);
    return fd;
}

std::optional<std::string> appendText(int fd, const std::string& text, const std::filesystem::path& file)
{
    const std::string record = endsInNewline(fd) ? text : "\n" + text;
    errno = 0;
    const ssize_t written = writeAll(fd, record.data(), record.size());
    if (written < 0)
        return failure("write", file, errno);
    if (static_cast<std::size_t>(written) != record.size()) {
        // End the cut line so that the next record starts on its own line.
        const int error = errno == 0 ? ENOSPC : errno;
        [[maybe_unused]] const ssize_t ended = writeAll(fd, "\n", 1);
        return failure("write", file, error);
    }
    if (::fsync(fd) != 0)
        return failure("write", file, errno);
    return std::nullopt;
}

void appendFromSignal(int fd, const char* text, std::size_t size) noexcept
{
    const int savedErrno = errno;
    if (size > 0 && text[0] == '\n' && endsInNewline(fd)) {
        ++text;
        --size;
    }
    [[maybe_unused]] const ssize_t written = writeAll(fd, text, size);
    errno = savedErrno;
}

void flushFromSignal(int fd) noexcept
{
    const int savedErrno = errno;
    ::fsync(fd);
    errno = savedErrno;
}

void closeFile(int fd)
{
    ::close(fd);
}

int openForReading(const std::filesystem::path& file, std::string& error)
{
    if (auto failed = checkFolder(file, false)) {
        error = *failed;
        return -1;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno != ENOENT)
            error = openFailure(file, errno);
        return -1;
    }
    if (auto failed = checkOpened(fd, file)) {
        error = *failed;
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint64_t fileSize(int fd)
{
    struct stat info { };
    return ::fstat(fd, &info) == 0 && info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

bool readAt(int fd, std::uint64_t offset, char* out, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

std::time_t timeNowFromSignal() noexcept
{
    struct timespec now { };
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

const char* unplacedReason()
{
    return "cannot place the audit log: neither XDG_STATE_HOME nor a home folder is known";
}

std::string userName()
{
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(kPasswdBufferSize, '\0');
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(::geteuid());
}

} // namespace auditfile

AuditLog AuditLog::forUser()
{
    std::filesystem::path state;
    // A relative XDG_STATE_HOME is invalid and ignored.
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in these programs changes its environment
    if (const char* home = std::getenv(kStateHomeVariable); home != nullptr && *home == '/')
        state = home;
    else
        state = homeFolder() / kStateHomeUnderHome;
    return AuditLog(state / kFolderName / kFileName);
}

} // namespace commissioning
