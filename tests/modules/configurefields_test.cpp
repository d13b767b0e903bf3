// The checks of "Set" and the dialog's text fields: plain code.

#include "modules/ethernetconfigcheck.h"
#include "modules/ethernetconfigfields.h"

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
        EXPECT_EQ(IsLegalHostName(r.name), r.legal) << '"' << r.name << '"';
}

TEST(ConfigureChecks, IpAddressRefusesOnlyALastByteOf255)
{
    const struct {
        std::uint32_t address;
        bool acceptable;
    } rows[] = {{0xC0A800FFu, false}, {0xFFFFFFFFu, false}, {0xC0A80000u, true}, {0xFFFFFFFEu, true},
        {0xFF000001u, true}, {0u, true}, {0x0A000005u, true}};
    for (const auto& r : rows)
        EXPECT_EQ(IsAcceptableIpAddress(r.address), r.acceptable) << std::hex << r.address;
}

TEST(ConfigureFields, TextsKeepUpTo29CharactersAndZeroFillTheField)
{
    for (std::size_t length = 0; length <= 2 * kConfigTextSize; ++length) {
        ConfigText field;
        std::memset(field, 'X', sizeof field);
        const std::string text(length, 'a');
        StoreConfigText(field, text);
        const std::size_t kept = std::min(length, kConfigTextMaxChars);
        EXPECT_EQ(ConfigTextView(field), text.substr(0, kept)) << "length " << length;
        for (std::size_t i = kept; i < kConfigTextSize; ++i)
            EXPECT_EQ(field[i], '\0') << "length " << length << " byte " << i;
    }
    ConfigText full;
    std::memset(full, 'z', sizeof full); // no terminator: the view ends with the field
    EXPECT_EQ(ConfigTextView(full), std::string(kConfigTextSize, 'z'));
}

} // namespace
