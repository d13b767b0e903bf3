#include "platform/executableimage.h"

#include <gtest/gtest.h>

#include "platform/bytesource.h"
#include "tests/versioninfo/testimage.h"

namespace {

using platform::ExecutableImage;
using platform::MemoryByteSource;

std::optional<std::vector<std::uint8_t>> blockOf(const std::vector<std::uint8_t>& image)
{
    return ExecutableImage::readVersionBlock(MemoryByteSource(image));
}

std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

class ElfImageTest : public testing::TestWithParam<testimage::ElfKind> {
protected:
    std::vector<std::uint8_t> block = testimage::encode(testimage::declarationWithFileVersion("1, 1, 2, 0"));
};

TEST_P(ElfImageTest, FindsTheBlockInItsSection)
{
    const auto found = blockOf(testimage::elfWithSection(block, GetParam()));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, block);
}

TEST_P(ElfImageTest, SectionPaddingAfterTheBlockIsNotPartOfIt)
{
    std::vector<std::uint8_t> padded = block;
    padded.resize(block.size() + 13, 0xEE);
    const auto found = blockOf(testimage::elfWithSection(padded, GetParam()));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, block);
}

TEST_P(ElfImageTest, OtherSectionNamesAreNotVersionResources)
{
    for (const char* name : {".vs_version_inf", ".vs_version_info2", ".VS_VERSION_INFO", ""})
        EXPECT_FALSE(blockOf(testimage::elfWithSection(block, GetParam(), name)).has_value()) << name;
}

TEST_P(ElfImageTest, EveryTruncationGivesNothingOrTheWholeBlock)
{
    const auto image = testimage::elfWithSection(block, GetParam());
    for (std::size_t length = 0; length < image.size(); ++length) {
        const std::vector<std::uint8_t> cut(image.begin(), image.begin() + static_cast<long>(length));
        const auto found = blockOf(cut);
        // The section table is at the end: only the unread tail of the last
        // header may be missing.
        if (found) {
            EXPECT_EQ(*found, block) << length;
            EXPECT_GT(length, image.size() - 64 + 40) << length;
        }
    }
}

TEST_P(ElfImageTest, EveryCorruptedHeaderByteIsSurvived)
{
    const auto image = testimage::elfWithSection(block, GetParam());
    const std::size_t headerBytes = GetParam() == testimage::ElfKind::Elf32Little ? 52 : 64;
    const std::size_t tableStart = image.size() - 3 * (GetParam() == testimage::ElfKind::Elf32Little ? 40 : 64);
    for (std::size_t at = 0; at < image.size(); ++at) {
        if (at >= headerBytes && at < tableStart)
            continue; // section contents are the block tests' business
        for (std::uint8_t lie : {std::uint8_t{0x00}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
            std::vector<std::uint8_t> bad = image;
            bad[at] = lie;
            const auto found = blockOf(bad);
            if (found) {
                EXPECT_EQ(*found, block) << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ElfImageTest,
    testing::Values(testimage::ElfKind::Elf32Little, testimage::ElfKind::Elf64Little, testimage::ElfKind::Elf64Big));

TEST(ElfImage, AbsurdSectionTableValuesAreRejected)
{
    const auto block = testimage::encode(testimage::declarationWithFileVersion("1"));
    const auto image = testimage::elfWithSection(block);
    struct Lie {
        std::size_t at;
        int width;
        std::uint64_t value;
    };
    const std::size_t table = u32At(image, 0x28);
    for (const Lie& lie : {Lie{0x28, 8, 0xFFFFFFFFFFFFFF00ull}, // e_shoff far outside
             Lie{0x3C, 2, 0},                                   // e_shnum 0: count in section 0 (0)
             Lie{0x3E, 2, 0xFFFF},                              // e_shstrndx extended, link 0
             Lie{0x3E, 2, 7},                                   // string table index past the table
             Lie{0x3A, 2, 8},                                   // entries smaller than a header
             Lie{table + 64 + 24, 8, image.size()},             // section offset at the end
             Lie{table + 64 + 32, 8, 0xFFFFFFFFFFFFFFFFull},    // section size absurd
             Lie{table + 64 + 0, 4, 0xFFFFFFF0u},               // name offset outside the names
             Lie{table + 128 + 32, 8, 3}}) {                    // names cut short
        std::vector<std::uint8_t> bad = image;
        for (int i = 0; i < lie.width; ++i)
            bad[lie.at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(lie.value >> (8 * i));
        EXPECT_FALSE(blockOf(bad).has_value()) << lie.at;
    }
}

TEST(ElfImage, NotAnExecutable)
{
    for (const std::vector<std::uint8_t>& bytes :
        {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{0x7F, 'E', 'L'}, std::vector<std::uint8_t>{'M'},
            std::vector<std::uint8_t>{0x7F, 'E', 'L', 'F', 3, 1}, std::vector<std::uint8_t>(4096, 0)})
        EXPECT_FALSE(blockOf(bytes).has_value()) << bytes.size();
}

// ---- PE fixtures from the mingw-w64 toolchain -------------------------------

struct PeFixture {
    const char* file;
    bool hasVersion;
};

class PeImageTest : public testing::TestWithParam<PeFixture> {
protected:
    std::vector<std::uint8_t> image = testimage::readFile(testimage::fixture(GetParam().file));
};

TEST_P(PeImageTest, FindsTheVersionResourceOnlyWhereThereIsOne)
{
    const auto found = blockOf(image);
    EXPECT_EQ(found.has_value(), GetParam().hasVersion);
    if (found) {
        EXPECT_EQ(found->at(0) | (found->at(1) << 8), found->size());
    }
}

TEST_P(PeImageTest, EveryTruncationGivesNothingOrTheWholeBlock)
{
    const auto whole = blockOf(image);
    for (std::size_t length = 0; length < image.size(); ++length) {
        const std::vector<std::uint8_t> cut(image.begin(), image.begin() + static_cast<long>(length));
        const auto found = blockOf(cut);
        if (found) {
            ASSERT_TRUE(whole.has_value());
            EXPECT_EQ(*found, *whole) << length;
        }
    }
}

TEST_P(PeImageTest, EveryCorruptedByteIsSurvived)
{
    // Headers, section table and resource directory: every byte, three lies.
    const auto whole = blockOf(image);
    for (std::size_t at = 0; at < image.size(); ++at) {
        for (std::uint8_t lie : {std::uint8_t{0x00}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
            std::vector<std::uint8_t> bad = image;
            if (bad[at] == lie)
                continue;
            bad[at] = lie;
            const auto found = blockOf(bad);
            if (found) {
                EXPECT_EQ(found->at(0) | (found->at(1) << 8), found->size()) << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeImageTest,
    testing::Values(PeFixture{"two_translations-pe32.exe", true}, PeFixture{"two_translations-pe64.exe", true},
        PeFixture{"long_string-pe32.exe", true}, PeFixture{"long_string-pe64.exe", true},
        PeFixture{"other_block-pe32.exe", true}, PeFixture{"other_block-pe64.exe", true},
        PeFixture{"no_version-pe32.exe", false}, PeFixture{"no_version-pe64.exe", false},
        PeFixture{"plain-pe64.exe", false}),
    [](const testing::TestParamInfo<PeFixture>& info) {
        std::string name = info.param.file;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

// Finds the file offset of the resource directory of a fixture, the same way
// the reader does, so that tests can plant lies in it.
std::size_t resourceDirectoryOffset(const std::vector<std::uint8_t>& image)
{
    const std::size_t pe = u32At(image, 0x3C);
    const std::size_t optional = pe + 24;
    const bool plus = (image[optional] | (image[optional + 1] << 8)) == 0x20B;
    const std::uint32_t rva = u32At(image, optional + (plus ? 112 : 96) + 16);
    const std::size_t sections = optional + (image[pe + 20] | (image[pe + 21] << 8));
    const std::size_t count = image[pe + 6] | (image[pe + 7] << 8);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t header = sections + i * 40;
        const std::uint32_t address = u32At(image, header + 12);
        if (rva >= address && rva - address < u32At(image, header + 16))
            return u32At(image, header + 20) + (rva - address);
    }
    ADD_FAILURE() << "no resource section";
    return 0;
}

class PeResourceTree : public testing::TestWithParam<const char*> {
protected:
    std::vector<std::uint8_t> image = testimage::readFile(testimage::fixture(GetParam()));
    std::size_t root = resourceDirectoryOffset(image);

    // The OffsetToData of the first entry of the directory at offset.
    std::size_t firstTarget(std::size_t directory) const { return root + directory + 16 + 4; }
};

TEST_P(PeResourceTree, LoopsBackToTheRootEndWithoutAVersion)
{
    ASSERT_TRUE(blockOf(image).has_value());
    // Level 1 -> level 2 -> level 3: point each level's entry back at the root
    // directory, or at itself.
    const std::size_t level2 = u32At(image, firstTarget(0)) & 0x7FFFFFFFu;
    const std::size_t level3 = u32At(image, firstTarget(level2)) & 0x7FFFFFFFu;
    for (const auto& [entry, target] :
        std::vector<std::pair<std::size_t, std::uint32_t>>{{firstTarget(0), 0x80000000u}, // type -> root
            {firstTarget(level2), 0x80000000u},                                           // name -> root
            {firstTarget(level2), 0x80000000u | static_cast<std::uint32_t>(level2)},      // name -> itself
            {firstTarget(level3), 0x80000000u}, // language -> a directory, not data
            {firstTarget(level3), 0x7FFFFFF0u}, // language data entry outside the directory
            {firstTarget(0), 0xFFFFFFFFu}}) {   // sub-directory far outside
        std::vector<std::uint8_t> bad = image;
        putU32(bad, entry, target);
        EXPECT_FALSE(blockOf(bad).has_value()) << entry << " -> " << target;
    }
}

TEST_P(PeResourceTree, DataEntryLiesAreRejected)
{
    const std::size_t level2 = u32At(image, firstTarget(0)) & 0x7FFFFFFFu;
    const std::size_t level3 = u32At(image, firstTarget(level2)) & 0x7FFFFFFFu;
    const std::size_t dataEntry = root + u32At(image, firstTarget(level3));
    for (const auto& [at, value] :
        std::vector<std::pair<std::size_t, std::uint32_t>>{{dataEntry, 0xFFFFFF00u}, // data RVA in no section
            {dataEntry + 4, 0xFFFFFFFFu},                                            // absurd size
            {dataEntry + 4, 5},                                                      // size below a node header
            {root + 14, 0xFFFF}}) { // 65535 id entries in the root, most outside
        std::vector<std::uint8_t> bad = image;
        putU32(bad, at, value);
        if (at == root + 14) { // a 16-bit count: restore the following field
            bad[at + 2] = image[at + 2];
            bad[at + 3] = image[at + 3];
        }
        const auto found = blockOf(bad);
        if (at == root + 14)
            EXPECT_TRUE(!found || found->size() == blockOf(image)->size());
        else
            EXPECT_FALSE(found.has_value()) << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PeResourceTree, testing::Values("two_translations-pe32.exe", "two_translations-pe64.exe"));

} // namespace
