#include "tools/modulesim/simulatoroptions.h"

#include "platform/textescape.h"
#include "tools/modulesim/modulespec.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdint>
#include <string_view>

namespace modulesim {

namespace {

constexpr std::size_t kMaxUdpPayload = 65507;

} // namespace

std::string SimulatorOptions::helpText()
{
    return R"(sorvinda-modulesim - plays field modules on UDP port 3250

Usage: sorvinda-modulesim [OPTIONS]

It sends broadcasts, so it runs ONLY inside the private namespaces of
scripts/isolated-net, for example
  scripts/isolated-net run -- sh -c \
    'ip netns exec "$SORVINDA_NETNS_MODULES" build/bin/sorvinda-modulesim --count 3 & ...'
It refuses to start unless SORVINDA_ISOLATED=1 is set (isolated-net sets it,
and 'ip netns exec' passes it on) or --i-am-isolated is given.

Modules:
  --module SPEC      one module, repeatable. SPEC is key=value,key=value,...
                       mac=00-30-11-00-00-01 (required)  protocol=1.10
                       fb=Modbus TCP  version=2.01.7  ip=192.168.0.10
                       sn=255.255.255.0  gw=0.0.0.0  dhcp=on|off  pswd=on|off
                       hn=NAME  dns1=A.B.C.D  dns2=A.B.C.D  password=SECRET
                       keep=on (answers "Reconfigured", changes nothing)
                       answer=off (ignores Configure: no answer, no change)
                     -KEY leaves a field out of the scan reply (e.g. -dns2).
                     Values cannot contain ',' or ';'.
  --file FILE        modules from FILE, one SPEC per line, '#' comments
  --count N          N more modules, MAC 00-30-11-00-00-01 upwards, IP
                     192.168.10.1 upwards (mask 255.255.0.0)

Replies:
  --delay MS         wait MS before each reply
  --jitter MS        add 0..MS (random) to each reply's wait
  --seed N           seed of the jitter (default: random, shown on 'ready')
  --burst            send the replies to one scan back to back, logging them
                     afterwards
  --answer-twice     every scan reply is sent twice
  --raw-reply TEXT   answer a scan with TEXT instead of the modules' replies,
                     repeatable (one datagram each, in order, no NUL added).
                     Escapes: \xNN \0 \n \r \t \\ \"
  --unicast-replies  reply to the sender instead of 255.255.255.255:3250

Run:
  --port P           listen and broadcast on port P (default 3250)
  --exit-after N     exit after N datagrams from others were handled and
                     the replies due were sent
  --i-am-isolated    start without SORVINDA_ISOLATED=1
  --help             this text
SIGINT and SIGTERM end it cleanly.

A scan ("Module Scan", with or without its NUL) is answered by every module;
"Configure: MAC;..." by the module(s) with that MAC ("Reconfigured: MAC", or
"Invalid Password: MAC" when its password is missing or wrong);
"To: MAC;WINK;" is noted. Replies carry their NUL.

Output, one line per event on stdout, flushed at once. Datagram bytes are
shown in quotes: printable ASCII as is, \" and \\, any other byte as \xNN.
  ready port=P modules=N seed=S
  recv ADDR:PORT LEN "BYTES" t=NS     a datagram from someone else
  send ADDR:PORT LEN "BYTES" t=NS     a datagram sent
  wink MAC
  applied MAC [ip=..] [sn=..] [gw=..] [dhcp=on|off] [hn="..."] [dns1=..]
              [dns2=..] [password=changed|removed] [skipped=KEY,...] or kept
  invalid-password MAC password=missing|wrong
  ignored MAC                         a Configure left unanswered (answer=off)
  error TEXT
  exit REASON received=N sent=N
t= is CLOCK_MONOTONIC in nanoseconds, taken just before the send and just
after the receive. The simulator's own broadcasts, which the kernel
delivers back to its socket, are dropped without a line.
)";
}

std::optional<SimulatorOptions> SimulatorOptions::parse(int argc, char** argv, std::string& error)
{
    SimulatorOptions options;
    CLI::App app{"sorvinda-modulesim", "sorvinda-modulesim"};
    // --help prints helpText(), which documents the log format too.
    app.set_help_flag();
    app.add_flag("-h,--help", options.helpRequested);

    // Modules from --module and --file are kept in command-line order, so
    // each occurrence is handled as it is read.
    app.add_option_function<std::string>("--module",
           [&options](const std::string& spec) {
               std::string why;
               auto module = parseModuleSpec(spec, why);
               if (!module)
                   throw CLI::ValidationError("--module", why);
               options.modules.push_back(std::move(*module));
           })
        ->trigger_on_parse()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option_function<std::string>("--file",
           [&options](const std::string& path) {
               std::string why;
               auto modules = readModuleFile(path, why);
               if (!modules)
                   throw CLI::ValidationError("--file", why);
               options.modules.insert(options.modules.end(), modules->begin(), modules->end());
           })
        ->trigger_on_parse()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option_function<std::string>("--raw-reply",
           [&options](const std::string& text) {
               auto bytes = platform::unescapeBytes(text);
               if (!bytes || bytes->size() > kMaxUdpPayload)
                   throw CLI::ValidationError("--raw-reply", "bad escape or longer than one datagram");
               options.rawReplies.push_back(std::move(*bytes));
           })
        ->trigger_on_parse()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    int generated = 0;
    int delayMs = 0;
    int jitterMs = 0;
    std::uint32_t seed = 0;
    app.add_option("--count", generated)->check(CLI::Range(0, kMaxGeneratedModules));
    app.add_option("--delay", delayMs)->check(CLI::Range(0, kMaxDelayMs));
    app.add_option("--jitter", jitterMs)->check(CLI::Range(0, kMaxDelayMs));
    CLI::Option* seedOption = app.add_option("--seed", seed);
    app.add_flag("--burst", options.burst);
    app.add_flag("--answer-twice", options.answerTwice);
    app.add_flag("--unicast-replies", options.unicastReplies);
    app.add_option("--port", options.port)->check(CLI::Range(1, static_cast<int>(UINT16_MAX)));
    app.add_option("--exit-after", options.exitAfter)->check(CLI::Range(1L, LONG_MAX));
    app.add_flag("--i-am-isolated", options.isolatedByFlag);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& failure) {
        error = std::string(failure.what()) + " (see --help)";
        return std::nullopt;
    }
    options.delay = std::chrono::milliseconds(delayMs);
    options.jitter = std::chrono::milliseconds(jitterMs);
    if (seedOption->count() > 0)
        options.seed = seed;
    auto more = generateModules(generated);
    options.modules.insert(options.modules.end(), more.begin(), more.end());
    return options;
}

} // namespace modulesim
