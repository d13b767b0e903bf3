#include "tools/modulesim/simulatedmodule.h"

#include <gtest/gtest.h>

#include <string>

namespace modulesim {
namespace {

const MacAddress kMac{{0x00, 0x30, 0x11, 0x00, 0x00, 0x01}};
const std::string kTarget = "Configure: 00-30-11-00-00-01;";

Request configureRequest(const std::string& pieces)
{
    return Request::parse(kTarget + pieces);
}

class SimulatedModuleTest : public ::testing::Test {
protected:
    SimulatedModule module{kMac};
};

TEST_F(SimulatedModuleTest, DefaultReplyHasEveryKeyInOrder)
{
    EXPECT_EQ(module.scanReply(),
        "protocol version = 1.10;fb type = Modbus TCP;module version = 2.01.7;mac = 00-30-11-00-00-01;"
        "ip = 192.168.0.10;sn = 255.255.255.0;gw = 0.0.0.0;dhcp = off;pswd = off;hn = module-000001;"
        "dns1 = 0.0.0.0;dns2 = 0.0.0.0;");
}

TEST_F(SimulatedModuleTest, OmittedFieldsLeaveTheReply)
{
    module.omitField(ModuleField::HostName);
    module.omitField(ModuleField::Dns1);
    module.omitField(ModuleField::Dns2);
    module.setField(ModuleField::ProtocolVersion, "1.9");
    EXPECT_EQ(module.scanReply(),
        "protocol version = 1.9;fb type = Modbus TCP;module version = 2.01.7;mac = 00-30-11-00-00-01;"
        "ip = 192.168.0.10;sn = 255.255.255.0;gw = 0.0.0.0;dhcp = off;pswd = off;");
}

TEST_F(SimulatedModuleTest, AnswersCarryTheMac)
{
    EXPECT_EQ(module.reconfiguredReply(), "Reconfigured: 00-30-11-00-00-01");
    EXPECT_EQ(module.invalidPasswordReply(), "Invalid Password: 00-30-11-00-00-01");
}

TEST_F(SimulatedModuleTest, AppliesEveryPiece)
{
    const auto result = module.configure(configureRequest(
        "IP = 10.0.0.5;SN = 255.0.0.0;GW = 10.0.0.1;DHCP = ON;HN = plc-7;DNS1 = 10.0.0.2;DNS2 = 10.0.0.3;"));
    EXPECT_EQ(result.outcome, SimulatedModule::Outcome::Reconfigured);
    EXPECT_EQ(result.summary, "ip=10.0.0.5 sn=255.0.0.0 gw=10.0.0.1 dhcp=on hn=\"plc-7\" dns1=10.0.0.2 dns2=10.0.0.3");
    EXPECT_EQ(module.field(ModuleField::Ip), "10.0.0.5");
    EXPECT_EQ(module.field(ModuleField::SubnetMask), "255.0.0.0");
    EXPECT_EQ(module.field(ModuleField::Gateway), "10.0.0.1");
    EXPECT_EQ(module.field(ModuleField::Dhcp), "on");
    EXPECT_EQ(module.field(ModuleField::HostName), "plc-7");
    EXPECT_EQ(module.field(ModuleField::Dns1), "10.0.0.2");
    EXPECT_EQ(module.field(ModuleField::Dns2), "10.0.0.3");
}

TEST_F(SimulatedModuleTest, EmptyHostNamePieceClearsTheName)
{
    module.configure(configureRequest("HN = ;"));
    EXPECT_EQ(module.field(ModuleField::HostName), "");
    EXPECT_NE(module.scanReply().find(";hn = ;"), std::string::npos);
}

struct SkipCase {
    const char* name;
    std::string pieces;
    std::string summary;
};

class SimulatedModuleSkipTest : public ::testing::TestWithParam<SkipCase> { };

// Malformed values are left alone; the rest of the request still applies.
TEST_P(SimulatedModuleSkipTest, SkipsMalformedValues)
{
    SimulatedModule module(kMac);
    const auto result = module.configure(configureRequest(GetParam().pieces));
    EXPECT_EQ(result.outcome, SimulatedModule::Outcome::Reconfigured);
    EXPECT_EQ(result.summary, GetParam().summary);
    EXPECT_EQ(module.field(ModuleField::Ip), "192.168.0.10");
}

INSTANTIATE_TEST_SUITE_P(Table, SimulatedModuleSkipTest,
    ::testing::Values(SkipCase{"OctetTooLarge", "IP = 256.1.1.1;", "skipped=IP"},
        SkipCase{"ThreeParts", "IP = 1.1.1;", "skipped=IP"}, SkipCase{"Empty", "IP = ;", "skipped=IP"},
        SkipCase{"Letters", "IP = a.b.c.d;DHCP = maybe;", "skipped=IP,DHCP"},
        SkipCase{"TrailingText", "IP = 1.2.3.4x;GW = 1.2.3.4;", "gw=1.2.3.4 skipped=IP"},
        SkipCase{"FourDigits", "IP = 0001.2.3.4;", "skipped=IP"}, SkipCase{"UnknownKeyIgnored", "COLOUR = red;", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatedModuleTest, LeadingZerosAreNormalised)
{
    module.configure(configureRequest("IP = 010.001.000.099;"));
    EXPECT_EQ(module.field(ModuleField::Ip), "10.1.0.99");
}

TEST_F(SimulatedModuleTest, LongHostNameIsCut)
{
    module.configure(configureRequest("HN = " + std::string(300, 'h') + ";"));
    EXPECT_EQ(module.field(ModuleField::HostName), std::string(SimulatedModule::kMaxTextLength, 'h'));
}

TEST_F(SimulatedModuleTest, PasswordProtectsEveryChange)
{
    module.setPassword("secret");
    EXPECT_EQ(module.field(ModuleField::Pswd), "on");

    struct Attempt {
        std::string pieces;
        const char* summary;
    };
    for (const Attempt& attempt :
        {Attempt{"IP = 10.0.0.5;", "password=missing"}, Attempt{"Password: Secret;IP = 10.0.0.5;", "password=wrong"},
            Attempt{"Password: secret ;IP = 10.0.0.5;", "password=wrong"},
            Attempt{"Password: ;IP = 10.0.0.5;", "password=wrong"}}) {
        const auto result = module.configure(configureRequest(attempt.pieces));
        EXPECT_EQ(result.outcome, SimulatedModule::Outcome::InvalidPassword) << attempt.pieces;
        EXPECT_EQ(result.summary, attempt.summary) << attempt.pieces;
        EXPECT_EQ(module.field(ModuleField::Ip), "192.168.0.10") << attempt.pieces;
    }

    const auto accepted = module.configure(configureRequest("Password: secret;IP = 10.0.0.5;"));
    EXPECT_EQ(accepted.outcome, SimulatedModule::Outcome::Reconfigured);
    EXPECT_EQ(module.field(ModuleField::Ip), "10.0.0.5");
}

TEST_F(SimulatedModuleTest, UnprotectedModuleIgnoresAPasswordPiece)
{
    const auto result = module.configure(configureRequest("Password: anything;IP = 10.0.0.5;"));
    EXPECT_EQ(result.outcome, SimulatedModule::Outcome::Reconfigured);
    EXPECT_EQ(module.field(ModuleField::Ip), "10.0.0.5");
}

TEST_F(SimulatedModuleTest, NewPasswordChangesAndRemovesProtection)
{
    module.configure(configureRequest("New Password = first;"));
    EXPECT_EQ(module.password(), "first");
    EXPECT_EQ(module.field(ModuleField::Pswd), "on");

    EXPECT_EQ(module.configure(configureRequest("New Password = second;")).outcome,
        SimulatedModule::Outcome::InvalidPassword);
    const auto removed = module.configure(configureRequest("Password: first;New Password = ;"));
    EXPECT_EQ(removed.summary, "password=removed");
    EXPECT_EQ(module.password(), "");
    EXPECT_EQ(module.field(ModuleField::Pswd), "off");
}

TEST_F(SimulatedModuleTest, ExplicitPswdFieldIsNotOverriddenByThePassword)
{
    module.setField(ModuleField::Pswd, "off");
    module.setPassword("hidden");
    EXPECT_EQ(module.field(ModuleField::Pswd), "off");
}

TEST(DottedQuad, NormalisesOnlyWellFormedAddresses)
{
    EXPECT_EQ(normaliseDottedQuad("0.0.0.0"), "0.0.0.0");
    EXPECT_EQ(normaliseDottedQuad("255.255.255.255"), "255.255.255.255");
    EXPECT_EQ(normaliseDottedQuad("01.02.03.004"), "1.2.3.4");
    EXPECT_EQ(normaliseDottedQuad("1.02.03.04"), "1.2.3.4");
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1..2.3", "-1.2.3.4", "1.2.3.4 ", " 1.2.3.4", "1.2.3.256"})
        EXPECT_FALSE(normaliseDottedQuad(bad).has_value()) << bad;
}

} // namespace
} // namespace modulesim
