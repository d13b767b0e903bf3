#include "commissioning/auditlog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace commissioning {
namespace {

constexpr mode_t kFolderMode = 0700; // the log names users and modules: theirs alone
constexpr mode_t kFileMode = 0600;
constexpr const char* kStateHomeVariable = "XDG_STATE_HOME";
constexpr const char* kStateHomeUnderHome = ".local/state";
constexpr const char* kFolderName = "sorvinda";
constexpr const char* kFileName = "audit.jsonl";
constexpr std::size_t kPasswdBufferSize = 16384;

std::string userName()
{
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(kPasswdBufferSize, '\0');
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(::geteuid());
}

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

std::optional<std::string> writeWhole(int fd, const std::string& text, const std::filesystem::path& path)
{
    ssize_t written = 0;
    do {
        written = ::write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0)
        return failure("write", path, errno);
    if (static_cast<std::size_t>(written) != text.size()) {
        // End the cut line so that the next record starts on its own line;
        // the reader skips the cut one.
        const int error = errno == 0 ? ENOSPC : errno;
        [[maybe_unused]] const ssize_t ended = ::write(fd, "\n", 1);
        return failure("write", path, error);
    }
    return std::nullopt;
}

} // namespace

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

std::optional<std::string> AuditLog::append(const AuditEntry& entry) const
{
    if (!file_.is_absolute())
        return "cannot place the audit log: neither XDG_STATE_HOME nor a home folder is known";
    if (auto error = createFolders(file_.parent_path()))
        return error;
    const int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode);
    if (fd < 0)
        return failure("open", file_, errno);
    // A file made by hand or by an older program may be readable by others.
    ::fchmod(fd, kFileMode);
    errno = 0;
    auto error = writeWhole(fd, auditLine(entry, std::time(nullptr), userName()) + "\n", file_);
    if (::close(fd) != 0 && !error)
        error = failure("write", file_, errno);
    return error;
}

} // namespace commissioning
