#include "app/qortapi.h"

#include "platform/modulepath.h"
#include "platform/sharedlibrary.h"

#include <string>

namespace {

constexpr const char* kLostReplyCountExport = "QORT_GetLostReplyCount";

using LostReplyCountFunction = std::uint32_t (*)();

// Looked up at run time in the very library the program was bound to: the
// loader may have found an older libqort.so.1 that lacks the export, and
// the program must still run with it.
LostReplyCountFunction FindLostReplyCount()
{
    const std::optional<std::string> path = platform::modulePath(reinterpret_cast<const void*>(&QORT_Start));
    if (!path) {
        return nullptr;
    }
    std::string error;
    const std::optional<platform::SharedLibrary> library = platform::SharedLibrary::load(*path, error);
    return library ? reinterpret_cast<LostReplyCountFunction>(library->symbol(kLostReplyCountExport)) : nullptr;
}

} // namespace

const QortApi& LinkedQortApi()
{
    static const QortApi api{
        QORT_RegisterCallBack,
        QORT_Start,
        QORT_SendModuleScan,
        QORT_SendConfigure,
        QORT_SendWink,
        QORT_GetResponse,
        QORT_GetInvPswdMacId,
        QORT_RemoveFirstInvPswdMacId,
        FindLostReplyCount(),
        QORT_GetReconfiguredMacId,
        QORT_RemoveFirstReconfiguredMacId,
    };
    return api;
}
