#ifndef TESTS_SUPPORT_ISOLATEDNETWORK_H
#define TESTS_SUPPORT_ISOLATEDNETWORK_H

#include <optional>
#include <string>

namespace testsupport {

// The private namespace pair that scripts/isolated-net made for this
// process (see that script's header). The process itself runs in the host
// namespace; simulated modules run in the modules namespace.
struct IsolatedNetwork {
    std::string hostNamespace;    // SORVINDA_NETNS_HOST
    std::string modulesNamespace; // SORVINDA_NETNS_MODULES
    // The second modules namespace (isolated-net run --networks 2), or empty.
    std::string modulesNamespace2; // SORVINDA_NETNS_MODULES2

    // Nothing unless SORVINDA_ISOLATED=1 and both namespace names are set.
    static std::optional<IsolatedNetwork> fromEnvironment();
};

// Empty when this process runs inside isolated-net; otherwise a sentence
// that says what is missing and how to run the test properly.
std::string isolatedNetworkProblem();

// For every test that sends a datagram, loads libqort or starts the
// simulator: call it before the first send. Outside isolated-net it prints
// the problem to stderr and ends the process with exit status 2, so that no
// datagram can reach the machine's own network and the test fails loudly.
// Works the same under GoogleTest and Qt Test.
void requireIsolatedNetwork();

// Where the project's programs are: $SORVINDA_BIN_DIR (set by CTest), else
// the directory of the running executable (tests live in build/bin too).
std::string binaryDirectory();

} // namespace testsupport

#endif
