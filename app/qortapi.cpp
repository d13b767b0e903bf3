#include "app/qortapi.h"

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
    };
    return api;
}
