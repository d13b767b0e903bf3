#include "platform/versionblock.h"

#include <gtest/gtest.h>

#include "tests/versioninfo/testimage.h"

namespace {

using platform::VersionBlock;

const char kDeclaration[] = R"(1 VERSIONINFO
 FILEVERSION 1,1,2,0
 PRODUCTVERSION 1,1,2,0
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904B0"
        BEGIN
            VALUE "FileVersion", "1, 1, 2, 0"
            VALUE "Empty", ""
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x409, 1200
    END
END)";

class VersionBlockTest : public testing::Test {
protected:
    std::vector<std::uint8_t> block = testimage::encode(kDeclaration);

    std::u16string textAt(const VersionBlock::Value& value) const
    {
        std::u16string text;
        for (std::size_t i = 0; i + 1 < value.size; i += 2)
            text.push_back(static_cast<char16_t>(block[value.offset + i] | (block[value.offset + i + 1] << 8)));
        return text;
    }
};

TEST_F(VersionBlockTest, FindsTheFixedInformationUnderTheRootPath)
{
    const VersionBlock view(block);
    for (const char* path : {"\\", "", "\\\\"}) {
        const auto fixed = view.find(path);
        ASSERT_TRUE(fixed.has_value()) << path;
        EXPECT_EQ(fixed->offset, 40u);
        EXPECT_EQ(fixed->size, VersionBlock::kFixedInfoSize);
        EXPECT_FALSE(fixed->isText);
    }
}

TEST_F(VersionBlockTest, FindsValuesByPathWithKeysInAnyCase)
{
    const VersionBlock view(block);
    const auto version = view.find("\\StringFileInfo\\040904b0\\fileversion");
    ASSERT_TRUE(version.has_value());
    EXPECT_TRUE(version->isText);
    EXPECT_EQ(textAt(*version), std::u16string(u"1, 1, 2, 0\0", 11));

    const auto translation = view.find("\\VarFileInfo\\Translation");
    ASSERT_TRUE(translation.has_value());
    EXPECT_FALSE(translation->isText);
    ASSERT_EQ(translation->size, 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(block.begin() + static_cast<long>(translation->offset),
                  block.begin() + static_cast<long>(translation->offset) + 4),
        (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04}));

    const auto empty = view.find("\\StringFileInfo\\040904B0\\Empty");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->size, 2u); // just its NUL
}

TEST_F(VersionBlockTest, MissingKeysAndPrefixesAreNotFound)
{
    const VersionBlock view(block);
    for (const char* path : {"\\StringFileInfo\\040704B0\\FileVersion", "\\StringFileInfo\\040904B0\\FileVersio",
             "\\StringFileInfo\\040904B0\\FileVersionX", "\\VarFileInfo\\Translation\\More", "\\Nothing"})
        EXPECT_FALSE(view.find(path).has_value()) << path;
}

TEST_F(VersionBlockTest, RootLengthIsTheEncodedSize)
{
    EXPECT_EQ(VersionBlock::rootLength(block), block.size());
}

TEST_F(VersionBlockTest, EveryTruncationIsRejectedAtTheRoot)
{
    for (std::size_t length = 0; length < block.size(); ++length) {
        const std::span<const std::uint8_t> cut(block.data(), length);
        EXPECT_FALSE(VersionBlock::rootLength(cut).has_value()) << length;
        const VersionBlock view(cut);
        EXPECT_FALSE(view.find("\\StringFileInfo\\040904B0\\FileVersion").has_value()) << length;
    }
}

TEST_F(VersionBlockTest, HostileLengthFieldsNeverReadOutsideTheBlock)
{
    // Every 16-bit field of the block set to values that lie: zero, below a
    // header, odd, past the parent, the maximum. Under ASan any read outside
    // the span fails the test; the look-ups must simply succeed or not.
    const std::uint16_t lies[] = {0, 1, 5, 6, 7, 0x7FFF, 0xFFFF};
    for (std::size_t at = 0; at + 1 < block.size(); at += 2) {
        for (std::uint16_t lie : lies) {
            std::vector<std::uint8_t> bad = block;
            bad[at] = static_cast<std::uint8_t>(lie);
            bad[at + 1] = static_cast<std::uint8_t>(lie >> 8);
            const VersionBlock view(bad);
            for (const char* path : {"\\", "\\StringFileInfo\\040904B0\\FileVersion", "\\VarFileInfo\\Translation",
                     "\\StringFileInfo\\040904B0\\Empty"}) {
                const auto found = view.find(path);
                if (found) {
                    EXPECT_LE(found->offset, bad.size());
                    EXPECT_LE(found->size, bad.size() - found->offset);
                }
            }
        }
    }
}

TEST_F(VersionBlockTest, RootWithoutSignatureOrShortFixedInfoHasNoFixedInformation)
{
    std::vector<std::uint8_t> noSignature = block;
    noSignature[40] ^= 0xFF;
    EXPECT_FALSE(VersionBlock(noSignature).find("\\").has_value());

    std::vector<std::uint8_t> shortValue = block;
    shortValue[2] = 51; // wValueLength below the 52 bytes of VS_FIXEDFILEINFO
    EXPECT_FALSE(VersionBlock(shortValue).find("\\").has_value());
    // Children stay reachable after a short fixed value only if the layout
    // still holds; the look-up must not crash either way.
    (void)VersionBlock(shortValue).find("\\VarFileInfo\\Translation");
}

TEST_F(VersionBlockTest, KeyWithoutNulInsideItsNodeIsRejected)
{
    // A root whose wLength ends inside its key.
    std::vector<std::uint8_t> bad(block.begin(), block.begin() + 20);
    bad[0] = 20;
    bad[1] = 0;
    EXPECT_FALSE(VersionBlock::rootLength(bad).has_value());
}

} // namespace
