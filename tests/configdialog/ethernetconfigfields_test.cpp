#include "configdialog/ethernetconfigfields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(EthernetConfigFields, StartsWithNothingChosenAndEmptyTexts)
{
    const EthernetConfigFields fields;
    EXPECT_EQ(fields.DhcpChoice, kDhcpChoiceNone);
    EXPECT_EQ(fields.ChangePassword, 0);
    EXPECT_EQ(fields.PasswordProtected, 0);
    EXPECT_EQ(ConfigTextView(fields.HostName), "");
    EXPECT_EQ(ConfigTextView(fields.Password), "");
    EXPECT_EQ(ConfigTextView(fields.NewPassword), "");
    EXPECT_EQ(fields.IpAddrValid, 0);
    EXPECT_TRUE(fields.Title.empty());
}

TEST(StoreConfigText, KeepsEveryLengthUpTo29AndCutsLonger)
{
    for (std::size_t length = 0; length <= 2 * kConfigTextSize; ++length) {
        ConfigText field;
        std::memset(field, 'X', sizeof field);
        const std::string text(length, 'a');
        StoreConfigText(field, text);
        const std::size_t kept = std::min(length, kConfigTextMaxChars);
        EXPECT_EQ(ConfigTextView(field), text.substr(0, kept)) << "length " << length;
        for (std::size_t i = kept; i < kConfigTextSize; ++i) {
            EXPECT_EQ(field[i], '\0') << "length " << length << " byte " << i;
        }
    }
}

TEST(StoreConfigText, OverwritesLongerEarlierText)
{
    ConfigText field;
    StoreConfigText(field, "abcdefghij");
    StoreConfigText(field, "xy");
    EXPECT_EQ(ConfigTextView(field), "xy");
    EXPECT_EQ(field[2], '\0');
    EXPECT_EQ(field[5], '\0');
}

TEST(ConfigTextView, StopsAtFieldEndWhenUnterminated)
{
    ConfigText field;
    std::memset(field, 'z', sizeof field);
    EXPECT_EQ(ConfigTextView(field), std::string(kConfigTextSize, 'z'));
}

} // namespace
