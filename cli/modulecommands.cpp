// scan, configure, undo and wink: the commands that talk to modules
// through libqort. Every write goes through commissioning/'s checks: the
// new address must be free, the module's next scan must show what was sent,
// and the audit log keeps a record of it.
#include "cli/commands.h"
#include "cli/moduleaccess.h"
#include "cli/qortsession.h"
#include "cli/secret.h"
#include "cli/secretguard.h"
#include "commissioning/addressinuse.h"
#include "commissioning/auditlog.h"
#include "commissioning/change.h"
#include "commissioning/interruptedwrites.h"
#include "commissioning/scanwarnings.h"
#include "commissioning/verification.h"
#include "diagnostics/scanfailure.h"
#include "modules/columntexts.h"
#include "modules/configurerequest.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/lostreplies.h"
#include "modules/winkrule.h"
#include "platform/textescape.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

namespace cli {
namespace {

constexpr const char* kNewPasswordVariable = "SORVINDA_NEW_PASSWORD";
constexpr const char* kNoWinkText = "Device does not support wink.";
constexpr std::uint8_t kValid = 1;

std::string WaitText(std::chrono::milliseconds wait)
{
    return std::to_string(wait.count()) + " ms";
}

// What configure and undo scanned before writing.
struct ScanBeforeWrite {
    QORT_ModuleScanResponseType found{};               // the module's first reply
    std::vector<QORT_ModuleScanResponseType> everyone; // every module that answered
};

// Scans until the module with mac answers, or for the whole wait when every
// module's address is needed (a write that may change the IP). kExitOk with
// the replies in scan, else the exit status, the reason said on standard
// error: a scan that could not be sent is the same local failure for every
// command.
int FindModule(QortSession& session, const modules::MacAddress& mac, std::chrono::milliseconds wait, bool wholeScan,
    ScanBeforeWrite& scan)
{
    modules::ModuleStore modules;
    const auto found = [&mac](const modules::ModuleStore& m) { return m.Contains(mac); };
    if (!session.scan(wait, modules, wholeScan ? std::function<bool(const modules::ModuleStore&)>() : found)) {
        Complain(diagnostics::scanFailureText(diagnostics::diagnoseScanFailure()));
        return kExitFailed;
    }
    const std::optional<QORT_ModuleScanResponseType> reply = modules.FindModule(mac);
    if (!reply) {
        Complain("no module " + modules::formatMac(mac) + " answered within " + WaitText(wait));
        return kExitNoAnswer;
    }
    scan.found = *reply;
    scan.everyone = RecordsOf(modules);
    return kExitOk;
}

// What configure, undo and wink do first: load and start the library, then
// scan for the module. kExitOk with the replies in scan, else the exit
// status (the reason already said on standard error).
int ConnectAndFind(Connection& connection, const modules::MacAddress& mac, std::chrono::milliseconds wait,
    bool wholeScan, ScanBeforeWrite& scan)
{
    if (!Connect(connection))
        return kExitFailed;
    return FindModule(*connection.session, mac, wait, wholeScan, scan);
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

// The checks of the dialog's "Set", with its messages, on what the write
// changes: a host name or an IP the module already reports and the request
// restates (a hyphen, an IP ending .255 in a wider subnet) never blocks it.
bool PassesDialogChecks(const QORT_ModuleScanResponseType& found, const QORT_ConfigureRequestType& request)
{
    const commissioning::Change change = commissioning::changeOf(found, request);
    if (!commissioning::writeProblem(change))
        return true;
    const std::string_view hostName(request.HostName, ::strnlen(request.HostName, QORT_TEXT_FIELD_SIZE));
    if (commissioning::changesField(change, "hostname") && !modules::isLegalHostName(hostName))
        Complain(
            std::string(modules::kIllegalHostNameMessage) + " (host name \"" + platform::escapeBytes(hostName) + "\")");
    else if (commissioning::changesField(change, "ip") && !modules::isAcceptableIpAddress(request.IpAddr))
        Complain(std::string(modules::kIpLastByte255Message));
    else
        Complain(*commissioning::writeProblem(change));
    return false;
}

// The request for the given settings, or nothing (said on standard error).
std::optional<QORT_ConfigureRequestType> CommandLineRequest(
    const QORT_ModuleScanResponseType& found, const modules::GivenSettings& given, const std::string& macText)
{
    if (!GivenSettingsAreReported(given, found, macText))
        return std::nullopt;
    std::optional<QORT_ConfigureRequestType> request = modules::buildCommandLineConfigureRequest(found, given);
    if (!request) {
        Complain("module " + macText + " reports a host name longer than "
            + std::to_string(modules::kConfigTextMaxChars)
            + " characters, which would be written back cut: give --hostname");
        return std::nullopt;
    }
    if (!PassesDialogChecks(found, *request))
        return std::nullopt;
    return request;
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

// Reads the passwords into the request, calls leaving just before it goes
// out, sends it and wipes every copy of them this program made. Nothing when
// a password could not be read (said on standard error): nothing was sent.
std::optional<QortSession::ConfigureAnswer> SendWithPasswords(QortSession& session, const ConfigureOptions& options,
    const QORT_ModuleScanResponseType& found, QORT_ConfigureRequestType& request, const std::function<void()>& leaving)
{
    const SecretHolding holding;
    // The dialog's fields only for the passwords: whether one is asked for.
    modules::EthernetConfigFields passwords;
    modules::prefillConfigFields(found, passwords);
    std::optional<QortSession::ConfigureAnswer> answer;
    if (ReadPasswords(options, passwords)) {
        modules::copyRequestPasswords(request, passwords);
        leaving();
        answer = session.configure(request, options.wait);
    }
    WipeSecret(passwords.Password, sizeof passwords.Password);
    WipeSecret(passwords.NewPassword, sizeof passwords.NewPassword);
    WipeSecret(request.Password, sizeof request.Password);
    WipeSecret(request.NewPassword, sizeof request.NewPassword);
    return answer;
}

// Every write is logged, whatever its outcome; a log that cannot be written
// is said and the write's own outcome stands.
void SayAuditFailure(const std::optional<std::string>& error)
{
    if (error)
        Complain("audit log: " + *error);
}

// False when the request would move the module to an address another
// device holds (said on standard error) and --force was not given.
bool NewAddressIsFree(const QORT_ConfigureRequestType& request, const ScanBeforeWrite& scan, bool force)
{
    const QORT_ModuleScanResponseType& found = scan.found;
    if (!commissioning::addressToAsk(commissioning::changeOf(found, request)))
        return true;
    const std::vector<commissioning::AdapterSubnet> subnets = commissioning::usableAdapterSubnets();
    const commissioning::AddressUse use =
        commissioning::checkAddressInUse(request.IpAddr, modules::macOfRecord(found), scan.everyone, subnets);
    const std::string address = modules::formatDottedAddress(request.IpAddr);
    // An address outside this computer's subnets cannot be asked about, as
    // is usual when a module is moved into another network: no remark then.
    if (!use.inUse && !use.note.empty() && commissioning::subnetHolding(subnets, request.IpAddr))
        Complain("whether address " + address + " is free was not checked: " + use.note);
    if (!use.inUse)
        return true;
    const std::string line = "address " + address + " is in use by " + commissioning::holderText(use);
    Complain(force ? line + ": written anyway (--force)" : line);
    return force;
}

// Scans again until the module shows every value of sent or wait has
// passed. Empty when it did; else one line per value that differs.
std::vector<std::string> UnverifiedAfterWrite(
    QortSession& session, const QORT_ConfigureRequestType& sent, std::chrono::milliseconds wait)
{
    modules::MacAddress mac{};
    std::copy(std::begin(sent.MacId), std::end(sent.MacId), mac.begin());
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::vector<std::string> differences{
        "not verified: module " + modules::formatMac(mac) + " did not answer a scan after the write"};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        modules::ModuleStore modules;
        session.scan(std::max(left, std::chrono::milliseconds(0)), modules,
            [&mac](const modules::ModuleStore& m) { return m.Contains(mac); });
        if (const auto seen = modules.FindModule(mac)) {
            differences = commissioning::unverifiedFields(sent, *seen);
            if (differences.empty())
                return differences;
        }
        if (std::chrono::steady_clock::now() + kVerifyRescanPause >= deadline)
            return differences;
        std::this_thread::sleep_for(kVerifyRescanPause);
    }
}

// configure's and undo's write: the address check, the `sent` record, the
// request with its passwords, the verifying scans and the outcome record (or
// `interrupted`, when a signal ends the program first). The exit status.
int CheckedWrite(Connection& connection, const ConfigureOptions& options, const ScanBeforeWrite& scan,
    QORT_ConfigureRequestType& request)
{
    const std::string macText = modules::formatMac(options.mac);
    commissioning::WriteJournal journal(commissioning::AuditLog::forUser());
    if (!NewAddressIsFree(request, scan, options.force)) {
        SayAuditFailure(journal.log().append({kProgramName, scan.found, request, commissioning::WriteResult::Refused}));
        return kExitAddressInUse;
    }
    const commissioning::InterruptedWrites interrupted(journal);
    commissioning::WriteJournal::Ticket ticket;
    const auto leaving = [&] {
        std::optional<std::string> error;
        ticket = journal.sent({kProgramName, scan.found, request, commissioning::WriteResult::Sent}, error);
        SayAuditFailure(error);
    };
    const std::optional<QortSession::ConfigureAnswer> answer =
        SendWithPasswords(*connection.session, options, scan.found, request, leaving);
    if (!answer)
        return kExitUsage;
    switch (*answer) {
    case QortSession::ConfigureAnswer::kReconfigured: {
        std::printf("Reconfigured: %s\n", macText.c_str());
        static_cast<void>(std::fflush(stdout)); // shown while the rescans run
        const std::vector<std::string> differences = UnverifiedAfterWrite(*connection.session, request, options.wait);
        for (const std::string& line : differences)
            Complain(line);
        SayAuditFailure(journal.finish(ticket,
            differences.empty() ? commissioning::WriteResult::Verified : commissioning::WriteResult::NotVerified));
        return differences.empty() ? kExitOk : kExitNotVerified;
    }
    case QortSession::ConfigureAnswer::kInvalidPassword:
        SayAuditFailure(journal.finish(ticket, commissioning::WriteResult::InvalidPassword));
        Complain("Invalid password (module " + macText + ")");
        return kExitInvalidPassword;
    case QortSession::ConfigureAnswer::kNone:
        break;
    }
    SayAuditFailure(journal.finish(ticket, commissioning::WriteResult::NoAnswer));
    Complain("module " + macText + " did not answer the configure request within " + WaitText(options.wait));
    return kExitNoAnswer;
}

} // namespace

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

std::vector<QORT_ModuleScanResponseType> RecordsOf(const modules::ModuleStore& modules)
{
    std::vector<QORT_ModuleScanResponseType> records;
    for (std::size_t i = 0; i < modules.Size(); ++i)
        records.push_back(modules.At(i));
    return records;
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
    const std::vector<commissioning::AdapterSubnet> subnets = commissioning::usableAdapterSubnets();
    const ScanWarnings warnings = commissioning::scanWarnings(sorted, subnets);
    std::string out;
    switch (options.format) {
    case ScanFormat::kTable:
        out = FormatTable(sorted, commissioning::scanNotes(sorted, subnets));
        break;
    case ScanFormat::kJson:
        out = FormatJson(sorted, warnings);
        break;
    case ScanFormat::kCsv:
        out = FormatCsv(sorted, warnings);
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
    ScanBeforeWrite scan;
    if (const int status = ConnectAndFind(connection, options.mac, options.wait, options.settings.ip.has_value(), scan);
        status != kExitOk)
        return status;

    std::optional<QORT_ConfigureRequestType> request = CommandLineRequest(scan.found, options.settings, macText);
    if (!request)
        return kExitUsage;
    return CheckedWrite(connection, options, scan, *request);
}

int RunUndo(const ConfigureOptions& options)
{
    const commissioning::AuditLog log = commissioning::AuditLog::forUser();
    const commissioning::UndoLookup lookup = log.findUndo(options.mac);
    if (lookup.refusal) {
        Complain("undo refused, nothing sent: " + *lookup.refusal);
        return kExitFailed;
    }
    const std::optional<QORT_ModuleScanResponseType>& before = lookup.values;
    if (!before) {
        Complain("nothing to undo: " + log.file().string() + " holds no change of module "
            + modules::formatMac(options.mac));
        return kExitNoAnswer;
    }
    Connection connection;
    ScanBeforeWrite scan;
    if (const int status = ConnectAndFind(connection, options.mac, options.wait, before->IpAddrValid == kValid, scan);
        status != kExitOk)
        return status;
    // The values the module itself reported before: no rule for typed
    // input applies to them (a host name with a hyphen goes back as it was).
    QORT_ConfigureRequestType request = commissioning::undoRequest(*before, scan.found);
    return CheckedWrite(connection, options, scan, request);
}

int RunWink(const WinkOptions& options)
{
    Connection connection;
    ScanBeforeWrite scan;
    if (const int status = ConnectAndFind(connection, options.mac, options.wait, false, scan); status != kExitOk)
        return status;
    const QORT_ModuleScanResponseType& found = scan.found;
    if (!modules::supportsWink(found)) {
        Complain(kNoWinkText);
        return kExitNoWink;
    }
    connection.session->wink(options.mac);
    return kExitOk;
}

} // namespace cli
