#include "versioninfo/versionencoder.h"

#include <gtest/gtest.h>

#include "platform/bytesource.h"
#include "platform/executableimage.h"
#include "tests/versioninfo/testimage.h"
#include "versioninfo/versiondeclaration.h"

namespace {

using versioninfo::VersionDeclaration;
using versioninfo::VersionEncoder;

// UTF-16LE bytes of text and its terminating NUL.
std::vector<std::uint8_t> utf16z(std::u16string_view text)
{
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

void append(std::vector<std::uint8_t>& to, std::initializer_list<std::uint8_t> bytes)
{
    to.insert(to.end(), bytes);
}
void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

TEST(VersionEncoder, WritesNodesPaddedAndMeasuredLikeTheResourceCompiler)
{
    const auto block = testimage::encode(R"(1 VERSIONINFO
 FILEVERSION 1,2,3,4
 PRODUCTVERSION 5,6,7,8
 FILEFLAGSMASK 0x3fL
 FILEOS 0x4L
 FILETYPE 0x2L
BEGIN
    BLOCK "S"
    BEGIN
        VALUE "K", "ab"
    END
END)");

    std::vector<std::uint8_t> expected;
    append(expected, {122, 0, 52, 0, 0, 0});                // root: wLength 122, wValueLength 52, binary
    append(expected, utf16z(u"VS_VERSION_INFO"));           // key at 6..38
    append(expected, {0, 0});                               // pad to 40
    append(expected, {0xBD, 0x04, 0xEF, 0xFE});             // dwSignature 0xFEEF04BD
    append(expected, {0x00, 0x00, 0x01, 0x00});             // dwStrucVersion 1.0
    append(expected, {2, 0, 1, 0, 4, 0, 3, 0});             // file version MS 1.2, LS 3.4
    append(expected, {6, 0, 5, 0, 8, 0, 7, 0});             // product version 5.6.7.8
    append(expected, {0x3F, 0, 0, 0, 0, 0, 0, 0});          // flags mask, flags
    append(expected, {4, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}); // OS, type, subtype
    append(expected, {0, 0, 0, 0, 0, 0, 0, 0});             // date
    append(expected, {30, 0, 0, 0, 1, 0});                  // block "S" at 92: wLength 30, text type
    append(expected, utf16z(u"S"));
    append(expected, {0, 0});              // pad to 104
    append(expected, {18, 0, 3, 0, 1, 0}); // "K": wLength 18, 3 units with the NUL
    append(expected, utf16z(u"K"));
    append(expected, {0, 0});        // pad to 116
    append(expected, utf16z(u"ab")); // ends at 122, no padding after the last node
    EXPECT_EQ(block, expected);
}

// The fixtures were compiled by the mingw-w64 resource compiler from the .rc
// files beside them; our encoder must produce the same block from the same
// declaration, for 32- and 64-bit images alike.
class EncoderMatchesResourceCompiler : public testing::TestWithParam<std::string> { };

TEST_P(EncoderMatchesResourceCompiler, SameBytesAsThePeFixture)
{
    const auto declaration = testimage::readFile(testimage::fixture(GetParam() + ".rc"));
    const auto ours = testimage::encode(std::string(declaration.begin(), declaration.end()));
    ASSERT_FALSE(ours.empty());
    for (const char* kind : {"-pe32.exe", "-pe64.exe"}) {
        const platform::FileByteSource file(testimage::fixture(GetParam() + kind).string());
        ASSERT_TRUE(file.isOpen()) << GetParam() << kind;
        const auto theirs = platform::ExecutableImage::readVersionBlock(file);
        ASSERT_TRUE(theirs.has_value()) << GetParam() << kind;
        EXPECT_EQ(ours, *theirs) << GetParam() << kind;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EncoderMatchesResourceCompiler, testing::Values("two_translations", "long_string", "other_block"));

#ifdef SORVINDA_WINDRES_RES_DIR
// A .res file is a sequence of entries: DataSize, HeaderSize, header, data,
// each padded to 32 bits; the first entry is an empty marker.
std::vector<std::uint8_t> firstResourceData(const std::vector<std::uint8_t>& res)
{
    std::size_t offset = 0;
    while (offset + 8 <= res.size()) {
        auto u32 = [&](std::size_t at) {
            return std::uint32_t{res[at]} | (res[at + 1] << 8) | (res[at + 2] << 16)
                | (std::uint32_t{res[at + 3]} << 24);
        };
        const std::uint32_t dataSize = u32(offset), headerSize = u32(offset + 4);
        if (offset + headerSize + dataSize > res.size())
            break;
        if (dataSize > 0)
            return {res.begin() + static_cast<long>(offset + headerSize),
                res.begin() + static_cast<long>(offset + headerSize + dataSize)};
        offset = (offset + headerSize + dataSize + 3) & ~std::size_t{3};
    }
    return {};
}

class DeliverableDeclarations : public testing::TestWithParam<std::string> { };

TEST_P(DeliverableDeclarations, EncodeAsTheResourceCompilerDoes)
{
    const std::filesystem::path dir = SORVINDA_WINDRES_RES_DIR;
    const auto declaration = testimage::readFile(dir / (GetParam() + ".version"));
    const auto theirs = firstResourceData(testimage::readFile(dir / (GetParam() + ".res")));
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(testimage::encode(std::string(declaration.begin(), declaration.end())), theirs);
}

INSTANTIATE_TEST_SUITE_P(Resources, DeliverableDeclarations, testing::Values("qort", "sorvinda"));
#endif

TEST(VersionEncoder, TextValuesEndInExactlyOneNul)
{
    for (const auto& [text, units] : std::vector<std::pair<std::string, std::uint16_t>>{
             {R"("")", 1}, {R"("ab")", 3}, {R"("ab\0")", 3}, {R"("a""b")", 4}, {R"("\\\t")", 3}, {"\"\xC3\xA4\"", 2}}) {
        const auto block = testimage::encode("1 VERSIONINFO BEGIN VALUE \"K\", " + text + " END");
        ASSERT_GE(block.size(), 100u) << text;
        EXPECT_EQ(block[92 + 2] | (block[92 + 3] << 8), units) << text;
    }
}

TEST(VersionEncoder, NumbersWithoutLAreWordsAndWithLDoubleWords)
{
    const auto block = testimage::encode("1 VERSIONINFO BEGIN VALUE \"T\", 0x409, 1200, 7L END");
    ASSERT_EQ(block.size(), 92u + 6 + 4 + 2 + 8);
    EXPECT_EQ(block[94], 8); // wValueLength in bytes
    EXPECT_EQ(block[96], 0); // binary
    const std::vector<std::uint8_t> value(block.end() - 8, block.end());
    EXPECT_EQ(value, (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04, 7, 0, 0, 0}));
}

TEST(VersionEncoder, RefusesABlockBeyondSixteenBitLengths)
{
    VersionDeclaration declaration;
    VersionDeclaration::Node big;
    big.kind = VersionDeclaration::Node::Kind::Text;
    big.key = u"Big";
    big.text.assign(40000, u'x');
    declaration.children.push_back(big);
    EXPECT_TRUE(VersionEncoder::encode(declaration).empty());
}

TEST(VersionEncoder, CSourcePlacesTheBlockInItsSection)
{
    const std::string source = VersionEncoder::toCSource({0x01, 0xAB}, "x.version");
    EXPECT_NE(source.find("section(\".vs_version_info\"), used"), std::string::npos);
    EXPECT_NE(source.find("[2] = {\n    0x01, 0xab,\n};"), std::string::npos);
}

struct BadDeclaration {
    const char* name;
    const char* text;
    const char* message;
};

class DeclarationErrors : public testing::TestWithParam<BadDeclaration> { };

TEST_P(DeclarationErrors, NameTheLineAndTheFault)
{
    std::string error;
    EXPECT_FALSE(VersionDeclaration::parse(GetParam().text, error).has_value());
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Table, DeclarationErrors,
    testing::Values(BadDeclaration{"Empty", "", "line 1: expected the resource name"},
        BadDeclaration{"NotVersionInfo", "1 DIALOG", "expected VERSIONINFO"},
        BadDeclaration{
            "UnknownStatement", "1 VERSIONINFO\n FILEDATE 1\nBEGIN END", "line 2: unknown statement FILEDATE"},
        BadDeclaration{"FiveNumbers", "1 VERSIONINFO FILEVERSION 1,2,3,4,5 BEGIN END", "at most four"},
        BadDeclaration{"WideVersion", "1 VERSIONINFO FILEVERSION 65536 BEGIN END", "16 bits"},
        BadDeclaration{"HugeNumber", "1 VERSIONINFO FILEOS 0x100000000 BEGIN END", "wider than 32 bits"},
        BadDeclaration{"UnterminatedString", "1 VERSIONINFO BEGIN\n VALUE \"K, \"v\"\nEND", "line 2"},
        BadDeclaration{"MissingEnd", "1 VERSIONINFO BEGIN BLOCK \"S\" BEGIN", "missing END"},
        BadDeclaration{"TrailingText", "1 VERSIONINFO BEGIN END END", "after the final END"},
        BadDeclaration{"TwoStrings", "1 VERSIONINFO BEGIN VALUE \"K\", \"a\", \"b\" END", "one string"},
        BadDeclaration{"WideWord", "1 VERSIONINFO BEGIN VALUE \"T\", 70000 END", "without L"},
        BadDeclaration{"BadEscape", "1 VERSIONINFO BEGIN VALUE \"K\", \"\\q\" END", "unknown escape"},
        BadDeclaration{"NotUtf8", "1 VERSIONINFO BEGIN VALUE \"K\", \"\xFF\" END", "not UTF-8"},
        BadDeclaration{"OpenComment", "1 VERSIONINFO /* BEGIN END", "unterminated comment"}),
    [](const testing::TestParamInfo<BadDeclaration>& info) { return std::string(info.param.name); });

} // namespace
