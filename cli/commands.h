#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include "cli/scanoutput.h"
#include "modules/configurerequest.h"
#include "modules/macaddress.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// Exit statuses of sorvinda.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // no module answered a scan; the library or port 67 failed
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInvalidPassword = 3;
inline constexpr int kExitNoAnswer = 4;
inline constexpr int kExitNoWink = 5;
inline constexpr int kExitAddressInUse = 6;  // refused: another device holds the new address
inline constexpr int kExitNotVerified = 7;   // answered, but a later scan shows other values
inline constexpr int kExitPlanRowFailed = 8; // apply: a row neither changed nor unchanged

inline constexpr std::chrono::milliseconds kDefaultWait{1500};
inline constexpr int kMaxWaitMs = 600000;

struct ScanOptions {
    std::chrono::milliseconds wait = kDefaultWait;
    ScanFormat format = ScanFormat::kTable;
    modules::SortOrder order; // by IP, ascending, as the window starts
};

// Each value as given on the command line; absent: keep what the module
// reported.
struct ConfigureOptions {
    modules::MacAddress mac{};
    modules::GivenSettings settings;
    bool changePassword = false;
    std::optional<std::string> passwordFile, newPasswordFile;
    bool force = false; // write even to an address another device holds
    std::chrono::milliseconds wait = kDefaultWait;
};

struct WinkOptions {
    modules::MacAddress mac{};
    std::chrono::milliseconds wait = kDefaultWait;
};

struct DiffOptions {
    std::string before, after; // two `scan --format json` files
    bool json = false;
};

struct WatchOptions {
    double intervalSeconds = 10; // from the start of one scan to the next
    int missingAfter = 3;        // scans in a row without an answer
    std::optional<std::string> eventsFile, stateFile;
    std::string site;                // empty: this computer's host name
    std::optional<std::string> mqtt; // --mqtt [mqtt[s]://]HOST[:PORT] or a UNIX socket path
    std::optional<std::string> mqttCaFile, mqttCaPath, mqttCert, mqttKey; // TLS
    std::optional<std::string> mqttUser, mqttPasswordFile;
    bool mqttInsecure = false;                // the broker's name is not checked against its certificate
    std::optional<std::string> metricsListen; // --metrics-listen ADDR:PORT

    // --metrics-web-config FILE: TLS and logins for the metrics endpoint
    std::optional<std::string> metricsWebConfig;
};

struct ApplyOptions {
    std::string plan; // the CSV file
    bool dryRun = false;
    bool force = false; // write conflict rows too
    std::optional<std::string> passwordFile;
    std::chrono::milliseconds wait = kDefaultWait;
};

enum class ExportFormat { kKea, kDnsmasq };

struct PlanExportOptions {
    std::string plan;
    ExportFormat format = ExportFormat::kKea;
};

struct DhcpServerOptions {
    std::optional<std::string> logPath;
};

int RunScan(const ScanOptions& options);
int RunConfigure(const ConfigureOptions& options);
// Puts back the values the newest verified write of options.mac found
// (from the audit log), with configure's checks; only mac, passwordFile,
// force and wait are read.
int RunUndo(const ConfigureOptions& options);
int RunWink(const WinkOptions& options);
// A plan's dry run, or its writes and their verification.
int RunApply(const ApplyOptions& options);
// The plan's MAC-to-address pairs for a DHCP server, on standard output.
int RunPlanExport(const PlanExportOptions& options);
int RunDhcpServer(const DhcpServerOptions& options);
// 0 without differences, 1 with some, 2 when a file is no scan list.
int RunDiff(const DiffOptions& options);
// Until SIGTERM or SIGINT: 0 then, 1 when it could not start.
int RunWatch(const WatchOptions& options);
int PrintVersions();
// Exit status 0 when a scan could be sent, 1 otherwise.
int RunDoctor();

// "sorvinda: <text>" on standard error.
void Complain(const std::string& text);

} // namespace cli

#endif
