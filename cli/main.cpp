// sorvinda: the field modules from a terminal and from scripts. Scans
// (table, JSON, CSV), configures and winks modules through libqort with the
// window's rules, and runs the recovery DHCP server. Started as
// sorvinda-dhcpd it is that server alone, as the earlier program of that
// name was.
#include "cli/commands.h"
#include "cli/reportingsinks.h"
#include "modules/columntexts.h"
#include "modules/dottedaddress.h"
#include "modules/ethernetconfigfields.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace cli {
namespace {

constexpr const char* kDhcpdName = "sorvinda-dhcpd";

constexpr const char* kExitStatusText = R"(
Exit status (diff: 0 same, 1 different, 2 a file is no saved scan; watch: 0
after SIGTERM or SIGINT): 0 done; 1 no module answered the scan, or a scan could not be
sent, or the library or the DHCP port could not be used, or undo cannot read
the audit log safely (nothing sent); 2 wrong usage, a
setting the configure dialog would refuse, or a host name that would be
written back shortened (give --hostname); 3 the module refused
the password; 4 the module did not answer, or undo found nothing to undo;
5 the module does not support wink; 6 the new address is in use by another
device (nothing sent; --force writes anyway); 7 the module answered but its
next scans within --wait did not show every value sent; 8 apply: a row of
the plan was not changed (not answered, refused, not verified, missing).
A plan with problems (each listed as FILE:LINE: message) is status 2, and
nothing is sent.
Every write is recorded in $XDG_STATE_HOME/sorvinda/audit.jsonl
(~/.local/state/sorvinda/audit.jsonl), without any password: "sent" before
it leaves, then its outcome, or "interrupted" when a signal ends the program.
Passwords never go on the command line: --password-file FILE, the
environment variable SORVINDA_PASSWORD, or a prompt without echo when
standard input is a terminal (the new password likewise: --new-password-file,
SORVINDA_NEW_PASSWORD).
)";

CLI::Validator Ipv4Validator()
{
    return CLI::Validator(
        [](std::string& text) {
            return modules::parseDottedAddress(text) ? std::string()
                                                     : "'" + text + "' is not an IPv4 address (a.b.c.d, each 0-255)";
        },
        "A.B.C.D");
}

CLI::Validator MacValidator()
{
    return CLI::Validator(
        [](std::string& text) {
            return modules::parseMacText(text) ? std::string()
                                               : "'" + text + "' is not a MAC address (00-30-11-0A-BC-0F)";
        },
        "MAC");
}

CLI::Validator NonEmptyValidator()
{
    return CLI::Validator(
        [](std::string& text) { return text.empty() ? std::string("needs a file name") : std::string(); }, "FILE");
}

// One of a few names, any case, replaced by its value; the error lists
// the names.
template <typename Value>
CLI::Validator NameValidator(std::vector<std::pair<std::string, Value>> names, const std::string& what)
{
    std::string list;
    for (const auto& [name, value] : names)
        list += (list.empty() ? "" : ", ") + name;
    return CLI::Validator(
        [names, list, what](std::string& text) {
            const std::string lower = CLI::detail::to_lower(text);
            for (const auto& [name, value] : names) {
                if (name == lower) {
                    text = std::to_string(static_cast<int>(value));
                    return std::string();
                }
            }
            return "'" + text + "' is not " + what + " (" + list + ")";
        },
        "NAME");
}

// Values as text, checked by CLI11 and converted after parsing.
struct RawArguments {
    int waitMs = static_cast<int>(kDefaultWait.count());
    std::string mac;
    std::optional<std::string> ip, mask, gateway, dns1, dns2, dhcp;
    bool reverse = false;
};

void AddWait(CLI::App& command, RawArguments& raw, const char* what)
{
    command.add_option("--wait", raw.waitMs, std::string("milliseconds to wait for ") + what + " (default 1500)")
        ->check(CLI::Range(0, kMaxWaitMs));
}

void AddScan(CLI::App& app, ScanOptions& options, RawArguments& raw)
{
    CLI::App* scan = app.add_subcommand("scan", "broadcast one scan and list every module that answers");
    AddWait(*scan, raw, "replies");
    const std::vector<std::pair<std::string, ScanFormat>> formats{
        {"table", ScanFormat::kTable}, {"json", ScanFormat::kJson}, {"csv", ScanFormat::kCsv}};
    scan->add_option("--format", options.format, "table (default), json or csv")
        ->transform(NameValidator(formats, "a format"));
    const std::vector<std::pair<std::string, int>> columns{{"ip", modules::kColumnIp},
        {"sn", modules::kColumnSubnetMask}, {"mask", modules::kColumnSubnetMask}, {"gw", modules::kColumnGateway},
        {"gateway", modules::kColumnGateway}, {"dhcp", modules::kColumnDhcp}, {"version", modules::kColumnVersion},
        {"type", modules::kColumnType}, {"mac", modules::kColumnMac}, {"hostname", kColumnHostName}};
    scan->add_option("--sort", options.order.column, "order by this column as the window does (default ip)")
        ->transform(NameValidator(columns, "a column"));
    scan->add_flag("--reverse", raw.reverse, "descending order");
}

void AddConfigure(CLI::App& app, ConfigureOptions& options, RawArguments& raw)
{
    CLI::App* configure = app.add_subcommand(
        "configure", "set a module's network settings; what is not given stays as the module reports it");
    configure->add_option("MAC", raw.mac, "the module, e.g. 00-30-11-0A-BC-0F")->required()->check(MacValidator());
    configure->add_option("--ip", raw.ip, "IP address")->check(Ipv4Validator());
    configure->add_option("--mask", raw.mask, "subnet mask")->check(Ipv4Validator());
    configure->add_option("--gateway", raw.gateway, "default gateway")->check(Ipv4Validator());
    configure->add_option("--dns1", raw.dns1, "first DNS server")->check(Ipv4Validator());
    configure->add_option("--dns2", raw.dns2, "second DNS server")->check(Ipv4Validator());
    configure->add_option("--hostname", options.settings.hostName, "host name: a-z, A-Z and 0-9, at most 29")
        ->check(CLI::Validator(
            [](std::string& text) {
                return text.size() > modules::kConfigTextMaxChars ? std::string("at most 29 characters")
                                                                  : std::string();
            },
            "NAME"));
    configure->add_option("--dhcp", raw.dhcp, "on or off")->check(CLI::IsMember({"on", "off"}, CLI::ignore_case));
    CLI::Option* change = configure->add_flag("--new-password", options.changePassword, "change the password");
    configure->add_option("--password-file", options.passwordFile, "the current password is this file's first line")
        ->check(CLI::ExistingFile);
    configure->add_option("--new-password-file", options.newPasswordFile, "the new password is this file's first line")
        ->check(CLI::ExistingFile)
        ->needs(change);
    configure->add_flag("--force", options.force, "write even when another device holds the new address");
    AddWait(*configure, raw, "the module's answers");
}

void AddUndo(CLI::App& app, ConfigureOptions& options, RawArguments& raw)
{
    CLI::App* undo =
        app.add_subcommand("undo", "put back the values the module had before its last write (from the audit log)");
    undo->add_option("MAC", raw.mac, "the module, e.g. 00-30-11-0A-BC-0F")->required()->check(MacValidator());
    undo->add_option("--password-file", options.passwordFile, "the current password is this file's first line")
        ->check(CLI::ExistingFile);
    undo->add_flag("--force", options.force, "write even when another device holds the address");
    AddWait(*undo, raw, "the module's answers");
}

void AddWink(CLI::App& app, RawArguments& raw)
{
    CLI::App* wink = app.add_subcommand("wink", "ask a module to show itself (protocol 1.10 and later)");
    wink->add_option("MAC", raw.mac, "the module, e.g. 00-30-11-0A-BC-0F")->required()->check(MacValidator());
    AddWait(*wink, raw, "the module's scan reply");
}

void AddDiff(CLI::App& app, DiffOptions& options)
{
    CLI::App* diff = app.add_subcommand(
        "diff", "compare two saved scans (scan --format json): new, missing and changed modules; 0 same, 1 different");
    diff->add_option("OLD", options.before, "the earlier scan")->required();
    diff->add_option("NEW", options.after, "the later scan")->required();
    diff->add_option_function<std::string>(
            "--format", [&options](const std::string& format) { options.json = format == "json"; },
            "text (default) or json")
        ->check(CLI::IsMember({"text", "json"}));
}

// --interval takes fractions (tests watch at half a second); the longest
// is a day.
constexpr double kMinWatchInterval = 0.1;
constexpr double kMaxWatchInterval = 86400;
constexpr int kMaxMissingAfter = 1000000;

CLI::App* AddWatch(CLI::App& app, WatchOptions& options)
{
    CLI::App* watch = app.add_subcommand("watch",
        "scan every --interval seconds and report new, missing, changed and duplicate-ip modules as JSON lines until "
        "SIGTERM");
    watch->add_option("--interval", options.intervalSeconds, "seconds from one scan to the next (default 10)")
        ->check(CLI::Range(kMinWatchInterval, kMaxWatchInterval));
    watch->add_option("--missing-after", options.missingAfter, "scans without an answer before missing (default 3)")
        ->check(CLI::Range(1, kMaxMissingAfter));
    watch->add_option("--events", options.eventsFile, "append the events to FILE (SIGHUP reopens it)")
        ->check(NonEmptyValidator());
    watch->add_option("--state", options.stateFile, "keep the last view in FILE across restarts")
        ->check(NonEmptyValidator());
    watch->add_option("--site", options.site, "the name on everything reported (default: the host name)");
    addReportingOptions(*watch, options);
    return watch;
}

void AddApply(CLI::App& app, ApplyOptions& options, RawArguments& raw)
{
    CLI::App* apply = app.add_subcommand("apply",
        "give every module of a CSV plan its row's settings (mac, ip, mask, gateway, dns1, dns2, hostname, dhcp; "
        "an empty cell keeps the module's value), writing only what differs and verifying it");
    apply
        ->add_option(
            "PLAN", options.plan, "the plan ('-': standard input), e.g. from 'sorvinda scan --format csv', edited")
        ->required()
        ->check(NonEmptyValidator());
    apply->add_flag("--dry-run", options.dryRun,
        "show what each row would change and in which order; sends no configuration (it scans and asks who holds "
        "new addresses)");
    apply->add_flag("--force", options.force, "write rows whose new address another device holds");
    apply->add_option("--password-file", options.passwordFile, "the modules' password is this file's first line")
        ->check(CLI::ExistingFile);
    AddWait(*apply, raw, "the scan, then for the answers, then for the verifying rescans");
}

void AddPlanExport(CLI::App& app, PlanExportOptions& options)
{
    CLI::App* planExport = app.add_subcommand("plan-export",
        "write the plan's MAC-to-address pairs for the site's DHCP server (rows with an ip, dhcp not off)");
    const std::vector<std::pair<std::string, ExportFormat>> formats{
        {"kea", ExportFormat::kKea}, {"dnsmasq", ExportFormat::kDnsmasq}};
    planExport->add_option("--format", options.format, "kea (reservations, JSON) or dnsmasq (dhcp-host= lines)")
        ->required()
        ->transform(NameValidator(formats, "a format"));
    planExport->add_option("PLAN", options.plan, "the plan ('-': standard input)")
        ->required()
        ->check(NonEmptyValidator());
}

void AddDhcpServerOptions(CLI::App& command, DhcpServerOptions& options)
{
    command.add_option("--log", options.logPath, "also append the trace to FILE")->check(NonEmptyValidator());
}

std::optional<std::uint32_t> AddressOf(const std::optional<std::string>& text)
{
    return text ? modules::parseDottedAddress(*text) : std::nullopt;
}

// A usage error: one line on standard error, status 2; help: status 0.
int ExitFor(CLI::App& app, const CLI::ParseError& error)
{
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
        return app.exit(error);
    Complain(error.what());
    return kExitUsage;
}

int RunDhcpdAlias(int argc, char** argv)
{
    CLI::App app{"the recovery DHCP server (the same as 'sorvinda dhcp-server')", kDhcpdName};
    DhcpServerOptions options;
    AddDhcpServerOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return ExitFor(app, error);
    }
    return RunDhcpServer(options);
}

int Run(int argc, char** argv)
{
    CLI::App app{"sorvinda - find, configure, undo and wink the Ethernet field modules on this segment, or apply a "
                 "plan to a line",
        "sorvinda"};
    app.footer(kExitStatusText);
    app.require_subcommand(0, 1);
    bool version = false;
    app.add_flag("--version", version, "print the program's and the loaded library's version");

    RawArguments raw;
    ScanOptions scanOptions;
    ConfigureOptions configureOptions;
    WinkOptions winkOptions;
    DhcpServerOptions dhcpOptions;
    DiffOptions diffOptions;
    WatchOptions watchOptions;
    AddScan(app, scanOptions, raw);
    AddConfigure(app, configureOptions, raw);
    AddUndo(app, configureOptions, raw);
    AddWink(app, raw);
    AddDiff(app, diffOptions);
    CLI::App* watch = AddWatch(app, watchOptions);
    ApplyOptions applyOptions;
    PlanExportOptions exportOptions;
    AddApply(app, applyOptions, raw);
    AddPlanExport(app, exportOptions);
    CLI::App* dhcpServer = app.add_subcommand("dhcp-server", "run the recovery DHCP server until Ctrl+C");
    AddDhcpServerOptions(*dhcpServer, dhcpOptions);
    CLI::App* doctor = app.add_subcommand("doctor",
        "check adapters, who holds UDP 3250 and 67, the right to bind 67 and firewall rules; 0 when a scan could be "
        "sent");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return ExitFor(app, error);
    }
    if (version)
        return PrintVersions();
    const std::chrono::milliseconds wait(raw.waitMs);
    if (app.got_subcommand("scan")) {
        scanOptions.wait = wait;
        scanOptions.order.ascending = !raw.reverse;
        return RunScan(scanOptions);
    }
    if (app.got_subcommand("configure")) {
        configureOptions.mac = *modules::parseMacText(raw.mac);
        configureOptions.settings.ip = AddressOf(raw.ip);
        configureOptions.settings.mask = AddressOf(raw.mask);
        configureOptions.settings.gateway = AddressOf(raw.gateway);
        configureOptions.settings.dns1 = AddressOf(raw.dns1);
        configureOptions.settings.dns2 = AddressOf(raw.dns2);
        if (raw.dhcp)
            configureOptions.settings.dhcp = CLI::detail::to_lower(*raw.dhcp) == "on";
        configureOptions.wait = wait;
        return RunConfigure(configureOptions);
    }
    if (app.got_subcommand("undo")) {
        configureOptions.mac = *modules::parseMacText(raw.mac);
        configureOptions.wait = wait;
        return RunUndo(configureOptions);
    }
    if (app.got_subcommand("wink")) {
        winkOptions.mac = *modules::parseMacText(raw.mac);
        winkOptions.wait = wait;
        return RunWink(winkOptions);
    }
    if (app.got_subcommand("diff"))
        return RunDiff(diffOptions);
    if (app.got_subcommand(watch))
        return RunWatch(watchOptions);
    if (app.got_subcommand("apply")) {
        applyOptions.wait = wait;
        return RunApply(applyOptions);
    }
    if (app.got_subcommand("plan-export"))
        return RunPlanExport(exportOptions);
    if (app.got_subcommand(dhcpServer))
        return RunDhcpServer(dhcpOptions);
    if (app.got_subcommand(doctor))
        return RunDoctor();
    Complain("a command is needed: scan, configure, undo, wink, apply, plan-export, diff, watch, dhcp-server or doctor "
             "(see --help)");
    return kExitUsage;
}

std::string BaseName(const char* path)
{
    const std::string text = path != nullptr ? path : "";
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

} // namespace

void Complain(const std::string& text)
{
    std::fprintf(stderr, "sorvinda: %s\n", text.c_str());
}

} // namespace cli

int main(int argc, char** argv)
{
    // Anything thrown past the commands (out of memory, say) ends the program
    // with a message and a failure status rather than with abort().
    try {
        if (argc > 0 && cli::BaseName(argv[0]) == cli::kDhcpdName)
            return cli::RunDhcpdAlias(argc, argv);
        return cli::Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sorvinda: %s\n", error.what());
        return cli::kExitFailed;
    }
}
