#ifndef CLI_QORTLIBRARY_H
#define CLI_QORTLIBRARY_H

#include "protocol/qort.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// libqort's functions, taken from the shared library at run time. sorvinda
// loads the library only for the commands that talk to modules: its
// load-time set-up binds UDP port 3250, which the recovery DHCP server and
// --help have no use for (and which another program may hold).
struct QortLibrary {
    // libqort.so.1 or qort.dll.
    static std::string fileName();

    void (*registerCallBack)(QORT_CallBackType callback) = nullptr;
    int (*start)() = nullptr;
    int (*sendModuleScan)() = nullptr;
    void (*sendConfigure)(const QORT_ConfigureRequestType* request) = nullptr;
    void (*sendWink)(const QORT_ConfigureRequestType* request) = nullptr;
    int (*getResponse)(QORT_ModuleScanResponseType* response) = nullptr;
    int (*getInvPswdMacId)(std::uint8_t* macId) = nullptr;
    void (*removeFirstInvPswdMacId)() = nullptr;
    int (*getReconfiguredMacId)(std::uint8_t* macId) = nullptr;
    void (*removeFirstReconfiguredMacId)() = nullptr;
    // Optional: an older library lacks it (then null).
    std::uint32_t (*getLostReplyCount)() = nullptr;
    // Where the dynamic loader found the library.
    std::string path;

    // Loads the library (once per process; it stays loaded until exit, as
    // its unload step joins its receive thread) and looks up every function
    // (getLostReplyCount when there is one).
    // Nothing when it cannot be loaded or lacks a function; error says why.
    static std::optional<QortLibrary> load(std::string& error);
};

} // namespace cli

#endif
