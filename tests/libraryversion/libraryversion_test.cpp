#include "app/libraryversion.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/versioninfo/testimage.h"

namespace {

// Sets one environment variable for a test's duration.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value)
        : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment()
    {
        if (old_.empty())
            ::unsetenv(name_);
        else
            ::setenv(name_, old_.c_str(), 1);
    }

private:
    const char* name_;
    std::string old_;
};

constexpr int kStart = 7; // a failed split leaves the numbers it did not reach

struct VersionCase {
    const char* name;
    std::string fileVersion;
    bool accepted;
    bool readResult;
    int major, minor, build; // after the read; every number starts as kStart
};

class LibraryVersionRule : public testing::TestWithParam<VersionCase> {
protected:
    testimage::ScratchDirectory scratch;
    CLibraryVersion check;
};

TEST_P(LibraryVersionRule, AcceptsOnlyMajorOneMinorOne)
{
    const VersionCase& c = GetParam();
    const auto file = scratch.write("libqort.so",
        testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion(c.fileVersion))));
    int major = kStart, minor = kStart, build = kStart;
    EXPECT_EQ(check.ReadVersionNumbers(file.c_str(), major, minor, build), c.readResult);
    EXPECT_EQ(major, c.major);
    EXPECT_EQ(minor, c.minor);
    EXPECT_EQ(build, c.build);
    EXPECT_EQ(check.IsAcceptedLibrary(file.c_str()), c.accepted);
}

const std::string kLongVersion = "1.1." + std::string(296, '9');

INSTANTIATE_TEST_SUITE_P(Table, LibraryVersionRule,
    testing::Values(
        // The delivered text: the '.' split finds one token ("1, 1, 2, 0",
        // atoi 1) and fails; the ',' split of the same text succeeds.
        VersionCase{"Delivered", "1, 1, 2, 0", true, true, 1, 1, 2},
        VersionCase{"Dotted", "1.1.0.5", true, true, 1, 1, 0}, VersionCase{"MinorTwo", "1.2.0.0", false, true, 1, 2, 0},
        VersionCase{"MajorTwo", "2.0.0.0", false, true, 2, 0, 0},
        VersionCase{"MinorTen", "1, 10, 0, 0", false, true, 1, 10, 0},
        // '.' split: 1 and 1, no third; ',' split of what is left ("1"): 1.
        VersionCase{"TwoDotted", "1.1", true, false, 1, 1, kStart},
        // '.' split: atoi("1,1") = 1; ',' split: 1 and 1, no third.
        VersionCase{"TwoCommas", "1,1", true, false, 1, 1, kStart},
        VersionCase{"Empty", "", false, false, kStart, kStart, kStart},
        VersionCase{"Letters", "a.b.c", false, true, 0, 0, 0},
        VersionCase{"RunsOfSeparators", "..1...1..9..", true, true, 1, 1, 9},
        VersionCase{"Signs", " +1. -1.3", false, true, 1, -1, 3},
        VersionCase{"Overflow", "1.99999999999999999999.3", false, true, 1, INT_MAX, 3},
        VersionCase{"Underflow", "1.-99999999999999999999.3", false, true, 1, INT_MIN, 3},
        VersionCase{"LongerThan255", kLongVersion, true, true, 1, 1, INT_MAX}),
    [](const testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

class LibraryVersionFiles : public testing::Test {
protected:
    testimage::ScratchDirectory scratch;
    CLibraryVersion check;
};

TEST_F(LibraryVersionFiles, AStringOf256OrMoreIsCutTo255)
{
    const auto file = scratch.write("libqort.so",
        testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion(kLongVersion))));
    char text[CLibraryVersion::kVersionTextSize];
    std::memset(text, 'X', sizeof text);
    ASSERT_TRUE(check.ReadFileVersionString(file.c_str(), text));
    EXPECT_EQ(std::string(text), kLongVersion.substr(0, 255));
}

TEST_F(LibraryVersionFiles, OneTranslationNamesTheBlock)
{
    // other_block: translation 0x0407/0x04B0, FileVersion "3, 4, 5, 6" in
    // 040704b0 only.
    char text[CLibraryVersion::kVersionTextSize];
    ASSERT_TRUE(check.ReadFileVersionString(testimage::fixture("other_block-pe32.exe").c_str(), text));
    EXPECT_STREQ(text, "3, 4, 5, 6");
}

struct TwoTranslationsCase {
    const char* locale;
    bool accepted;
};

class LibraryVersionTwoTranslations : public testing::TestWithParam<TwoTranslationsCase> { };

// With two translations the block is the user's default language with code
// page 04B0: English finds "1, 1, 2, 0", German "2, 0, 0, 0", French nothing.
TEST_P(LibraryVersionTwoTranslations, UseTheUsersDefaultLanguage)
{
    const ScopedEnvironment locale("LC_ALL", GetParam().locale);
    CLibraryVersion check;
    for (const char* fixture : {"two_translations-pe32.exe", "two_translations-pe64.exe"})
        EXPECT_EQ(check.IsAcceptedLibrary(testimage::fixture(fixture).c_str()), GetParam().accepted) << fixture;
}

INSTANTIATE_TEST_SUITE_P(Locales, LibraryVersionTwoTranslations,
    testing::Values(TwoTranslationsCase{"en_US.UTF-8", true}, TwoTranslationsCase{"C", true},
        TwoTranslationsCase{"de_DE.UTF-8", false}, TwoTranslationsCase{"fr_FR.UTF-8", false}));

TEST_F(LibraryVersionFiles, NoVersionResourceIsRefused)
{
    const std::string missing = (scratch.path() / "missing.so").string();
    const std::string junk = scratch.write("junk.so", {1, 2, 3}).string();
    const std::string noVersion = testimage::fixture("no_version-pe64.exe").string();
    const std::string plain = testimage::fixture("plain-pe64.exe").string();
    for (const std::string& file : {missing, junk, noVersion, plain}) {
        int major = 1, minor = 1, build = 1;
        EXPECT_FALSE(check.ReadVersionNumbers(file.c_str(), major, minor, build)) << file;
        EXPECT_EQ(major, 1) << file; // untouched on failure
        EXPECT_FALSE(check.IsAcceptedLibrary(file.c_str())) << file;
    }
}

TEST_F(LibraryVersionFiles, AFileVersionOnlyInAnotherBlockIsRefused)
{
    // Two translations, but no block for the user's language.
    const auto file = scratch.write("libqort.so", testimage::elfWithSection(testimage::encode(R"(1 VERSIONINFO BEGIN
        BLOCK "StringFileInfo" BEGIN BLOCK "040704B0" BEGIN VALUE "FileVersion", "1, 1, 2, 0" END END
        BLOCK "VarFileInfo" BEGIN VALUE "Translation", 0x407, 1200, 0x409, 1200 END END)")));
    const ScopedEnvironment locale("LC_ALL", "en_US.UTF-8");
    EXPECT_FALSE(check.IsAcceptedLibrary(file.c_str()));
}

TEST(LibraryVersionSplit, WritesNulsOverSeparatorsInPlace)
{
    CLibraryVersion check;
    char text[] = "1.1";
    int major = 0, minor = 0, build = 0;
    EXPECT_FALSE(check.SplitVersionString(text, major, minor, build, '.'));
    EXPECT_EQ(std::memcmp(text,
                  "1\0"
                  "1",
                  4),
        0);
    EXPECT_FALSE(check.SplitVersionString(text, major, minor, build, ','));
    EXPECT_EQ(major, 1);

    char separators[] = "....";
    major = minor = build = 5;
    EXPECT_FALSE(check.SplitVersionString(separators, major, minor, build, '.'));
    EXPECT_EQ(major, 5);

    EXPECT_FALSE(check.SplitVersionString(nullptr, major, minor, build, '.'));
}

TEST(LibraryVersionResolve, OnlyTheLibraryNameIsResolved)
{
    EXPECT_EQ(CLibraryVersion::ResolveFileName("/some/other.so"), "/some/other.so");
    EXPECT_EQ(CLibraryVersion::ResolveFileName(nullptr), "");
    // This program has not loaded libqort: the name stays as it is and names
    // no file, so the check refuses.
    EXPECT_EQ(CLibraryVersion::ResolveFileName(CLibraryVersion::kLibraryFileName), "qort.dll");
    EXPECT_FALSE(CLibraryVersion().IsAcceptedLibrary());
}

} // namespace
