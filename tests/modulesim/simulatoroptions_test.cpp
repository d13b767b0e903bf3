#include "tools/modulesim/simulatoroptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace modulesim {
namespace {

using namespace std::string_literals;

std::optional<SimulatorOptions> parse(std::vector<std::string> arguments, std::string& error)
{
    arguments.insert(arguments.begin(), "sorvinda-modulesim");
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    return SimulatorOptions::parse(static_cast<int>(argv.size()), argv.data(), error);
}

// Every option as parsed in one line (MACs of the modules, then the other
// fields), or "refused" when parsing failed with a reason.
std::string summary(const std::vector<std::string>& arguments)
{
    std::string error;
    const auto o = parse(arguments, error);
    if (!o)
        return error.empty() ? "refused without a reason" : "refused";
    std::string text;
    for (const auto& module : o->modules)
        text += module.mac().toString().substr(9) + ",";
    for (const auto& raw : o->rawReplies)
        text += "raw=" + raw + ",";
    return text + "delay=" + std::to_string(o->delay.count()) + " jitter=" + std::to_string(o->jitter.count())
        + " seed=" + (o->seed ? std::to_string(*o->seed) : "-") + " flags=" + std::to_string(o->burst)
        + std::to_string(o->answerTwice) + std::to_string(o->unicastReplies) + std::to_string(o->isolatedByFlag)
        + " port=" + std::to_string(o->port) + " exit=" + std::to_string(o->exitAfter);
}

TEST(SimulatorOptions, ReadsEveryOptionDefaultsToNothingOnTheProtocolPortAndRefusesBadInput)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "delay=0 jitter=0 seed=- flags=0000 port=3250 exit=0"},
        {{"--module", "mac=00-30-11-AA-00-01", "--count", "3", "--delay", "5", "--jitter", "7", "--seed", "42",
             "--burst", "--answer-twice", "--raw-reply", "a\\x00b", "--unicast-replies", "--port", "4000",
             "--exit-after", "9", "--i-am-isolated"},
            "AA-00-01,00-00-01,00-00-02,00-00-03,raw=a\0b,delay=5 jitter=7 seed=42 flags=1111 port=4000 exit=9"s},
        {{"--count"}, "refused"},
        {{"--count", "-1"}, "refused"},
        {{"--count", "10001"}, "refused"},
        {{"--count", "3x"}, "refused"},
        {{"--delay", ""}, "refused"},
        {{"--delay", "60001"}, "refused"},
        {{"--port", "0"}, "refused"},
        {{"--port", "65536"}, "refused"},
        {{"--exit-after", "0"}, "refused"},
        {{"--raw-reply", "\\x4"}, "refused"},
        {{"--raw-reply", std::string(70000, 'x')}, "refused"},
        {{"--module", "ip=1.2.3.4"}, "refused"},
        {{"--file", "/nonexistent"}, "refused"},
        {{"--bogus"}, "refused"},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(summary(arguments), expected) << (arguments.empty() ? "" : arguments.front());
}

} // namespace
} // namespace modulesim
