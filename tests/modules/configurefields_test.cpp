// The checks of "Set", the dialog's text fields and the command line's
// request: plain code.

#include "modules/configurerequest.h"
#include "modules/ethernetconfigcheck.h"
#include "modules/ethernetconfigfields.h"
#include "tests/modules/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ConfigureChecks, HostNameTakesOnlyAsciiLettersAndDigits)
{
    const struct {
        std::string name;
        bool legal;
    } rows[] = {{"", true}, {"PLC1", true}, {"azAZ09", true}, {std::string(40, 'x'), true}, {"plc-1", false},
        {"plc 1", false}, {"plc.local", false}, {"plc_1", false}, {"-plc", false}, {"plc1!", false},
        {std::string("plc\0x", 5), false}, {"pl\xE4tz", false}, {"pl\xC3\xA4tz", false},
        // The bytes next to each accepted range.
        {":", false}, {"@", false}, {"[", false}, {"`", false}, {"{", false}, {"/", false}, {"a;IP = 1.2.3.4", false}};
    for (const auto& r : rows)
        EXPECT_EQ(modules::isLegalHostName(r.name), r.legal) << '"' << r.name << '"';
}

TEST(ConfigureChecks, IpAddressRefusesOnlyALastByteOf255)
{
    const struct {
        std::uint32_t address;
        bool acceptable;
    } rows[] = {{0xC0A800FFu, false}, {0xFFFFFFFFu, false}, {0xC0A80000u, true}, {0xFFFFFFFEu, true},
        {0xFF000001u, true}, {0u, true}, {0x0A000005u, true}};
    for (const auto& r : rows)
        EXPECT_EQ(modules::isAcceptableIpAddress(r.address), r.acceptable) << std::hex << r.address;
}

TEST(ConfigureFields, TextsKeepUpTo29CharactersAndZeroFillTheField)
{
    for (std::size_t length = 0; length <= 2 * modules::kConfigTextSize; ++length) {
        modules::ConfigText field;
        std::memset(field, 'X', sizeof field);
        const std::string text(length, 'a');
        modules::storeConfigText(field, text);
        const std::size_t kept = std::min(length, modules::kConfigTextMaxChars);
        EXPECT_EQ(modules::configTextView(field), text.substr(0, kept)) << "length " << length;
        for (std::size_t i = kept; i < modules::kConfigTextSize; ++i)
            EXPECT_EQ(field[i], '\0') << "length " << length << " byte " << i;
    }
    modules::ConfigText full;
    std::memset(full, 'z', sizeof full); // no terminator: the view ends with the field
    EXPECT_EQ(modules::configTextView(full), std::string(modules::kConfigTextSize, 'z'));
}

TEST(ConfigureRequest, CommandLineSendsOnlyWhatWasGivenOrReported)
{
    using testrecords::Record;
    constexpr std::uint32_t kOut = QORT_ADDR_NOT_GIVEN;
    const std::string longName(modules::kConfigTextMaxChars + 1, 'h');
    const QORT_ModuleScanResponseType full =
        Record().Mac(1).Ip(1).Mask(2).Gateway(3).Dns1(4).Dns2(5).Dhcp(1).HostName("plc");
    const struct {
        QORT_ModuleScanResponseType found;
        modules::GivenSettings given;
        std::uint32_t ip, mask, gateway, dns1, dns2;
        std::uint8_t dhcp;
        const char* hostName; // nullptr: refused
    } rows[] = {{full, {}, 1, 2, 3, 4, 5, 1, "plc"},
        {full, {.ip = 9, .dns2 = 0, .hostName = "", .dhcp = false}, 9, 2, 3, 4, 0, 0, ""},
        {Record().Mac(1), {}, kOut, kOut, kOut, kOut, kOut, 2, ""},
        {Record().Mac(1).Dhcp(0xFF), {.ip = 7}, 7, kOut, kOut, kOut, kOut, 2, ""},
        {Record().Mac(1).Dhcp(0).Valid(&QORT_ModuleScanResponseType::DhcpValid, 7), {}, kOut, kOut, kOut, kOut, kOut, 2,
            ""},
        {Record().Mac(1).HostName(longName), {.ip = 7}, 0, 0, 0, 0, 0, 0, nullptr},
        {Record().Mac(1).HostName(longName), {.hostName = "new"}, kOut, kOut, kOut, kOut, kOut, 2, "new"},
        {Record().Mac(1).HostName(longName.substr(1)), {}, kOut, kOut, kOut, kOut, kOut, 2,
            "hhhhhhhhhhhhhhhhhhhhhhhhhhhhh"}};
    for (const auto& r : rows) {
        const auto request = modules::buildCommandLineConfigureRequest(r.found, r.given);
        ASSERT_EQ(request.has_value(), r.hostName != nullptr) << &r - rows;
        if (!request)
            continue;
        EXPECT_EQ(request->MacId[5], 1);
        EXPECT_EQ((std::vector<std::uint32_t>{
                      request->IpAddr, request->SubnetMask, request->Gateway, request->Dns1, request->Dns2}),
            (std::vector<std::uint32_t>{r.ip, r.mask, r.gateway, r.dns1, r.dns2}))
            << &r - rows;
        EXPECT_EQ(request->Dhcp, r.dhcp) << &r - rows;
        EXPECT_STREQ(request->HostName, r.hostName) << &r - rows;
    }
}

} // namespace
