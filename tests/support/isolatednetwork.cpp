#include "tests/support/isolatednetwork.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace testsupport {

namespace {

constexpr int kExitNotIsolated = 2;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

} // namespace

std::optional<IsolatedNetwork> IsolatedNetwork::fromEnvironment()
{
    if (environment("SORVINDA_ISOLATED") != "1")
        return std::nullopt;
    IsolatedNetwork network{environment("SORVINDA_NETNS_HOST"), environment("SORVINDA_NETNS_MODULES"),
        environment("SORVINDA_NETNS_MODULES2")};
    if (network.hostNamespace.empty() || network.modulesNamespace.empty())
        return std::nullopt;
    return network;
}

std::string isolatedNetworkProblem()
{
    if (environment("SORVINDA_ISOLATED") != "1")
        return "this test sends datagrams and must run inside a private network: SORVINDA_ISOLATED=1 is not "
               "set. Run it with ctest, or as: scripts/isolated-net run -- PROGRAM";
    if (!IsolatedNetwork::fromEnvironment())
        return "SORVINDA_ISOLATED=1 is set but SORVINDA_NETNS_HOST/SORVINDA_NETNS_MODULES are not: start the "
               "test through scripts/isolated-net run";
    return {};
}

void requireIsolatedNetwork()
{
    const std::string problem = isolatedNetworkProblem();
    if (problem.empty())
        return;
    std::fprintf(stderr, "FATAL: %s\n", problem.c_str());
    std::fflush(stderr);
    // _Exit: no destructors or atexit handlers that might still send.
    std::_Exit(kExitNotIsolated);
}

std::string binaryDirectory()
{
    const std::string configured = environment("SORVINDA_BIN_DIR");
    if (!configured.empty())
        return configured;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

} // namespace testsupport
