#ifndef TOOLS_MODULESIM_SIMULATOROPTIONS_H
#define TOOLS_MODULESIM_SIMULATOROPTIONS_H

#include "tools/modulesim/simulatedmodule.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace modulesim {

// What the command line asks of one simulator run.
struct SimulatorOptions {
    static constexpr std::uint16_t kProtocolPort = 3250;
    static constexpr int kMaxGeneratedModules = 10000;
    static constexpr int kMaxDelayMs = 60000;

    std::vector<SimulatedModule> modules;
    // Replace every module's scan reply: each is sent as is (no NUL added).
    std::vector<std::string> rawReplies;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds jitter{0};
    bool burst = false;
    bool answerTwice = false;
    bool unicastReplies = false;
    // Stop after this many datagrams from others were handled; 0: never.
    long exitAfter = 0;
    std::uint16_t port = kProtocolPort;
    std::optional<std::uint32_t> seed;
    bool isolatedByFlag = false;
    bool helpRequested = false;

    // On failure returns nothing and says why in `error`.
    static std::optional<SimulatorOptions> parse(int argc, char** argv, std::string& error);
    static std::string helpText();
};

} // namespace modulesim

#endif
