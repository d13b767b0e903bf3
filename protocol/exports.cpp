// The ten exported functions: thin entries into the library's engine that
// check their pointer arguments at the boundary.
#include "platform/modulepath.h"
#include "protocol/library.h"
#include "protocol/qort.h"

#include <cstdint>
#include <mutex>

namespace {

// The platform's "invalid pointer" result (E_POINTER), for a null record.
constexpr long kInvalidPointerResult = static_cast<std::int32_t>(0x80004003u);

// A started library stays mapped until the process ends. Its receive
// thread runs the library's code and calls the program back from it; if a
// dlclose()/FreeLibrary() (from the callback, or from another thread while a
// callback runs) could unmap the library, that thread would return into
// unmapped memory. Pinned, such a call only releases a handle; the unload
// step then runs at process exit.
void keepLoadedUntilExit()
{
    static std::once_flag pinned;
    std::call_once(pinned, [] { platform::pinModule(reinterpret_cast<const void*>(&keepLoadedUntilExit)); });
}

} // namespace

extern "C" {

QORT_EXPORT int QORT_Start(void)
{
    const int started = qort::libraryEngine().start();
    if (started == 1)
        keepLoadedUntilExit();
    return started;
}

QORT_EXPORT int QORT_SendModuleScan(void)
{
    return qort::libraryEngine().sendModuleScan();
}

QORT_EXPORT uint32_t QORT_GetLostReplyCount(void)
{
    return qort::libraryEngine().lostReplies();
}

QORT_EXPORT void QORT_SendConfigure(const QORT_ConfigureRequestType* request)
{
    if (request != nullptr)
        qort::libraryEngine().sendConfigure(*request);
}

QORT_EXPORT void QORT_SendWink(const QORT_ConfigureRequestType* request)
{
    if (request != nullptr)
        qort::libraryEngine().sendWink(*request);
}

QORT_EXPORT void QORT_RegisterCallBack(QORT_CallBackType callback)
{
    qort::libraryEngine().registerCallback(callback);
}

QORT_EXPORT int QORT_GetResponse(QORT_ModuleScanResponseType* response)
{
    return response != nullptr ? qort::libraryEngine().takeResponse(*response) : 0;
}

QORT_EXPORT int QORT_GetInvPswdMacId(uint8_t* macId)
{
    return macId != nullptr ? qort::libraryEngine().peekInvalidPasswordMac(macId) : 0;
}

QORT_EXPORT void QORT_RemoveFirstInvPswdMacId(void)
{
    qort::libraryEngine().dropInvalidPasswordMac();
}

QORT_EXPORT int QORT_GetReconfiguredMacId(uint8_t* macId)
{
    return macId != nullptr ? qort::libraryEngine().peekReconfiguredMac(macId) : 0;
}

QORT_EXPORT void QORT_RemoveFirstReconfiguredMacId(void)
{
    qort::libraryEngine().dropReconfiguredMac();
}

// The numbers come from the build (SORVINDA_QORT_VERSION). cbSize is not
// read: callers of this library are known to leave it unset.
QORT_EXPORT long QORT_DLLVERSION_CALL DllGetVersion(DLLVERSIONINFO* info)
{
    if (info == nullptr)
        return kInvalidPointerResult;
    info->dwMajorVersion = QORT_VERSION_MAJOR;
    info->dwMinorVersion = QORT_VERSION_MINOR;
    info->dwBuildNumber = QORT_VERSION_BUILD;
    info->dwPlatformID = DLLVER_PLATFORM_WINDOWS;
    return 0;
}

} // extern "C"
