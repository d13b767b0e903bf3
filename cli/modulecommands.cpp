// scan, configure and wink: the commands that talk to modules through
// libqort.
#include "modules/winkrule.h"
#include "cli/commands.h"
#include "cli/qortsession.h"
#include "cli/secret.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/configurerequest.h"
#include "diagnostics/scanfailure.h"
#include "platform/textescape.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace cli {
namespace {

constexpr const char* kPasswordVariable = "SORVINDA_PASSWORD";
constexpr const char* kNewPasswordVariable = "SORVINDA_NEW_PASSWORD";
constexpr const char* kNoWinkText = "Device does not support wink.";

// The loaded library and a started session, or the reason why not.
struct Connection {
    std::optional<QortLibrary> library;
    std::unique_ptr<QortSession> session;
};

bool Connect(Connection& connection)
{
    std::string error;
    connection.library = QortLibrary::load(error);
    if (!connection.library) {
        Complain("cannot load libqort: " + error);
        return false;
    }
    connection.session = std::make_unique<QortSession>(*connection.library);
    if (!connection.session->start()) {
        Complain("libqort did not start (is UDP port 3250 free?)");
        return false;
    }
    return true;
}

std::string WaitText(std::chrono::milliseconds wait)
{
    return std::to_string(wait.count()) + " ms";
}

// Scans until the module with mac answers; its first reply, or nothing
// (then said on standard error).
std::optional<QORT_ModuleScanResponseType> FindModule(
    QortSession& session, const devicelist::MacAddress& mac, std::chrono::milliseconds wait)
{
    devicelist::ModuleStore modules;
    if (!session.scan(wait, modules, [&mac](const devicelist::ModuleStore& m) { return m.Contains(mac); })) {
        Complain(diagnostics::scanFailureText(diagnostics::diagnoseScanFailure()));
        return std::nullopt;
    }
    std::optional<QORT_ModuleScanResponseType> found = modules.FindModule(mac);
    if (!found)
        Complain("no module " + devicelist::FormatMac(mac) + " answered within " + WaitText(wait));
    return found;
}

// What configure and wink do first: load and start the library, then scan
// for the module. kExitOk with the module's first reply in found, else the
// exit status (the reason already said on standard error).
int ConnectAndFind(Connection& connection, const devicelist::MacAddress& mac, std::chrono::milliseconds wait,
    QORT_ModuleScanResponseType& found)
{
    if (!Connect(connection))
        return kExitFailed;
    const std::optional<QORT_ModuleScanResponseType> reply = FindModule(*connection.session, mac, wait);
    if (!reply)
        return kExitNoAnswer;
    found = *reply;
    return kExitOk;
}

// Sets an address the module reported; one it did not report is locked in
// the window's dialog, and so it is here.
bool ApplyAddress(const char* option, const std::optional<std::uint32_t>& given, std::uint8_t valid,
    std::uint32_t& value, const std::string& macText)
{
    if (!given)
        return true;
    if (valid != 1) {
        Complain(std::string(option) + ": module " + macText + " does not report this setting, so it cannot be set");
        return false;
    }
    value = *given;
    return true;
}

bool ApplyOptions(const ConfigureOptions& options, const std::string& macText, EthernetConfigFields& fields)
{
    if (!ApplyAddress("--ip", options.ip, fields.IpAddrValid, fields.IpAddr, macText)
        || !ApplyAddress("--mask", options.mask, fields.SubnetMaskValid, fields.SubnetMask, macText)
        || !ApplyAddress("--gateway", options.gateway, fields.GatewayValid, fields.Gateway, macText)
        || !ApplyAddress("--dns1", options.dns1, fields.Dns1Valid, fields.Dns1, macText)
        || !ApplyAddress("--dns2", options.dns2, fields.Dns2Valid, fields.Dns2, macText))
        return false;
    if (options.hostName) {
        if (fields.HostNameValid != 1) {
            Complain("--hostname: module " + macText + " does not report a host name, so it cannot be set");
            return false;
        }
        StoreConfigText(fields.HostName, *options.hostName);
    }
    if (options.dhcp)
        fields.DhcpChoice = *options.dhcp ? kDhcpChoiceOn : kDhcpChoiceOff;
    return true;
}

// The checks of the dialog's "Set", with its messages.
bool PassesDialogChecks(const EthernetConfigFields& fields)
{
    const std::string_view hostName = ConfigTextView(fields.HostName);
    if (!IsLegalHostName(hostName)) {
        Complain(std::string(kIllegalHostNameMessage) + " (host name \"" + platform::escapeBytes(hostName) + "\")");
        return false;
    }
    if (!IsAcceptableIpAddress(fields.IpAddr)) {
        Complain(std::string(kIpLastByte255Message));
        return false;
    }
    return true;
}

bool ReadPassword(const SecretSource& source, const char* what, ConfigText& field)
{
    std::string error;
    const std::optional<std::string> secret = ReadSecret(source, error);
    if (!secret) {
        Complain(std::string(what) + ": " + error);
        return false;
    }
    // The dialog's edits take no more; cutting it would send another password.
    if (secret->size() > kConfigTextMaxChars) {
        Complain(std::string(what) + ": longer than " + std::to_string(kConfigTextMaxChars) + " characters");
        return false;
    }
    StoreConfigText(field, *secret);
    return true;
}

bool ReadPasswords(const ConfigureOptions& options, EthernetConfigFields& fields)
{
    // As in the dialog, the current password is asked for only when the
    // module reports that it has one.
    if (fields.PasswordProtected != 0
        && !ReadPassword({options.passwordFile, kPasswordVariable, "Password: "}, "password", fields.Password))
        return false;
    if (options.changePassword) {
        fields.ChangePassword = 1;
        if (!ReadPassword({options.newPasswordFile, kNewPasswordVariable, "New password: ", true}, "new password",
                fields.NewPassword))
            return false;
    }
    return true;
}

} // namespace

int RunScan(const ScanOptions& options)
{
    Connection connection;
    if (!Connect(connection))
        return kExitFailed;
    devicelist::ModuleStore modules;
    if (!connection.session->scan(options.wait, modules)) {
        Complain(diagnostics::scanFailureText(diagnostics::diagnoseScanFailure()));
        return kExitFailed;
    }
    const std::vector<QORT_ModuleScanResponseType> sorted = SortedModules(modules, options.order);
    std::string out;
    switch (options.format) {
    case ScanFormat::kTable:
        out = FormatTable(sorted);
        break;
    case ScanFormat::kJson:
        out = FormatJson(sorted);
        break;
    case ScanFormat::kCsv:
        out = FormatCsv(sorted);
        break;
    }
    // A list that did not reach its reader (a full disk, a closed pipe) is a
    // failure, not a result.
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        Complain("the list could not be written: " + std::generic_category().message(errno));
        return kExitFailed;
    }
    // Said, not failed: the list holds every reply that did arrive.
    if (const std::uint32_t lost = connection.library->getLostReplyCount ? connection.library->getLostReplyCount() : 0)
        std::fprintf(stderr,
            "%u %s lost: the computer was too busy or its receive buffer too small; scan again, or see README\n",
            static_cast<unsigned>(lost), lost == 1 ? "reply was" : "replies were");
    if (sorted.empty()) {
        Complain("no module answered within " + WaitText(options.wait));
        return kExitFailed;
    }
    return kExitOk;
}

int RunConfigure(const ConfigureOptions& options)
{
    const std::string macText = devicelist::FormatMac(options.mac);
    Connection connection;
    QORT_ModuleScanResponseType found{};
    if (const int status = ConnectAndFind(connection, options.mac, options.wait, found); status != kExitOk)
        return status;

    EthernetConfigFields fields;
    devicelist::PrefillConfigFields(found, fields);
    if (!ApplyOptions(options, macText, fields) || !PassesDialogChecks(fields) || !ReadPasswords(options, fields))
        return kExitUsage;

    const QORT_ConfigureRequestType request = devicelist::BuildConfigureRequest(found, fields);
    switch (connection.session->configure(request, options.wait)) {
    case QortSession::ConfigureAnswer::kReconfigured:
        std::printf("Reconfigured: %s\n", macText.c_str());
        return kExitOk;
    case QortSession::ConfigureAnswer::kInvalidPassword:
        Complain("Invalid password (module " + macText + ")");
        return kExitInvalidPassword;
    case QortSession::ConfigureAnswer::kNone:
        break;
    }
    Complain("module " + macText + " did not answer the configure request within " + WaitText(options.wait));
    return kExitNoAnswer;
}

int RunWink(const WinkOptions& options)
{
    Connection connection;
    QORT_ModuleScanResponseType found{};
    if (const int status = ConnectAndFind(connection, options.mac, options.wait, found); status != kExitOk)
        return status;
    if (!SupportsWink(found)) {
        Complain(kNoWinkText);
        return kExitNoWink;
    }
    connection.session->wink(options.mac);
    return kExitOk;
}

} // namespace cli
