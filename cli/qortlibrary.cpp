#include "cli/qortlibrary.h"

#include "platform/modulepath.h"

#include <dlfcn.h>
#include <filesystem>

namespace cli {
namespace {

constexpr const char* kLibraryFolder = "lib";

template <typename Function>
bool lookUp(void* handle, const char* name, Function& function, std::string& error)
{
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    if (function == nullptr) {
        error = std::string(QortLibrary::kFileName) + " has no " + name;
        return false;
    }
    return true;
}

// The library in lib/ beside the program's bin/ (the build tree, or an
// installation under one prefix), else the loader's search path. Spelled
// out rather than left to a run path: the loader applies the run path of
// the object that calls dlopen, which under the sanitizers is their
// run-time library, not this program.
std::string LibraryToLoad()
{
    if (const std::optional<std::string> program = platform::modulePath()) {
        const std::filesystem::path beside =
            std::filesystem::path(*program).parent_path().parent_path() / kLibraryFolder / QortLibrary::kFileName;
        std::error_code error;
        if (std::filesystem::exists(beside, error))
            return beside.string();
    }
    return QortLibrary::kFileName;
}

} // namespace

std::optional<QortLibrary> QortLibrary::load(std::string& error)
{
    void* handle = ::dlopen(LibraryToLoad().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : std::string(kFileName) + " cannot be loaded";
        return std::nullopt;
    }
    QortLibrary library;
    const bool complete = lookUp(handle, "QORT_RegisterCallBack", library.registerCallBack, error)
        && lookUp(handle, "QORT_Start", library.start, error)
        && lookUp(handle, "QORT_SendModuleScan", library.sendModuleScan, error)
        && lookUp(handle, "QORT_SendConfigure", library.sendConfigure, error)
        && lookUp(handle, "QORT_SendWink", library.sendWink, error)
        && lookUp(handle, "QORT_GetResponse", library.getResponse, error)
        && lookUp(handle, "QORT_GetInvPswdMacId", library.getInvPswdMacId, error)
        && lookUp(handle, "QORT_RemoveFirstInvPswdMacId", library.removeFirstInvPswdMacId, error);
    if (!complete)
        return std::nullopt;
    library.path = platform::modulePath(reinterpret_cast<const void*>(library.start)).value_or(kFileName);
    return library;
}

} // namespace cli
