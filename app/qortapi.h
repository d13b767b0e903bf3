#pragma once

#include "protocol/qort.h"

#include <cstdint>

// The library functions the main window calls, as a table. The program uses
// the library's own exports; tests put counting stand-ins in their place to
// see which calls were made (for example that a refused library is never
// started).
struct QortApi {
    void (*RegisterCallBack)(QORT_CallBackType callback);
    int (*Start)();
    int (*SendModuleScan)();
    void (*SendConfigure)(const QORT_ConfigureRequestType* request);
    void (*SendWink)(const QORT_ConfigureRequestType* request);
    int (*GetResponse)(QORT_ModuleScanResponseType* response);
    int (*GetInvPswdMacId)(std::uint8_t* macId);
    void (*RemoveFirstInvPswdMacId)();
    // Optional: null with a library too old to count the replies it lost.
    std::uint32_t (*GetLostReplyCount)();
    // Which module answered "Reconfigured:", as for the invalid-password queue.
    int (*GetReconfiguredMacId)(std::uint8_t* macId);
    void (*RemoveFirstReconfiguredMacId)();
};

// The table of the linked libqort.
const QortApi& LinkedQortApi();
