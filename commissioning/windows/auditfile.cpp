// Windows: the audit log lives in the user's local application data
// (%LOCALAPPDATA%\sorvinda\audit.jsonl), which only that user may read by
// default. Each record is one append of one line.
#include "commissioning/auditlog.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

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

} // namespace

AuditLog AuditLog::forUser()
{
    const std::string localData = environmentText(kLocalDataVariable);
    if (localData.empty())
        return AuditLog(std::filesystem::path());
    return AuditLog(std::filesystem::path(localData) / kFolderName / kFileName);
}

std::optional<std::string> AuditLog::append(const AuditEntry& entry) const
{
    if (!file_.is_absolute())
        return "cannot place the audit log: LOCALAPPDATA is not set";
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error)
        return "cannot create the folder of the audit log " + file_.string() + ": " + error.message();
    std::ofstream file(file_, std::ios::binary | std::ios::app);
    const std::string user = environmentText(kUserVariable);
    file << auditLine(entry, std::time(nullptr), user.empty() ? std::string("unknown") : user) + "\n";
    file.close();
    if (!file)
        return "cannot write the audit log " + file_.string();
    return std::nullopt;
}

} // namespace commissioning
