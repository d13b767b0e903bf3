// scan, configure and wink: the commands that talk to modules through
// libqort.
#include "cli/commands.h"
#include "cli/qortsession.h"
#include "cli/secret.h"
#include "cli/secretguard.h"
#include "diagnostics/scanfailure.h"
#include "modules/configurerequest.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/lostreplies.h"
#include "modules/winkrule.h"
#include "platform/textescape.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Scans until the module with mac answers. kExitOk with its first reply in
// found, else the exit status, the reason said on standard error: a scan
// that could not be sent is the same local failure for every command.
int FindModule(QortSession& session, const modules::MacAddress& mac, std::chrono::milliseconds wait,
    QORT_ModuleScanResponseType& found)
{
    modules::ModuleStore modules;
    if (!session.scan(wait, modules, [&mac](const modules::ModuleStore& m) { return m.Contains(mac); })) {
        Complain(diagnostics::scanFailureText(diagnostics::diagnoseScanFailure()));
        return kExitFailed;
    }
    const std::optional<QORT_ModuleScanResponseType> reply = modules.FindModule(mac);
    if (!reply) {
        Complain("no module " + modules::formatMac(mac) + " answered within " + WaitText(wait));
        return kExitNoAnswer;
    }
    found = *reply;
    return kExitOk;
}

// What configure and wink do first: load and start the library, then scan
// for the module. kExitOk with the module's first reply in found, else the
// exit status (the reason already said on standard error).
int ConnectAndFind(Connection& connection, const modules::MacAddress& mac, std::chrono::milliseconds wait,
    QORT_ModuleScanResponseType& found)
{
    if (!Connect(connection))
        return kExitFailed;
    return FindModule(*connection.session, mac, wait, found);
}

// A setting the module does not report is locked in the window's dialog,
// and so it is here.
bool GivenOnlyIfReported(const char* option, bool given, std::uint8_t valid, const std::string& macText)
{
    if (!given || valid == 1)
        return true;
    Complain(std::string(option) + ": module " + macText + " does not report this setting, so it cannot be set");
    return false;
}

bool GivenSettingsAreReported(
    const modules::GivenSettings& given, const QORT_ModuleScanResponseType& found, const std::string& macText)
{
    if (!GivenOnlyIfReported("--ip", given.ip.has_value(), found.IpAddrValid, macText)
        || !GivenOnlyIfReported("--mask", given.mask.has_value(), found.SubnetMaskValid, macText)
        || !GivenOnlyIfReported("--gateway", given.gateway.has_value(), found.GatewayValid, macText)
        || !GivenOnlyIfReported("--dns1", given.dns1.has_value(), found.Dns1Valid, macText)
        || !GivenOnlyIfReported("--dns2", given.dns2.has_value(), found.Dns2Valid, macText))
        return false;
    if (given.hostName && found.HostNameValid != 1) {
        Complain("--hostname: module " + macText + " does not report a host name, so it cannot be set");
        return false;
    }
    return true;
}

// The checks of the dialog's "Set", with its messages, on what will be sent.
bool PassesDialogChecks(const QORT_ConfigureRequestType& request)
{
    const std::string_view hostName(request.HostName, ::strnlen(request.HostName, QORT_TEXT_FIELD_SIZE));
    if (!modules::isLegalHostName(hostName)) {
        Complain(std::string(modules::kIllegalHostNameMessage) + " (host name \"" + platform::escapeBytes(hostName) + "\")");
        return false;
    }
    if (request.IpAddr != QORT_ADDR_NOT_GIVEN && !modules::isAcceptableIpAddress(request.IpAddr)) {
        Complain(std::string(modules::kIpLastByte255Message));
        return false;
    }
    return true;
}

// The request for the given settings, or nothing (said on standard error).
std::optional<QORT_ConfigureRequestType> CommandLineRequest(
    const QORT_ModuleScanResponseType& found, const modules::GivenSettings& given, const std::string& macText)
{
    if (!GivenSettingsAreReported(given, found, macText))
        return std::nullopt;
    std::optional<QORT_ConfigureRequestType> request = modules::buildCommandLineConfigureRequest(found, given);
    if (!request) {
        Complain("module " + macText + " reports a host name longer than " + std::to_string(modules::kConfigTextMaxChars)
            + " characters, which would be written back cut: give --hostname");
        return std::nullopt;
    }
    if (!PassesDialogChecks(*request))
        return std::nullopt;
    return request;
}

bool ReadPassword(const SecretSource& source, const char* what, modules::ConfigText& field)
{
    std::string error;
    std::optional<std::string> secret = ReadSecret(source, error);
    if (!secret) {
        Complain(std::string(what) + ": " + error);
        return false;
    }
    // The dialog's edits take no more; cutting it would send another password.
    const bool fits = secret->size() <= modules::kConfigTextMaxChars;
    if (fits)
        modules::storeConfigText(field, *secret);
    WipeSecret(*secret);
    if (!fits)
        Complain(std::string(what) + ": longer than " + std::to_string(modules::kConfigTextMaxChars) + " characters");
    return fits;
}

bool ReadPasswords(const ConfigureOptions& options, modules::EthernetConfigFields& fields)
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

// Reads the passwords into the request, sends it and wipes every copy of
// them this program made. Nothing when a password could not be read (said on
// standard error).
std::optional<QortSession::ConfigureAnswer> SendWithPasswords(QortSession& session, const ConfigureOptions& options,
    const QORT_ModuleScanResponseType& found, QORT_ConfigureRequestType& request)
{
    const SecretHolding holding;
    // The dialog's fields only for the passwords: whether one is asked for.
    modules::EthernetConfigFields passwords;
    modules::prefillConfigFields(found, passwords);
    std::optional<QortSession::ConfigureAnswer> answer;
    if (ReadPasswords(options, passwords)) {
        modules::copyRequestPasswords(request, passwords);
        answer = session.configure(request, options.wait);
    }
    WipeSecret(passwords.Password, sizeof passwords.Password);
    WipeSecret(passwords.NewPassword, sizeof passwords.NewPassword);
    WipeSecret(request.Password, sizeof request.Password);
    WipeSecret(request.NewPassword, sizeof request.NewPassword);
    return answer;
}

} // namespace

int RunScan(const ScanOptions& options)
{
    Connection connection;
    if (!Connect(connection))
        return kExitFailed;
    modules::ModuleStore modules;
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
        std::fprintf(stderr, "%s\n", modules::lostRepliesText(lost).c_str());
    if (sorted.empty()) {
        Complain("no module answered within " + WaitText(options.wait));
        return kExitFailed;
    }
    return kExitOk;
}

int RunConfigure(const ConfigureOptions& options)
{
    const std::string macText = modules::formatMac(options.mac);
    Connection connection;
    QORT_ModuleScanResponseType found{};
    if (const int status = ConnectAndFind(connection, options.mac, options.wait, found); status != kExitOk)
        return status;

    std::optional<QORT_ConfigureRequestType> request = CommandLineRequest(found, options.settings, macText);
    if (!request)
        return kExitUsage;
    const std::optional<QortSession::ConfigureAnswer> answer =
        SendWithPasswords(*connection.session, options, found, *request);
    if (!answer)
        return kExitUsage;
    switch (*answer) {
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
    if (!modules::supportsWink(found)) {
        Complain(kNoWinkText);
        return kExitNoWink;
    }
    connection.session->wink(options.mac);
    return kExitOk;
}

} // namespace cli
