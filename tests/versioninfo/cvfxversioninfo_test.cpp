#include "versioninfo/cvfxversioninfo.h"

#include <clocale>
#include <locale.h>

#include <gtest/gtest.h>

#include "platform/threadlocale.h"
#include "tests/versioninfo/testimage.h"

namespace {

class CVFXVersionInfoTest : public testing::Test {
protected:
    CVFXVersionData data;
    testimage::ScratchDirectory scratch;

    bool read(const char* name, std::uint16_t language = CVFXVersionInfo::kLanguageEnglishUs)
    {
        CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, language);
        return reader.Read(data, name);
    }
};

TEST_F(CVFXVersionInfoTest, NullAndBlankNamesReadTheProgramsOwnFile)
{
    // This test program carries the windowed program's version declaration.
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    for (const char* name : {static_cast<const char*>(nullptr), "", "   ", " \t\r\n "}) {
        ASSERT_TRUE(read(name)) << (name ? name : "null");
        EXPECT_EQ(data.m_strFileName, self);
        EXPECT_EQ(data.m_wFileVersion, (std::array<std::uint16_t, 4>{1, 3, 1, 0}));
        EXPECT_EQ(data.m_strProductVersion, "1, 3, 1, 0");
    }
}

TEST_F(CVFXVersionInfoTest, NamesAreTrimmedAndKeptAsGiven)
{
    const std::string path = testimage::fixture("long_string-pe64.exe").string();
    ASSERT_TRUE(read(("  " + path + "\t").c_str()));
    EXPECT_EQ(data.m_strFileName, path);
}

TEST_F(CVFXVersionInfoTest, ReadsNumbersAndAllTwelveStrings)
{
    for (const char* fixture : {"long_string-pe32.exe", "long_string-pe64.exe"}) {
        ASSERT_TRUE(read(testimage::fixture(fixture).c_str())) << fixture;
        EXPECT_EQ(data.m_wFileVersion, (std::array<std::uint16_t, 4>{1, 1, 0, 5}));
        EXPECT_EQ(data.m_wProductVersion, (std::array<std::uint16_t, 4>{7, 8, 9, 10}));
        EXPECT_EQ(data.m_strFileVersion, "1.1.0.5");
        EXPECT_EQ(data.m_strProductVersion, "7.8.9.10");
        EXPECT_EQ(data.m_strCompanyName, "Company");
        EXPECT_EQ(data.m_strFileDescription, "Description");
        EXPECT_EQ(data.m_strInternalName, "Internal");
        EXPECT_EQ(data.m_strLegalCopyright, "Copyright");
        EXPECT_EQ(data.m_strOriginalFilename, "long_string.exe");
        EXPECT_EQ(data.m_strProductName, "Product");
        EXPECT_EQ(data.m_strLegalTrademarks, "Trademarks");
        EXPECT_EQ(data.m_strPrivateBuild, "Private");
        EXPECT_EQ(data.m_strSpecialBuild, "Special");
    }
}

TEST_F(CVFXVersionInfoTest, AThreeHundredCharacterValueKeepsItsFirst255)
{
    ASSERT_TRUE(read(testimage::fixture("long_string-pe32.exe").c_str()));
    std::string expected;
    for (int i = 0; i < 255; ++i)
        expected.push_back(static_cast<char>('0' + i % 10));
    EXPECT_EQ(data.m_strComments, expected);
}

TEST_F(CVFXVersionInfoTest, StringsInAnotherBlockGiveNumbersAndEmptyTexts)
{
    for (const char* fixture : {"other_block-pe32.exe", "other_block-pe64.exe"}) {
        ASSERT_TRUE(read(testimage::fixture(fixture).c_str())) << fixture;
        EXPECT_EQ(data.m_wFileVersion, (std::array<std::uint16_t, 4>{3, 4, 5, 6}));
        EXPECT_TRUE(data.m_strFileVersion.empty());
        EXPECT_TRUE(data.m_strCompanyName.empty());
        EXPECT_TRUE(data.m_strProductVersion.empty());
        EXPECT_FALSE(data.IsEmpty());
    }
    // A reader made for that block finds them.
    ASSERT_TRUE(read(testimage::fixture("other_block-pe64.exe").c_str(), 0x0407));
    EXPECT_EQ(data.m_strCompanyName, "Firma");
}

TEST_F(CVFXVersionInfoTest, FailedReadsLeaveAnEmptyRecord)
{
    const auto noFixedInfo = [] {
        auto block = testimage::encode(testimage::declarationWithFileVersion("1"));
        block[40] = 0; // signature gone
        return block;
    }();
    const std::string missing = (scratch.path() / "missing").string();
    const std::string withoutBlock = testimage::fixture("no_version-pe32.exe").string();
    const std::string broken = scratch.write("broken.so", testimage::elfWithSection(noFixedInfo)).string();
    for (const std::string& name : {missing, withoutBlock, broken}) {
        ASSERT_TRUE(read(testimage::fixture("long_string-pe64.exe").c_str()));
        EXPECT_FALSE(read(name.c_str())) << name;
        EXPECT_TRUE(data.IsEmpty()) << name;
        EXPECT_EQ(data.ToString(), "No version information is available") << name;
    }
}

TEST_F(CVFXVersionInfoTest, QueryStringZeroFillsAndCutsAtWholeCharacters)
{
    const auto file = scratch.write("u.so", testimage::elfWithSection(testimage::encode(R"(1 VERSIONINFO BEGIN
        BLOCK "StringFileInfo" BEGIN BLOCK "040904b0" BEGIN
            VALUE "Key", "aäb"
        END END END)")));
    CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    const std::uint32_t size = reader.GetInfoSize(file.c_str());
    std::vector<char> block(size);
    ASSERT_TRUE(reader.GetInfo(file.c_str(), size, block.data()));

    struct Case {
        std::size_t outSize;
        std::string expected;
    };
    for (const Case& c : {Case{16,
                              "a\xC3\xA4"
                              "b"},
             Case{5,
                 "a\xC3\xA4"
                 "b"},
             Case{4, "a\xC3\xA4"}, Case{3, "a"}, Case{2, "a"}, Case{1, ""}}) {
        std::vector<char> out(c.outSize, 'X');
        EXPECT_TRUE(reader.QueryString(block.data(), "Key", out.data(), out.size())) << c.outSize;
        EXPECT_EQ(std::string(out.data()), c.expected) << c.outSize;
        for (std::size_t i = c.expected.size(); i < out.size(); ++i)
            EXPECT_EQ(out[i], '\0') << c.outSize << " at " << i;
    }
    char out[8] = "XXXXXXX";
    EXPECT_FALSE(reader.QueryString(block.data(), "Missing", out, sizeof out));
    EXPECT_EQ(std::string(out, sizeof out), std::string(8, '\0'));
    EXPECT_FALSE(reader.QueryString(block.data(), "Key", out, 0));
    const std::string longKey(300, 'K');
    EXPECT_FALSE(reader.QueryString(block.data(), longKey.c_str(), out, sizeof out));
}

TEST(CVFXVersionInfoLocale, ALanguageThatIsNotInstalledLeavesTheThreadLocale)
{
    const platform::Lcid before = platform::threadLocale();
    const locale_t posixBefore = ::uselocale(static_cast<locale_t>(nullptr));
    {
        CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, 0x0436); // not in the language table
        EXPECT_EQ(reader.m_lcidUsed, before);
        EXPECT_EQ(reader.m_lcidSaved, before);
        EXPECT_EQ(platform::threadLocale(), before);
        EXPECT_EQ(::uselocale(static_cast<locale_t>(nullptr)), posixBefore);
    }
    EXPECT_EQ(platform::threadLocale(), before);
    EXPECT_EQ(::uselocale(static_cast<locale_t>(nullptr)), posixBefore);
}

TEST(CVFXVersionInfoLocale, AnInstalledLanguageRulesTheThreadForTheReadersLifetime)
{
    const platform::Lcid before = platform::threadLocale();
    const locale_t posixBefore = ::uselocale(static_cast<locale_t>(nullptr));
    ASSERT_TRUE(platform::isLocaleInstalled(platform::makeLcid(platform::kLangInvariant))); // C.UTF-8
    {
        CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, platform::kLangInvariant);
        EXPECT_EQ(reader.m_lcidUsed, platform::makeLcid(platform::kLangInvariant));
        EXPECT_EQ(reader.m_lcidSaved, before);
        EXPECT_EQ(platform::threadLocale(), reader.m_lcidUsed);
        EXPECT_NE(::uselocale(static_cast<locale_t>(nullptr)), posixBefore);
    }
    EXPECT_EQ(platform::threadLocale(), before);
    EXPECT_EQ(::uselocale(static_cast<locale_t>(nullptr)), posixBefore);
}

} // namespace
