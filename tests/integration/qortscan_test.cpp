// The example program end to end: it lists what simulated modules report,
// "N/A" for what they leave out, and keeps a hostile type text off the
// terminal.
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using testsupport::SimulatorProcess;

std::string runQortscan()
{
    const std::string command = testsupport::binaryDirectory() + "/sorvinda-qortscan --wait 3000";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    std::string output;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, got);
    const int status = ::pclose(pipe);
    return status == 0 ? output : "exit status " + std::to_string(status) + "\n" + output;
}

TEST(Qortscan, ListsEveryModuleWithTheDeviceListColumns)
{
    testsupport::requireIsolatedNetwork();
    SimulatorProcess simulator({
        "--module",
        "mac=00-30-11-00-00-0A,ip=10.1.2.3,sn=255.0.0.0,gw=10.0.0.1,dhcp=on,version=2.1.300,fb=PROFINET IO",
        "--module",
        "mac=00-30-11-00-00-0B,protocol=1.9,-sn,-gw,-dhcp,-version,-fb",
    });
    ASSERT_TRUE(simulator.start()) << simulator.error();

    const std::string output = runQortscan();

    EXPECT_NE(
        output.find("IP               SN               GW               DHCP  Version    Type              MAC\n"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("10.1.2.3         255.0.0.0        10.0.0.1         On    2.01.300   PROFINET IO       "
                          "00-30-11-00-00-0A\n"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("192.168.0.10     N/A              N/A              N/A   N/A        N/A               "
                          "00-30-11-00-00-0B\n"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("2 modules answered\n"), std::string::npos) << output;
}

TEST(Qortscan, ReplacesControlBytesInModuleTexts)
{
    testsupport::requireIsolatedNetwork();
    SimulatorProcess simulator({"--raw-reply", "fb type = \\x1B[2Jevil\\x07;mac = 00-30-11-00-00-0C;\\x00"});
    ASSERT_TRUE(simulator.start()) << simulator.error();

    const std::string output = runQortscan();

    EXPECT_EQ(output.find('\x1B'), std::string::npos);
    EXPECT_EQ(output.find('\x07'), std::string::npos);
    EXPECT_NE(output.find("?[2Jevil?"), std::string::npos) << output;
    EXPECT_NE(output.find("1 module answered\n"), std::string::npos) << output;
}

} // namespace
