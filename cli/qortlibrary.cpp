#include "cli/qortlibrary.h"

#include "platform/modulepath.h"
#include "platform/sharedlibrary.h"

#include <filesystem>

namespace cli {
namespace {

constexpr int kLibraryMajorVersion = 1;

template <typename Function>
bool lookUp(const platform::SharedLibrary& handle, const char* name, Function& function, std::string& error)
{
    function = reinterpret_cast<Function>(handle.symbol(name));
    if (function == nullptr) {
        error = QortLibrary::fileName() + " has no " + name;
        return false;
    }
    return true;
}

// The library where the program's own libraries are installed (lib/ beside
// bin/ on Linux, the program's folder on Windows), else the loader's search
// path. Spelled out rather than left to a run path: the loader applies the
// run path of the object that calls dlopen, which under the sanitizers is
// their run-time library, not this program.
std::filesystem::path LibraryToLoad()
{
    if (const std::optional<std::string> program = platform::modulePath()) {
        std::filesystem::path beside = platform::SharedLibrary::folderFor(*program) / QortLibrary::fileName();
        std::error_code error;
        if (std::filesystem::exists(beside, error))
            return beside;
    }
    return QortLibrary::fileName();
}

} // namespace

std::string QortLibrary::fileName()
{
    return platform::SharedLibrary::fileName("qort", kLibraryMajorVersion);
}

std::optional<QortLibrary> QortLibrary::load(std::string& error)
{
    const std::optional<platform::SharedLibrary> handle = platform::SharedLibrary::load(LibraryToLoad(), error);
    if (!handle)
        return std::nullopt;
    QortLibrary library;
    const bool complete = lookUp(*handle, "QORT_RegisterCallBack", library.registerCallBack, error)
        && lookUp(*handle, "QORT_Start", library.start, error)
        && lookUp(*handle, "QORT_SendModuleScan", library.sendModuleScan, error)
        && lookUp(*handle, "QORT_SendConfigure", library.sendConfigure, error)
        && lookUp(*handle, "QORT_SendWink", library.sendWink, error)
        && lookUp(*handle, "QORT_GetResponse", library.getResponse, error)
        && lookUp(*handle, "QORT_GetInvPswdMacId", library.getInvPswdMacId, error)
        && lookUp(*handle, "QORT_RemoveFirstInvPswdMacId", library.removeFirstInvPswdMacId, error)
        && lookUp(*handle, "QORT_GetReconfiguredMacId", library.getReconfiguredMacId, error)
        && lookUp(*handle, "QORT_RemoveFirstReconfiguredMacId", library.removeFirstReconfiguredMacId, error);
    if (!complete)
        return std::nullopt;
    library.getLostReplyCount =
        reinterpret_cast<decltype(library.getLostReplyCount)>(handle->symbol("QORT_GetLostReplyCount"));
    library.path = platform::modulePath(reinterpret_cast<const void*>(library.start)).value_or(fileName());
    return library;
}

} // namespace cli
