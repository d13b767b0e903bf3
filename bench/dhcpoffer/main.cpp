// DHCP DISCOVER -> OFFER: the recovery server runs with its own worker (as
// in the window), a client socket on port 68 of the same namespace sends a
// DISCOVER and waits for the broadcast OFFER. Reports median, 99th
// percentile and worst time from the send to the OFFER's arrival.
//
//   bench_dhcpoffer [ROUNDS]      default: 200
// Inside scripts/isolated-net only (see bench/README.md).
#include "dhcp/dhcpservercontrol.h"
#include "platform/udpsocket.h"
#include "tests/dhcp/dhcpclientsocket.h"
#include "tests/support/isolatednetwork.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDefaultRounds = 200;
constexpr std::chrono::milliseconds kReplyWait{2000};
// The client looks for the OFFER this often (the measuring resolution).
constexpr std::chrono::microseconds kLookInterval{20};
// Lets the worker settle into its wait between rounds.
constexpr std::chrono::milliseconds kBetweenRounds{5};

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * (values.size() - 1))];
}

} // namespace

int main(int argc, char** argv)
{
    testsupport::requireIsolatedNetwork();
    const int rounds = argc > 1 ? std::atoi(argv[1]) : kDefaultRounds;
    DhcpServerControl control;
    if (!control.Start()) {
        std::fprintf(stderr, "the server cannot bind port 67\n");
        return 1;
    }
    platform::UdpSocket client;
    if (!client.open() || !client.enableBroadcast() || !client.bind(CDhcpServer::kClientPort)
        || !client.setNonBlocking()) {
        std::fprintf(stderr, "the client cannot bind port 68\n");
        return 1;
    }
    const auto discover = dhcptest::MakeRequest(dhcptest::kSupportedMac, CDhcpMessage::kDhcpDiscover);
    std::vector<std::uint8_t> reply(CDhcpMessage::kWireBufferSize);
    std::vector<double> micros;
    for (int i = 0; i < rounds; ++i) {
        const auto sent = Clock::now();
        client.sendTo(
            platform::UdpSocket::kLoopbackAddress, CDhcpServer::kServerPort, discover.data(), discover.size());
        while (client.receiveFrom(reply.data(), reply.size()).status != platform::UdpSocket::ReceiveStatus::Received) {
            if (Clock::now() - sent > kReplyWait) {
                std::fprintf(stderr, "round %d: no OFFER in time\n", i);
                return 1;
            }
            std::this_thread::sleep_for(kLookInterval);
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        std::this_thread::sleep_for(kBetweenRounds);
    }
    std::printf("DISCOVER -> OFFER over %d rounds: median %.0f us, p99 %.0f us, worst %.0f us\n", rounds,
        percentile(micros, 0.5), percentile(micros, 0.99), percentile(micros, 1.0));
    return 0;
}
