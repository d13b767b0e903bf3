// Consistency of the dialog templates, the string table and the committed
// icon images.

#include "resources/dialogtemplate.h"
#include "resources/resourceids.h"
#include "resources/stringtable.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

constexpr std::array kTemplateIds{IDD_ABOUTBOX, IDD_SORVINDACONFIG_DIALOG, IDD_ETHERNET_CONFIG, IDD_ADVANCED_SETTINGS};

class DialogTemplateTest : public ::testing::TestWithParam<int> {
protected:
    const DialogTemplate& Template() const
    {
        const DialogTemplate* t = FindDialogTemplate(GetParam());
        EXPECT_NE(t, nullptr);
        return *t;
    }
};

TEST_P(DialogTemplateTest, IsFoundUnderItsOwnId)
{
    EXPECT_EQ(Template().id, GetParam());
}

TEST_P(DialogTemplateTest, UsesTheEightPointDialogFont)
{
    EXPECT_EQ(Template().fontFace, "MS Sans Serif");
    EXPECT_EQ(Template().fontPointSize, 8);
}

TEST_P(DialogTemplateTest, EveryControlLiesInsideTheDialog)
{
    for (const ControlTemplate& c : Template().controls) {
        SCOPED_TRACE(std::to_string(c.id) + " " + std::string(c.text));
        EXPECT_GE(c.rect.x, 0);
        EXPECT_GE(c.rect.y, 0);
        EXPECT_GT(c.rect.cx, 0);
        EXPECT_GT(c.rect.cy, 0);
        EXPECT_LE(c.rect.x + c.rect.cx, Template().cx);
        EXPECT_LE(c.rect.y + c.rect.cy, Template().cy);
    }
}

TEST_P(DialogTemplateTest, ControlIdsAreUniqueExceptStatics)
{
    std::set<int> seen;
    for (const ControlTemplate& c : Template().controls) {
        if (c.id == IDC_STATIC)
            continue;
        EXPECT_TRUE(seen.insert(c.id).second) << "duplicate ID " << c.id;
    }
    EXPECT_TRUE(seen.count(IDOK)) << "every dialog has an OK (or Exit) button";
}

TEST_P(DialogTemplateTest, ExactlyOneDefaultButtonUnlessMainWindow)
{
    int defaults = 0;
    for (const ControlTemplate& c : Template().controls)
        defaults += c.kind == ControlKind::DefPushButton;
    // The main window's Scan, Advanced Options and Wink all carry the style.
    EXPECT_EQ(defaults, GetParam() == IDD_SORVINDACONFIG_DIALOG ? 3 : 1);
}

TEST_P(DialogTemplateTest, OnlyInteractiveControlsAreTabStops)
{
    for (const ControlTemplate& c : Template().controls) {
        const bool passive =
            c.kind == ControlKind::StaticText || c.kind == ControlKind::StaticIcon || c.kind == ControlKind::GroupBox;
        if (passive) {
            EXPECT_FALSE(c.style & ControlStyle::TabStop) << c.id;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllTemplates, DialogTemplateTest, ::testing::ValuesIn(kTemplateIds));

TEST(DialogTemplateLookup, UnknownIdGivesNull)
{
    EXPECT_EQ(FindDialogTemplate(0), nullptr);
    EXPECT_EQ(FindDialogTemplate(101), nullptr);
    EXPECT_EQ(FindDialogTemplate(-1), nullptr);
}

TEST(DialogTemplateContent, EditorFieldsOfTheConfigurationDialog)
{
    const DialogTemplate* t = FindDialogTemplate(IDD_ETHERNET_CONFIG);
    ASSERT_NE(t, nullptr);
    int passwords = 0;
    int addresses = 0;
    for (const ControlTemplate& c : t->controls) {
        passwords += (c.style & ControlStyle::Password) != 0;
        addresses += c.kind == ControlKind::IpAddress;
    }
    EXPECT_EQ(passwords, 2);
    EXPECT_EQ(addresses, 5);
}

TEST(StringTable, AboutEntryAndUnknownIds)
{
    EXPECT_EQ(LoadResourceString(IDS_ABOUTBOX), "&About SorvindaConfig...");
    EXPECT_TRUE(LoadResourceString(0).empty());
    EXPECT_TRUE(LoadResourceString(IDR_MAINFRAME).empty());
}

TEST(MenuCommand, AboutCommandSurvivesFlagMask)
{
    EXPECT_EQ(IDM_ABOUTBOX & SYSCOMMAND_FLAGS_MASK, IDM_ABOUTBOX);
    EXPECT_EQ((IDM_ABOUTBOX | 0x3u) & SYSCOMMAND_FLAGS_MASK, IDM_ABOUTBOX);
}

// Width and height from a PNG file's IHDR chunk: 8-byte signature, 4-byte
// length, "IHDR", then big-endian width and height.
bool PngSize(const std::string& path, std::uint32_t& width, std::uint32_t& height)
{
    constexpr std::size_t kIhdrWidthOffset = 16;
    constexpr std::size_t kHeaderBytes = 24;
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, kHeaderBytes> b{};
    if (!in.read(reinterpret_cast<char*>(b.data()), b.size()))
        return false;
    const std::array<unsigned char, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!std::equal(signature.begin(), signature.end(), b.begin()))
        return false;
    if (std::string(b.begin() + 12, b.begin() + 16) != "IHDR")
        return false;
    const auto be32 = [&b](std::size_t at) {
        return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
    };
    width = be32(kIhdrWidthOffset);
    height = be32(kIhdrWidthOffset + 4);
    return true;
}

TEST(Icon, CommittedRenderingsHaveTheirSizes)
{
    const char* source = std::getenv("SORVINDA_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "run through ctest";
    for (std::uint32_t size : {32u, 16u}) {
        std::uint32_t w = 0;
        std::uint32_t h = 0;
        const std::string path = std::string(source) + "/resources/icons/sorvinda-" + std::to_string(size) + ".png";
        ASSERT_TRUE(PngSize(path, w, h)) << path;
        EXPECT_EQ(w, size);
        EXPECT_EQ(h, size);
    }
}

} // namespace
