#include "platform/versionfile.h"

#include <cstring>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/versioninfo/testimage.h"

namespace {

class VersionFileTest : public testing::Test {
protected:
    testimage::ScratchDirectory scratch;

    std::vector<std::uint8_t> loaded(const std::filesystem::path& file)
    {
        const std::uint32_t size = platform::fileVersionInfoSize(file.c_str());
        std::vector<std::uint8_t> buffer(size);
        if (size == 0 || !platform::readFileVersionInfo(file.c_str(), size, buffer.data()))
            return {};
        return buffer;
    }

    std::string text(std::vector<std::uint8_t>& buffer, const char* path, std::uint32_t* lengthOut = nullptr)
    {
        void* value = nullptr;
        std::uint32_t length = 0;
        if (!platform::queryVersionValue(buffer.data(), path, &value, &length))
            return "<none>";
        if (lengthOut != nullptr)
            *lengthOut = length;
        EXPECT_EQ(std::strlen(static_cast<const char*>(value)) + 1, length) << path;
        return static_cast<const char*>(value);
    }
};

TEST_F(VersionFileTest, TextValuesComeBackAsUtf8WithTheirNulCounted)
{
    const auto file = scratch.write("utf.so", testimage::elfWithSection(testimage::encode(R"(1 VERSIONINFO BEGIN
        BLOCK "StringFileInfo" BEGIN BLOCK "040904B0" BEGIN
            VALUE "Ascii", "1, 1, 2, 0"
            VALUE "Latin", "Größe"
            VALUE "Euro", "€"
            VALUE "Astral", "😀"
            VALUE "Empty", ""
        END END END)")));
    auto buffer = loaded(file);
    ASSERT_FALSE(buffer.empty());
    std::uint32_t length = 0;
    EXPECT_EQ(text(buffer, "\\StringFileInfo\\040904B0\\Ascii", &length), "1, 1, 2, 0");
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(text(buffer, "\\StringFileInfo\\040904B0\\Latin"), "Größe");
    EXPECT_EQ(text(buffer, "\\StringFileInfo\\040904B0\\Euro"), "€");
    EXPECT_EQ(text(buffer, "\\StringFileInfo\\040904B0\\Astral"), "😀");
    EXPECT_EQ(text(buffer, "\\StringFileInfo\\040904B0\\Empty", &length), "");
    EXPECT_EQ(length, 1u);
    // Earlier results stay valid after later queries.
    void* first = nullptr;
    std::uint32_t firstLength = 0;
    ASSERT_TRUE(platform::queryVersionValue(buffer.data(), "\\StringFileInfo\\040904B0\\Latin", &first, &firstLength));
    text(buffer, "\\StringFileInfo\\040904B0\\Euro");
    EXPECT_STREQ(static_cast<const char*>(first), "Größe");
}

TEST_F(VersionFileTest, UnpairedSurrogatesAndUnterminatedTextsAreMadeSafe)
{
    auto block = testimage::encode("1 VERSIONINFO BEGIN VALUE \"K\", \"abcd\" END");
    // Value units at 104..112: make 'b' a lone high surrogate, 'd' a lone
    // low one, and drop the NUL by claiming 4 units only.
    block[106] = 0x00;
    block[107] = 0xD8;
    block[110] = 0x00;
    block[111] = 0xDC;
    block[94] = 4;
    const auto file = scratch.write("bad.so", testimage::elfWithSection(block));
    auto buffer = loaded(file);
    ASSERT_FALSE(buffer.empty());
    EXPECT_EQ(text(buffer, "\\K"),
        "a\xEF\xBF\xBD"
        "c\xEF\xBF\xBD");
}

TEST_F(VersionFileTest, BinaryValuesComeBackInPlace)
{
    const auto file =
        scratch.write("t.so", testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion("1"))));
    auto buffer = loaded(file);
    void* value = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(platform::queryVersionValue(buffer.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(std::memcmp(value, "\x09\x04\xB0\x04", 4), 0);
    ASSERT_TRUE(platform::queryVersionValue(buffer.data(), "\\", &value, &length));
    EXPECT_EQ(length, 52u);
    EXPECT_EQ(static_cast<std::uint8_t*>(value) - buffer.data(), 40);
}

TEST_F(VersionFileTest, ASmallerBufferIsRefusedAndLeftAlone)
{
    const auto file =
        scratch.write("t.so", testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion("1"))));
    const std::uint32_t size = platform::fileVersionInfoSize(file.c_str());
    ASSERT_GT(size, 0u);
    std::vector<std::uint8_t> buffer(size, 0xAA);
    EXPECT_FALSE(platform::readFileVersionInfo(file.c_str(), size - 1, buffer.data()));
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(size, 0xAA));
}

TEST_F(VersionFileTest, FilesWithoutABlockHaveSizeZero)
{
    ::mkfifo((scratch.path() / "fifo").c_str(), 0600);
    for (const std::filesystem::path& file : {scratch.path() / "missing", scratch.path(), scratch.path() / "fifo",
             scratch.write("empty", {}), scratch.write("text", {'h', 'e', 'l', 'l', 'o'}),
             testimage::fixture("no_version-pe64.exe"), testimage::fixture("plain-pe64.exe")})
        EXPECT_EQ(platform::fileVersionInfoSize(file.c_str()), 0u) << file;
    EXPECT_EQ(platform::fileVersionInfoSize(nullptr), 0u);
    EXPECT_EQ(platform::fileVersionInfoSize(""), 0u);
}

TEST_F(VersionFileTest, NullArgumentsAreRefused)
{
    auto buffer = loaded(testimage::fixture("two_translations-pe64.exe"));
    ASSERT_FALSE(buffer.empty());
    void* value = nullptr;
    std::uint32_t length = 0;
    EXPECT_FALSE(platform::queryVersionValue(nullptr, "\\", &value, &length));
    EXPECT_FALSE(platform::queryVersionValue(buffer.data(), nullptr, &value, &length));
    EXPECT_FALSE(platform::queryVersionValue(buffer.data(), "\\", nullptr, &length));
    EXPECT_FALSE(platform::queryVersionValue(buffer.data(), "\\", &value, nullptr));
    EXPECT_FALSE(
        platform::readFileVersionInfo(testimage::fixture("two_translations-pe64.exe").c_str(), 100000, nullptr));
}

} // namespace
