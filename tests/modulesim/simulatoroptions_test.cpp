#include "tools/modulesim/simulatoroptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace modulesim {
namespace {

std::optional<SimulatorOptions> parse(std::vector<std::string> arguments, std::string& error)
{
    arguments.insert(arguments.begin(), "sorvinda-modulesim");
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    return SimulatorOptions::parse(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(SimulatorOptions, DefaultsServeNothingOnTheProtocolPort)
{
    std::string error;
    const auto options = parse({}, error);
    ASSERT_TRUE(options.has_value()) << error;
    EXPECT_TRUE(options->modules.empty());
    EXPECT_EQ(options->port, 3250);
    EXPECT_FALSE(options->unicastReplies);
    EXPECT_FALSE(options->isolatedByFlag);
}

TEST(SimulatorOptions, ReadsEveryOption)
{
    std::string error;
    const auto options = parse({"--module", "mac=00-30-11-AA-00-01", "--count", "3", "--delay", "5", "--jitter", "7",
                                   "--seed", "42", "--burst", "--answer-twice", "--raw-reply", "a\\x00b",
                                   "--unicast-replies", "--port", "4000", "--exit-after", "9", "--i-am-isolated"},
        error);
    ASSERT_TRUE(options.has_value()) << error;
    ASSERT_EQ(options->modules.size(), 4u);
    EXPECT_EQ(options->modules[0].mac().toString(), "00-30-11-AA-00-01");
    EXPECT_EQ(options->modules[1].mac().toString(), "00-30-11-00-00-01");
    EXPECT_EQ(options->delay.count(), 5);
    EXPECT_EQ(options->jitter.count(), 7);
    EXPECT_EQ(options->seed, 42u);
    EXPECT_TRUE(options->burst);
    EXPECT_TRUE(options->answerTwice);
    ASSERT_EQ(options->rawReplies.size(), 1u);
    EXPECT_EQ(options->rawReplies[0], std::string("a\0b", 3));
    EXPECT_TRUE(options->unicastReplies);
    EXPECT_EQ(options->port, 4000);
    EXPECT_EQ(options->exitAfter, 9);
    EXPECT_TRUE(options->isolatedByFlag);
}

TEST(SimulatorOptions, RefusesBadInput)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--count"},
        {"--count", "-1"},
        {"--count", "10001"},
        {"--count", "3x"},
        {"--delay", ""},
        {"--delay", "60001"},
        {"--port", "0"},
        {"--port", "65536"},
        {"--exit-after", "0"},
        {"--raw-reply", "\\x4"},
        {"--raw-reply", std::string(70000, 'x')},
        {"--module", "ip=1.2.3.4"},
        {"--file", "/nonexistent"},
        {"--bogus"},
    };
    for (const auto& arguments : bad) {
        std::string error;
        EXPECT_FALSE(parse(arguments, error).has_value()) << arguments.front();
        EXPECT_FALSE(error.empty()) << arguments.front();
    }
}

} // namespace
} // namespace modulesim
