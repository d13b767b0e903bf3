#include "cli/qortlibrary.h"

#include "platform/modulepath.h"

#include <dlfcn.h>

namespace cli {
namespace {

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

} // namespace

std::optional<QortLibrary> QortLibrary::load(std::string& error)
{
    // Found through the program's run path (build/lib beside build/bin, or
    // the installed library directory), like a linked library.
    void* handle = ::dlopen(kFileName, RTLD_NOW | RTLD_LOCAL);
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
