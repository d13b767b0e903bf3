// Windows: the audit log lives in the user's local application data
// (%LOCALAPPDATA%\sorvinda\audit.jsonl), which only that user may read by
// default. Each record is one append of whole lines, flushed to the disk.
// A console control handler runs on a thread of its own, so the "signal"
// calls here are ordinary ones; they read at explicit offsets, never through
// the file position the other thread may be using.
//
// Records of programs writing at once must never overwrite each other: the
// C runtime's append mode seeks to the end and then writes, two steps
// another program can come between (wine loses records that way). So the
// file is opened for appending only (FILE_APPEND_DATA without
// FILE_WRITE_DATA: Windows puts every write at the end), and the writers
// take turns besides: each holds an exclusive lock on one byte far past any
// end the file reaches while it looks at the last byte and appends. A
// symbolic link or junction (a reparse point) as the file
// or as its folder is refused: mingw's std::filesystem does not report
// links on Windows, so the attributes are asked directly, and the file is
// opened as the link itself (FILE_FLAG_OPEN_REPARSE_POINT) and checked again,
// so a link put in place between the check and the opening is refused too.
#include "commissioning/auditfile.h"
#include "commissioning/auditlog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace commissioning {
namespace {

constexpr const char* kLocalDataVariable = "LOCALAPPDATA";
constexpr const char* kUserVariable = "USERNAME";
constexpr const char* kFolderName = "sorvinda";
constexpr const char* kFileName = "audit.jsonl";
// Others may read, append and rename while the log is open: several
// programs append at once, and a user may move a full log away.
constexpr DWORD kShareWithOthers = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

std::string systemFailure(const std::string& what, const std::filesystem::path& path, DWORD error)
{
    return "cannot " + what + " the audit log " + path.string() + ": "
        + std::system_category().message(static_cast<int>(error));
}

bool isMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

HANDLE handleOf(int fd)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands out the system's handle as a number
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// size bytes at offset, without the file position; false when they could not all be read.
bool readAtOffset(HANDLE handle, std::uint64_t offset, char* out, std::size_t size)
{
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32U);
        const DWORD asked = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
        DWORD got = 0;
        if (::ReadFile(handle, out, asked, &got, &at) == 0 || got == 0)
            return false;
        out += got;
        offset += got;
        size -= got;
    }
    return true;
}

std::uint64_t sizeOf(HANDLE handle)
{
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(handle, &size) != 0 && size.QuadPart > 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

// The writers' turn: a lock on a byte no read or write ever reaches (byte
// locks on Windows are mandatory for the bytes they cover). Released when
// this ends, or by the system when the program ends holding it.
class AppendTurn {
public:
    explicit AppendTurn(int fd)
        : handle_(handleOf(fd))
    {
        at_.Offset = kTurnByteLow;
        at_.OffsetHigh = kTurnByteHigh;
        held_ = ::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at_) != 0;
    }
    ~AppendTurn()
    {
        if (held_)
            ::UnlockFileEx(handle_, 0, 1, 0, &at_);
    }
    AppendTurn(const AppendTurn&) = delete;
    AppendTurn& operator=(const AppendTurn&) = delete;

private:
    static constexpr DWORD kTurnByteLow = 0xFFFFFFFE;
    static constexpr DWORD kTurnByteHigh = 0x7FFFFFFF;
    HANDLE handle_;
    OVERLAPPED at_{};
    bool held_ = false;
};

bool endsInNewline(int fd)
{
    const HANDLE handle = handleOf(fd);
    const std::uint64_t size = sizeOf(handle);
    char last = '\n';
    if (size == 0 || !readAtOffset(handle, size - 1, &last, 1))
        return true;
    return last == '\n';
}

// The log's own folder: no link, and a folder. Missing is no refusal (the
// writer creates it, the reader finds nothing).
std::optional<std::string> checkFolder(const std::filesystem::path& file)
{
    const DWORD attributes = ::GetFileAttributesW(file.parent_path().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return isMissing(error) ? std::nullopt : std::optional(systemFailure("reach the folder of", file, error));
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "refused: the folder of the audit log " + file.string() + " is a symbolic link";
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return "refused: the folder of the audit log " + file.string() + " is no folder";
    return std::nullopt;
}

// The file's attributes, as found at its name or as opened: a link or a
// folder is refused.
std::optional<std::string> refusedAttributes(DWORD attributes, const std::filesystem::path& file)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "refused: the audit log " + file.string() + " is a symbolic link";
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "refused: the audit log " + file.string() + " is not a regular file";
    return std::nullopt;
}

// Opens file with access (creating it when disposition says so) and the
// checks the writer and the reader share; a C runtime descriptor with
// flags, -1 with error set, or -1 with error empty when the file is missing
// and disposition does not create it.
int openChecked(const std::filesystem::path& file, DWORD access, DWORD disposition, int flags, std::string& error)
{
    if (auto refused = checkFolder(file)) {
        error = *refused;
        return -1;
    }
    if (const DWORD attributes = ::GetFileAttributesW(file.c_str()); attributes != INVALID_FILE_ATTRIBUTES) {
        if (auto refused = refusedAttributes(attributes, file)) {
            error = *refused;
            return -1;
        }
    }
    const HANDLE handle = ::CreateFileW(file.c_str(), access, kShareWithOthers, nullptr, disposition,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD failed = ::GetLastError();
        if (!(disposition == OPEN_EXISTING && isMissing(failed)))
            error = systemFailure("open", file, failed);
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION opened{};
    if (::GetFileInformationByHandle(handle, &opened) == 0) {
        error = systemFailure("open", file, ::GetLastError());
        ::CloseHandle(handle);
        return -1;
    }
    if (auto refused = refusedAttributes(opened.dwFileAttributes, file)) {
        error = *refused;
        ::CloseHandle(handle);
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        error = failure("open", file, errno);
        ::CloseHandle(handle);
    }
    return fd;
}

} // namespace

namespace auditfile {

int openForAppend(const std::filesystem::path& file, std::string& error)
{
    if (auto refused = checkFolder(file)) {
        error = *refused;
        return -1;
    }
    std::error_code created;
    std::filesystem::create_directories(file.parent_path(), created);
    if (created) {
        error = "cannot create the folder of the audit log " + file.string() + ": " + created.message();
        return -1;
    }
    // Reading too: a record after a cut last line starts with a newline.
    return openChecked(file, GENERIC_READ | FILE_APPEND_DATA, OPEN_ALWAYS, _O_BINARY, error);
}

std::optional<std::string> appendText(int fd, const std::string& text, const std::filesystem::path& file)
{
    const AppendTurn turn(fd);
    const std::string record = endsInNewline(fd) ? text : "\n" + text;
    const int written = ::_write(fd, record.data(), static_cast<unsigned>(record.size()));
    if (written < 0 || static_cast<std::size_t>(written) != record.size() || ::_commit(fd) != 0)
        return failure("write", file, errno == 0 ? ENOSPC : errno);
    return std::nullopt;
}

void appendFromSignal(int fd, const char* text, std::size_t size) noexcept
{
    // The main thread may be appending: its turn ends when its write is done.
    const AppendTurn turn(fd);
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
    return openChecked(file, GENERIC_READ, OPEN_EXISTING, _O_RDONLY | _O_BINARY, error);
}

std::uint64_t fileSize(int fd)
{
    return sizeOf(handleOf(fd));
}

bool readAt(int fd, std::uint64_t offset, char* out, std::size_t size)
{
    return readAtOffset(handleOf(fd), offset, out, size);
}

std::time_t timeNowFromSignal() noexcept
{
    return std::time(nullptr);
}

const char* unplacedReason()
{
    return "cannot place the audit log: LOCALAPPDATA is not set";
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
