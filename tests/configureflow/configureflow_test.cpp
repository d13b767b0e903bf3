#include "devicelist/configureflow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using devicelist::BuildConfigureRequest;
using devicelist::ConfigureDialogTitle;
using devicelist::PrefillConfigFields;

constexpr std::uint32_t kIp = 0xC0A8000Au;      // 192.168.0.10
constexpr std::uint32_t kMask = 0xFFFFFF00u;    // 255.255.255.0
constexpr std::uint32_t kGateway = 0xC0A80001u; // 192.168.0.1
constexpr std::uint32_t kDns1 = 0x08080808u;
constexpr std::uint32_t kDns2 = 0x01010101u;
constexpr std::uint8_t kMac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F};

// A record as the library leaves it for a reply that named nothing: every
// byte 0xFF, every Valid byte 0.
QORT_ModuleScanResponseType EmptyRecord()
{
    QORT_ModuleScanResponseType r;
    std::memset(&r, 0xFF, sizeof r);
    r.ProtocolVersionValid = r.FbTypeValid = r.ModuleVersionValid = r.MacIdValid = 0;
    r.IpAddrValid = r.SubnetMaskValid = r.GatewayValid = r.DhcpValid = r.PswdValid = 0;
    r.HostNameValid = r.Dns1Valid = r.Dns2Valid = 0;
    return r;
}

void SetText(char (&field)[QORT_TEXT_FIELD_SIZE], const std::string& text)
{
    std::memset(field, 0, QORT_TEXT_FIELD_SIZE);
    std::memcpy(field, text.data(), std::min(text.size(), std::size_t{QORT_TEXT_FIELD_SIZE - 1}));
}

QORT_ModuleScanResponseType FullRecord()
{
    QORT_ModuleScanResponseType r = EmptyRecord();
    std::memcpy(r.MacId, kMac, sizeof kMac);
    r.MacIdValid = 1;
    r.IpAddr = kIp;
    r.IpAddrValid = 1;
    r.SubnetMask = kMask;
    r.SubnetMaskValid = 1;
    r.Gateway = kGateway;
    r.GatewayValid = 1;
    r.Dns1 = kDns1;
    r.Dns1Valid = 1;
    r.Dns2 = kDns2;
    r.Dns2Valid = 1;
    r.Dhcp = 1;
    r.DhcpValid = 1;
    r.Pswd = 1;
    r.PswdValid = 1;
    SetText(r.HostName, "PLC1");
    r.HostNameValid = 1;
    return r;
}

std::string RequestText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return {field, ::strnlen(field, QORT_TEXT_FIELD_SIZE)};
}

// ---------------------------------------------------------------- pre-fill

class ConfigurePrefill : public testing::Test {
protected:
    EthernetConfigFields Prefill(const QORT_ModuleScanResponseType& record)
    {
        EthernetConfigFields fields;
        PrefillConfigFields(record, fields);
        return fields;
    }
};

TEST_F(ConfigurePrefill, TitleIsPrefixAndMacText)
{
    EXPECT_EQ(ConfigureDialogTitle("00-30-11-0A-BC-0F"), "Configure: 00-30-11-0A-BC-0F");
    EXPECT_EQ(ConfigureDialogTitle(""), "Configure: ");
}

TEST_F(ConfigurePrefill, CopiesEveryReportedValue)
{
    const EthernetConfigFields f = Prefill(FullRecord());
    EXPECT_EQ(f.IpAddrValid, 1);
    EXPECT_EQ(f.IpAddr, kIp);
    EXPECT_EQ(f.SubnetMaskValid, 1);
    EXPECT_EQ(f.SubnetMask, kMask);
    EXPECT_EQ(f.GatewayValid, 1);
    EXPECT_EQ(f.Gateway, kGateway);
    EXPECT_EQ(f.Dns1Valid, 1);
    EXPECT_EQ(f.Dns1, kDns1);
    EXPECT_EQ(f.Dns2Valid, 1);
    EXPECT_EQ(f.Dns2, kDns2);
    EXPECT_EQ(f.HostNameValid, 1);
    EXPECT_EQ(ConfigTextView(f.HostName), "PLC1");
    EXPECT_EQ(f.DhcpChoice, kDhcpChoiceOn);
    EXPECT_EQ(f.PasswordProtected, 1);
}

TEST_F(ConfigurePrefill, MarksEveryUnreportedValueInvalid)
{
    const EthernetConfigFields f = Prefill(EmptyRecord());
    EXPECT_EQ(f.IpAddrValid, 0);
    EXPECT_EQ(f.SubnetMaskValid, 0);
    EXPECT_EQ(f.GatewayValid, 0);
    EXPECT_EQ(f.Dns1Valid, 0);
    EXPECT_EQ(f.Dns2Valid, 0);
    EXPECT_EQ(f.HostNameValid, 0);
    EXPECT_EQ(ConfigTextView(f.HostName), "") << "an unterminated 0xFF host name must not be copied";
    EXPECT_EQ(f.DhcpChoice, kDhcpChoiceOff);
    EXPECT_EQ(f.PasswordProtected, 0);
}

TEST_F(ConfigurePrefill, ValidByteOtherThanOneCountsAsAbsent)
{
    QORT_ModuleScanResponseType r = FullRecord();
    r.IpAddrValid = 2;
    r.HostNameValid = 0xFF;
    const EthernetConfigFields f = Prefill(r);
    EXPECT_EQ(f.IpAddrValid, 0);
    EXPECT_EQ(f.HostNameValid, 0);
    EXPECT_EQ(ConfigTextView(f.HostName), "");
}

TEST_F(ConfigurePrefill, ReportedAddressesWithoutDns)
{
    QORT_ModuleScanResponseType r = FullRecord();
    r.Dns1Valid = 0;
    r.Dns2Valid = 0;
    const EthernetConfigFields f = Prefill(r);
    EXPECT_EQ(f.IpAddr, kIp);
    EXPECT_EQ(f.SubnetMask, kMask);
    EXPECT_EQ(f.Gateway, kGateway);
    EXPECT_EQ(f.Dns1Valid, 0);
    EXPECT_EQ(f.Dns2Valid, 0);
}

struct DhcpCase {
    const char* name;
    std::uint8_t dhcpValid;
    std::uint8_t dhcp;
    std::int32_t choice;
};

class ConfigurePrefillDhcp : public ConfigurePrefill, public testing::WithParamInterface<DhcpCase> { };

TEST_P(ConfigurePrefillDhcp, PreselectsRadioButton)
{
    QORT_ModuleScanResponseType r = FullRecord();
    r.DhcpValid = GetParam().dhcpValid;
    r.Dhcp = GetParam().dhcp;
    EXPECT_EQ(Prefill(r).DhcpChoice, GetParam().choice);
}

INSTANTIATE_TEST_SUITE_P(Table, ConfigurePrefillDhcp,
    testing::Values(DhcpCase{"ReportedOn", 1, 1, kDhcpChoiceOn}, DhcpCase{"ReportedOff", 1, 0, kDhcpChoiceOff},
        // Neither on nor off: the list shows "Off", the dialog "On".
        DhcpCase{"ReportedNeither", 1, 0xFF, kDhcpChoiceOn}, DhcpCase{"NotReported", 0, 0xFF, kDhcpChoiceOff},
        DhcpCase{"NotReportedButOne", 0, 1, kDhcpChoiceOff}),
    [](const testing::TestParamInfo<DhcpCase>& info) { return std::string(info.param.name); });

struct PasswordCase {
    const char* name;
    std::uint8_t pswdValid;
    std::uint8_t pswd;
    std::int32_t protectedFlag;
};

class ConfigurePrefillPassword : public ConfigurePrefill, public testing::WithParamInterface<PasswordCase> { };

TEST_P(ConfigurePrefillPassword, SetsProtectedOnlyWhenBothNonZero)
{
    QORT_ModuleScanResponseType r = FullRecord();
    r.PswdValid = GetParam().pswdValid;
    r.Pswd = GetParam().pswd;
    EXPECT_EQ(Prefill(r).PasswordProtected, GetParam().protectedFlag);
}

INSTANTIATE_TEST_SUITE_P(Table, ConfigurePrefillPassword,
    testing::Values(PasswordCase{"On", 1, 1, 1}, PasswordCase{"Off", 1, 0, 0}, PasswordCase{"Neither", 1, 0xFF, 1},
        PasswordCase{"NotReported", 0, 0xFF, 0}, PasswordCase{"NotReportedButOne", 0, 1, 0}),
    [](const testing::TestParamInfo<PasswordCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigurePrefill, HostNameOfEveryLengthIsCutTo29)
{
    for (std::size_t length = 0; length < QORT_TEXT_FIELD_SIZE; ++length) {
        QORT_ModuleScanResponseType r = FullRecord();
        const std::string name(length, 'h');
        SetText(r.HostName, name);
        const EthernetConfigFields f = Prefill(r);
        EXPECT_EQ(ConfigTextView(f.HostName), name.substr(0, kConfigTextMaxChars)) << "length " << length;
        EXPECT_EQ(f.HostName[kConfigTextMaxChars], '\0');
    }
}

TEST_F(ConfigurePrefill, UnterminatedHostNameIsReadWithinItsField)
{
    QORT_ModuleScanResponseType r = FullRecord();
    std::memset(r.HostName, 'q', QORT_TEXT_FIELD_SIZE);
    const EthernetConfigFields f = Prefill(r);
    EXPECT_EQ(ConfigTextView(f.HostName), std::string(kConfigTextMaxChars, 'q'));
}

// ---------------------------------------------------------------- request

class ConfigureRequest : public testing::Test {
protected:
    // The dialog's outputs for a fully reported module, as "Set" leaves them.
    EthernetConfigFields Confirmed()
    {
        EthernetConfigFields f;
        PrefillConfigFields(FullRecord(), f);
        StoreConfigText(f.Password, "secret");
        return f;
    }
};

TEST_F(ConfigureRequest, CarriesMacAndAddressesAsTheyAre)
{
    const QORT_ConfigureRequestType q = BuildConfigureRequest(FullRecord(), Confirmed());
    EXPECT_EQ(0, std::memcmp(q.MacId, kMac, QORT_MAC_SIZE));
    EXPECT_EQ(q.IpAddr, kIp);
    EXPECT_EQ(q.SubnetMask, kMask);
    EXPECT_EQ(q.Gateway, kGateway);
    EXPECT_EQ(q.Dns1, kDns1);
    EXPECT_EQ(q.Dns2, kDns2);
    EXPECT_EQ(RequestText(q.Password), "secret");
    EXPECT_EQ(RequestText(q.HostName), "PLC1");
}

TEST_F(ConfigureRequest, MacComesFromTheFoundRecordNotTheFields)
{
    QORT_ModuleScanResponseType other = FullRecord();
    other.MacId[5] = 0x99;
    const QORT_ConfigureRequestType q = BuildConfigureRequest(other, Confirmed());
    EXPECT_EQ(q.MacId[5], 0x99);
}

TEST_F(ConfigureRequest, UnreportedAddressesGoOutAsZero)
{
    // The dialog reads a cleared, disabled control as 0.
    EthernetConfigFields f = Confirmed();
    f.Dns1Valid = f.Dns2Valid = 0;
    f.Dns1 = f.Dns2 = 0;
    const QORT_ConfigureRequestType q = BuildConfigureRequest(FullRecord(), f);
    EXPECT_EQ(q.IpAddr, kIp);
    EXPECT_EQ(q.SubnetMask, kMask);
    EXPECT_EQ(q.Gateway, kGateway);
    EXPECT_EQ(q.Dns1, 0u);
    EXPECT_EQ(q.Dns2, 0u);
    EXPECT_NE(q.Dns1, QORT_ADDR_NOT_GIVEN);
}

struct DhcpRequestCase {
    const char* name;
    std::int32_t choice;
    std::uint8_t dhcp;
};

class ConfigureRequestDhcp : public ConfigureRequest, public testing::WithParamInterface<DhcpRequestCase> { };

TEST_P(ConfigureRequestDhcp, MapsRadioChoice)
{
    EthernetConfigFields f = Confirmed();
    f.DhcpChoice = GetParam().choice;
    EXPECT_EQ(BuildConfigureRequest(FullRecord(), f).Dhcp, GetParam().dhcp);
}

INSTANTIATE_TEST_SUITE_P(Table, ConfigureRequestDhcp,
    testing::Values(DhcpRequestCase{"On", kDhcpChoiceOn, 1}, DhcpRequestCase{"Off", kDhcpChoiceOff, 0},
        DhcpRequestCase{"NoneChecked", kDhcpChoiceNone, 0}),
    [](const testing::TestParamInfo<DhcpRequestCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigureRequest, DhcpLeftUnchangedRoundTrips)
{
    QORT_ModuleScanResponseType on = FullRecord();
    EthernetConfigFields f;
    PrefillConfigFields(on, f);
    EXPECT_EQ(BuildConfigureRequest(on, f).Dhcp, 1);

    QORT_ModuleScanResponseType unknown = FullRecord();
    unknown.DhcpValid = 0;
    EthernetConfigFields g;
    PrefillConfigFields(unknown, g);
    EXPECT_EQ(BuildConfigureRequest(unknown, g).Dhcp, 0);
}

TEST_F(ConfigureRequest, NewPasswordOnlyWhenChangeChecked)
{
    EthernetConfigFields f = Confirmed();
    StoreConfigText(f.NewPassword, "typed");

    f.ChangePassword = 0;
    QORT_ConfigureRequestType q = BuildConfigureRequest(FullRecord(), f);
    EXPECT_EQ(q.ChangePassword, 0);
    EXPECT_EQ(RequestText(q.NewPassword), "");

    f.ChangePassword = 1;
    q = BuildConfigureRequest(FullRecord(), f);
    EXPECT_EQ(q.ChangePassword, 1);
    EXPECT_EQ(RequestText(q.NewPassword), "typed");
}

TEST_F(ConfigureRequest, ChangePasswordOtherThanOneSendsNoNewPassword)
{
    EthernetConfigFields f = Confirmed();
    StoreConfigText(f.NewPassword, "typed");
    f.ChangePassword = 2;
    const QORT_ConfigureRequestType q = BuildConfigureRequest(FullRecord(), f);
    EXPECT_EQ(q.ChangePassword, 0);
    EXPECT_EQ(RequestText(q.NewPassword), "");
}

TEST_F(ConfigureRequest, UnprotectedModuleSendsEmptyPassword)
{
    EthernetConfigFields f;
    PrefillConfigFields(FullRecord(), f);
    const QORT_ConfigureRequestType q = BuildConfigureRequest(FullRecord(), f);
    EXPECT_EQ(RequestText(q.Password), "");
}

TEST_F(ConfigureRequest, FortyCharacterHostNameIsSentAs29)
{
    QORT_ModuleScanResponseType r = FullRecord();
    const std::string forty(40, 'N');
    SetText(r.HostName, forty);
    EthernetConfigFields f;
    PrefillConfigFields(r, f);
    const QORT_ConfigureRequestType q = BuildConfigureRequest(r, f);
    EXPECT_EQ(RequestText(q.HostName), forty.substr(0, 29));
}

TEST_F(ConfigureRequest, TextFieldsAreZeroFilledToTheirEnd)
{
    EthernetConfigFields f = Confirmed();
    f.ChangePassword = 1;
    StoreConfigText(f.NewPassword, std::string(60, 'n'));
    const QORT_ConfigureRequestType q = BuildConfigureRequest(FullRecord(), f);
    for (const char* field : {q.Password, q.NewPassword, q.HostName}) {
        const std::size_t used = ::strnlen(field, QORT_TEXT_FIELD_SIZE);
        EXPECT_LE(used, kConfigTextMaxChars);
        for (std::size_t i = used; i < QORT_TEXT_FIELD_SIZE; ++i) {
            ASSERT_EQ(field[i], '\0') << "byte " << i;
        }
    }
}

TEST_F(ConfigureRequest, UnterminatedDialogTextStaysWithinItsField)
{
    // A caller that wrote all 30 bytes of a field leaves no NUL: the copy must
    // stop at the field's end rather than run into the next member.
    EthernetConfigFields f = Confirmed();
    std::memset(f.HostName, 'w', kConfigTextSize);
    const QORT_ConfigureRequestType q = BuildConfigureRequest(FullRecord(), f);
    EXPECT_EQ(RequestText(q.HostName), std::string(kConfigTextSize, 'w'));
}

} // namespace
