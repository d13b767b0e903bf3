#include "configdialog/ethernetconfigcheck.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct HostNameCase {
    const char* name;
    std::string hostName;
    bool legal;
};

class HostNameCheck : public testing::TestWithParam<HostNameCase> { };

TEST_P(HostNameCheck, AcceptsOnlyAsciiLettersAndDigits)
{
    EXPECT_EQ(IsLegalHostName(GetParam().hostName), GetParam().legal) << '"' << GetParam().hostName << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, HostNameCheck,
    testing::Values(HostNameCase{"Empty", "", true}, HostNameCase{"UpperAndDigit", "PLC1", true},
        HostNameCase{"AllLetterRanges", "azAZ09", true}, HostNameCase{"FortyLetters", std::string(40, 'x'), true},
        HostNameCase{"Hyphen", "plc-1", false}, HostNameCase{"Space", "plc 1", false},
        HostNameCase{"Dot", "plc.local", false}, HostNameCase{"Underscore", "plc_1", false},
        HostNameCase{"LeadingBadChar", "-plc", false}, HostNameCase{"TrailingBadChar", "plc1!", false},
        HostNameCase{"EmbeddedNul", std::string("plc\0x", 5), false}, HostNameCase{"Latin1Letter", "pl\xE4tz", false},
        HostNameCase{"Utf8Letter", "pl\xC3\xA4tz", false}, HostNameCase{"ByteJustPastDigits", ":", false},
        HostNameCase{"ByteJustBeforeLetters", "@", false}, HostNameCase{"ByteJustPastUpper", "[", false},
        HostNameCase{"ByteJustBeforeLower", "`", false}, HostNameCase{"ByteJustPastLower", "{", false},
        HostNameCase{"Separator", "a;IP = 1.2.3.4", false}),
    [](const testing::TestParamInfo<HostNameCase>& info) { return std::string(info.param.name); });

struct IpCase {
    const char* name;
    std::uint32_t address;
    bool acceptable;
};

class IpAddressCheck : public testing::TestWithParam<IpCase> { };

TEST_P(IpAddressCheck, RefusesOnlyLastByte255)
{
    EXPECT_EQ(IsAcceptableIpAddress(GetParam().address), GetParam().acceptable) << std::hex << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(Table, IpAddressCheck,
    testing::Values(IpCase{"LastByte255", 0xC0A800FFu, false},                            // 192.168.0.255
        IpCase{"AllOnes", 0xFFFFFFFFu, false}, IpCase{"LastByteZero", 0xC0A80000u, true}, // 192.168.0.0
        IpCase{"AllButLast255", 0xFFFFFFFEu, true},                                       // 255.255.255.254
        IpCase{"FirstByte255", 0xFF000001u, true},                                        // 255.0.0.1
        IpCase{"BlankControl", 0u, true}, IpCase{"Ordinary", 0x0A000005u, true}),
    [](const testing::TestParamInfo<IpCase>& info) { return std::string(info.param.name); });

} // namespace
