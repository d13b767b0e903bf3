// Replies a careless or hostile module could send, played raw by the
// simulator. Each case ends with a well-formed sentinel reply: once its
// record arrives, everything sent before it has been handled.
#include "platform/textescape.h"
#include "tests/integration/qortsession.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/waituntil.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace integration {
namespace {

using testsupport::SimulatorProcess;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr std::size_t kReceiveBufferBytes = 1500;
constexpr std::size_t kLargestUdpPayload = 65507;
const std::string kSentinelMac = "00-30-11-99-99-99";
const std::string kSentinel = "mac = " + kSentinelMac + ";\0"s;

struct Received {
    std::vector<int> codes;                             // before the sentinel's own code 1
    std::vector<QORT_ModuleScanResponseType> responses; // without the sentinel
    std::vector<QortSession::Mac> invalidPasswordMacs;
};

std::string padded(std::string start, std::size_t length)
{
    start.resize(length, 'x');
    return start;
}

struct MalformedCase {
    const char* name;
    std::vector<std::string> replies;
    std::vector<int> codes;
    std::function<void(const Received&)> check;
};

class MalformedReplyTest : public ::testing::TestWithParam<MalformedCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QortSession::startOnce());
        QortSession::reset();
    }
};

TEST_P(MalformedReplyTest, IsHandledAndTheNextReplyStillArrives)
{
    std::vector<std::string> arguments;
    for (const std::string& reply : GetParam().replies) {
        arguments.push_back("--raw-reply");
        arguments.push_back(platform::escapeBytes(reply));
    }
    arguments.push_back("--raw-reply");
    arguments.push_back(platform::escapeBytes(kSentinel));
    SimulatorProcess simulator(arguments);
    ASSERT_TRUE(simulator.start()) << simulator.error();

    ASSERT_EQ(QORT_SendModuleScan(), 1);
    Received received;
    bool sentinelSeen = false;
    testsupport::waitUntil(
        [&] {
            for (const auto& response : QortSession::takeAllResponses()) {
                if (response.MacIdValid == 1 && macText(response.MacId) == kSentinelMac)
                    sentinelSeen = true;
                else
                    received.responses.push_back(response);
            }
            return sentinelSeen;
        },
        QortSession::kReplyTimeout);
    ASSERT_TRUE(sentinelSeen) << "the reply after the malformed ones was lost";
    received.codes = QortSession::codes();
    ASSERT_FALSE(received.codes.empty());
    ASSERT_EQ(received.codes.back(), QORT_CB_RESPONSE);
    received.codes.pop_back();
    received.invalidPasswordMacs = QortSession::takeAllInvalidPasswordMacs();

    EXPECT_EQ(received.codes, GetParam().codes);
    if (GetParam().check)
        GetParam().check(received);
}

void expectNothingQueued(const Received& received)
{
    EXPECT_TRUE(received.responses.empty());
    EXPECT_TRUE(received.invalidPasswordMacs.empty());
}

void expectOneRecordWithoutFields(const Received& received)
{
    ASSERT_EQ(received.responses.size(), 1u);
    const auto& r = received.responses[0];
    for (std::uint8_t valid : {r.ProtocolVersionValid, r.FbTypeValid, r.ModuleVersionValid, r.MacIdValid, r.IpAddrValid,
             r.SubnetMaskValid, r.GatewayValid, r.DhcpValid, r.PswdValid, r.HostNameValid, r.Dns1Valid, r.Dns2Valid})
        EXPECT_EQ(valid, 0);
}

std::function<void(const Received&)> expectOneMac(const std::string& mac)
{
    return [mac](const Received& received) {
        ASSERT_EQ(received.responses.size(), 1u);
        EXPECT_EQ(received.responses[0].MacIdValid, 1);
        EXPECT_EQ(macText(received.responses[0].MacId), mac);
    };
}

std::string allBytesButNul()
{
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Replies, MalformedReplyTest,
    ::testing::Values(MalformedCase{"LongerThanTheBufferIsDropped", {padded("mac = 00-30-11-00-00-01;", 2000)}, {},
                          expectNothingQueued},
        MalformedCase{"OneByteTooLongIsDropped", {padded("mac = 00-30-11-00-00-01;", kReceiveBufferBytes + 1)}, {},
            expectNothingQueued},
        MalformedCase{"LargestDatagramIsDropped", {padded("mac = 00-30-11-00-00-01;", kLargestUdpPayload)}, {},
            expectNothingQueued},
        MalformedCase{"ExactlyTheBufferWithoutNulIsRead", {padded("mac = 00-30-11-00-00-02;", kReceiveBufferBytes)},
            {QORT_CB_RESPONSE}, expectOneMac("00-30-11-00-00-02")},
        MalformedCase{"WithoutNulIsRead", {"mac = 00-30-11-00-00-03;ip = 1.2.3.4;"}, {QORT_CB_RESPONSE},
            [](const Received& received) {
                ASSERT_EQ(received.responses.size(), 1u);
                EXPECT_EQ(received.responses[0].IpAddrValid, 1);
                EXPECT_EQ(addressText(received.responses[0].IpAddr), "1.2.3.4");
            }},
        MalformedCase{"TextEndsAtAnEmbeddedNul", {"mac = 00-30-11-00-00-04;\0ip = 1.2.3.4;"s}, {QORT_CB_RESPONSE},
            [](const Received& received) {
                ASSERT_EQ(received.responses.size(), 1u);
                EXPECT_EQ(received.responses[0].MacIdValid, 1);
                EXPECT_EQ(received.responses[0].IpAddrValid, 0);
            }},
        MalformedCase{"EmptyDatagramIsIgnored", {""}, {}, expectNothingQueued},
        MalformedCase{"OnlyANulIsARecordWithoutFields", {"\0"s}, {QORT_CB_RESPONSE}, expectOneRecordWithoutFields},
        MalformedCase{"BinaryGarbageIsARecordWithoutFields", {allBytesButNul()}, {QORT_CB_RESPONSE},
            expectOneRecordWithoutFields},
        MalformedCase{
            "ScanEchoInAnyCaseIsIgnored", {"mOdUlE sCaN\0"s, "MODULE SCAN and more"}, {}, expectNothingQueued},
        MalformedCase{"ReconfiguredInCapitalsRaisesCodeTwoOnly", {"RECONFIGURED: 00-30-11-00-00-05\0"s},
            {QORT_CB_RECONFIGURED}, expectNothingQueued},
        MalformedCase{"InvalidPasswordQueuesTheMac", {"Invalid Password: 00-30-11-00-00-06\0"s},
            {QORT_CB_INVALID_PASSWORD},
            [](const Received& received) {
                ASSERT_EQ(received.invalidPasswordMacs.size(), 1u);
                EXPECT_EQ(macText(received.invalidPasswordMacs[0].data()), "00-30-11-00-00-06");
            }},
        MalformedCase{"InvalidPasswordWithoutSpaceQueuesAnUnknownMac", {"Invalid Password:02-00-00-12-34-56\0"s},
            {QORT_CB_INVALID_PASSWORD},
            [](const Received& received) {
                ASSERT_EQ(received.invalidPasswordMacs.size(), 1u);
                EXPECT_EQ(macText(received.invalidPasswordMacs[0].data()), "FF-FF-FF-FF-FF-FF");
            }},
        MalformedCase{"ShortMacKeepsTheMissingBytesUnknown", {"mac = 00-30-11;\0"s}, {QORT_CB_RESPONSE},
            expectOneMac("00-30-11-FF-FF-FF")},
        MalformedCase{"LongFieldIsCutAndLaterKeysAreStillFound",
            {"fb type = " + std::string(200, 'F') + ";hn = after;\0"s}, {QORT_CB_RESPONSE},
            [](const Received& received) {
                ASSERT_EQ(received.responses.size(), 1u);
                const auto& r = received.responses[0];
                EXPECT_EQ(textField(r.FbType, r.FbTypeValid), std::string(127, 'F'));
                EXPECT_EQ(textField(r.HostName, r.HostNameValid), "after");
            }},
        MalformedCase{"ManyRepliesKeepTheirOrder",
            {"mac = 00-30-11-00-00-0A;\0"s, ""s, padded("x", 3000), "Reconfigured: x\0"s,
                "mac = 00-30-11-00-00-0B;\0"s},
            {QORT_CB_RESPONSE, QORT_CB_RECONFIGURED, QORT_CB_RESPONSE},
            [](const Received& received) {
                ASSERT_EQ(received.responses.size(), 2u);
                EXPECT_EQ(macText(received.responses[0].MacId), "00-30-11-00-00-0A");
                EXPECT_EQ(macText(received.responses[1].MacId), "00-30-11-00-00-0B");
            }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace integration
