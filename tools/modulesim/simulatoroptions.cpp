#include "tools/modulesim/simulatoroptions.h"

#include "platform/textescape.h"
#include "tools/modulesim/modulespec.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <string_view>

namespace modulesim {

namespace {

constexpr std::size_t kMaxUdpPayload = 65507;

bool parseNumber(std::string_view text, long minimum, long maximum, long& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && value >= minimum && value <= maximum;
}

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
              [dns2=..] [password=changed|removed] [skipped=KEY,...]
  invalid-password MAC password=missing|wrong
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
    long generated = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const auto value = [&](std::string_view& out) {
            if (i + 1 >= argc) {
                error = std::string(option) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        const auto number = [&](long minimum, long maximum, long& out) {
            std::string_view text;
            if (!value(text))
                return false;
            if (!parseNumber(text, minimum, maximum, out)) {
                error = std::string(option) + ": expected a number from " + std::to_string(minimum) + " to "
                    + std::to_string(maximum) + ", got '" + std::string(text) + "'";
                return false;
            }
            return true;
        };

        std::string_view text;
        long n = 0;
        if (option == "--help" || option == "-h") {
            options.helpRequested = true;
        } else if (option == "--module") {
            if (!value(text))
                return std::nullopt;
            auto module = parseModuleSpec(text, error);
            if (!module) {
                error = "--module: " + error;
                return std::nullopt;
            }
            options.modules.push_back(std::move(*module));
        } else if (option == "--file") {
            if (!value(text))
                return std::nullopt;
            auto modules = readModuleFile(std::string(text), error);
            if (!modules)
                return std::nullopt;
            options.modules.insert(options.modules.end(), modules->begin(), modules->end());
        } else if (option == "--count") {
            if (!number(0, kMaxGeneratedModules, generated))
                return std::nullopt;
        } else if (option == "--delay") {
            if (!number(0, kMaxDelayMs, n))
                return std::nullopt;
            options.delay = std::chrono::milliseconds(n);
        } else if (option == "--jitter") {
            if (!number(0, kMaxDelayMs, n))
                return std::nullopt;
            options.jitter = std::chrono::milliseconds(n);
        } else if (option == "--seed") {
            if (!number(0, UINT32_MAX, n))
                return std::nullopt;
            options.seed = static_cast<std::uint32_t>(n);
        } else if (option == "--burst") {
            options.burst = true;
        } else if (option == "--answer-twice") {
            options.answerTwice = true;
        } else if (option == "--raw-reply") {
            if (!value(text))
                return std::nullopt;
            auto bytes = platform::unescapeBytes(text);
            if (!bytes || bytes->size() > kMaxUdpPayload) {
                error = "--raw-reply: bad escape or longer than one datagram";
                return std::nullopt;
            }
            options.rawReplies.push_back(std::move(*bytes));
        } else if (option == "--unicast-replies") {
            options.unicastReplies = true;
        } else if (option == "--port") {
            if (!number(1, UINT16_MAX, n))
                return std::nullopt;
            options.port = static_cast<std::uint16_t>(n);
        } else if (option == "--exit-after") {
            if (!number(1, LONG_MAX, options.exitAfter))
                return std::nullopt;
        } else if (option == "--i-am-isolated") {
            options.isolatedByFlag = true;
        } else {
            error = "unknown option '" + std::string(option) + "' (see --help)";
            return std::nullopt;
        }
    }
    auto more = generateModules(static_cast<int>(generated));
    options.modules.insert(options.modules.end(), more.begin(), more.end());
    return options;
}

} // namespace modulesim
