#ifndef CLI_MODULEACCESS_H
#define CLI_MODULEACCESS_H

#include "cli/qortlibrary.h"
#include "cli/qortsession.h"
#include "cli/secret.h"
#include "modules/ethernetconfigfields.h"
#include "modules/modulestore.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// What the commands that talk to modules share: the library and its
// session, the module password, the scan records.

namespace cli {

inline constexpr const char* kPasswordVariable = "SORVINDA_PASSWORD";
inline constexpr const char* kProgramName = "sorvinda"; // in the audit log
// Between the scans that wait for a module to show what it was sent: it may
// answer "Reconfigured" before it has taken the new values on.
inline constexpr std::chrono::milliseconds kVerifyRescanPause{200};

// The loaded library and a started session, or the reason why not.
struct Connection {
    std::optional<QortLibrary> library;
    std::unique_ptr<QortSession> session;
};

// Loads and starts the library; false after saying why on standard error.
bool Connect(Connection& connection);

// The secret from source into field; false after saying why on standard
// error (what names it), also when it is longer than the dialog takes.
bool ReadPassword(const SecretSource& source, const char* what, modules::ConfigText& field);

std::vector<QORT_ModuleScanResponseType> RecordsOf(const modules::ModuleStore& modules);

} // namespace cli

#endif
