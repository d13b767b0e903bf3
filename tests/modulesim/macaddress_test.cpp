#include "tools/modulesim/macaddress.h"

#include <gtest/gtest.h>

namespace modulesim {
namespace {

TEST(MacAddress, ReadsWhatTheToolWrites)
{
    const auto mac = MacAddress::parse("00-30-11-0A-bc-FF");
    ASSERT_TRUE(mac.has_value());
    EXPECT_EQ(mac->bytes, (std::array<std::uint8_t, 6>{0x00, 0x30, 0x11, 0x0A, 0xBC, 0xFF}));
    EXPECT_EQ(mac->toString(), "00-30-11-0A-BC-FF");
}

TEST(MacAddress, AcceptsSingleDigitGroups)
{
    const auto mac = MacAddress::parse("2-0-0-12-34-56");
    ASSERT_TRUE(mac.has_value());
    EXPECT_EQ(mac->toString(), "02-00-00-12-34-56");
}

TEST(MacAddress, RefusesEverythingElse)
{
    for (const char* bad :
        {"", "00-30-11-00-00", "00-30-11-00-00-01-02", "00:30:11:00:00:01", "000-30-11-00-00-01", "00-30-11-00-00-0G",
            " 00-30-11-00-00-01", "00-30-11-00-00-01 ", "00--30-11-00-00-01", "-00-30-11-00-00-01"})
        EXPECT_FALSE(MacAddress::parse(bad).has_value()) << '"' << bad << '"';
}

} // namespace
} // namespace modulesim
