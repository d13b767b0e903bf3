// Version resources: the VS_VERSIONINFO block, ELF and PE images (PE
// fixtures from the mingw-w64 toolchain, see fixtures/make-fixtures), the
// file-level API, the encoder against the resource compiler, the CVFX
// reader classes and the resources the build gives both deliverables.
// Hostile files run under ASan+UBSan: any read outside a buffer fails.
#include "platform/bytesource.h"
#include "platform/executableimage.h"
#include "platform/threadlocale.h"
#include "platform/versionblock.h"
#include "platform/versionfile.h"
#include "tests/versioninfo/testimage.h"
#include "versioninfo/cvfxpointer.h"
#include "versioninfo/cvfxversioninfo.h"
#include "versioninfo/versiondeclaration.h"
#include "versioninfo/versionencoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <locale.h>
#include <sys/stat.h>

namespace {

using platform::ExecutableImage;
using platform::VersionBlock;
using Bytes = std::vector<std::uint8_t>;

std::optional<Bytes> blockOf(const Bytes& image)
{
    return ExecutableImage::readVersionBlock(platform::MemoryByteSource(image));
}

std::uint32_t u32At(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

void put(Bytes& b, std::size_t at, std::uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes cut(const Bytes& b, std::size_t length)
{
    return Bytes(b.begin(), b.begin() + static_cast<long>(length));
}

const Bytes kBlock = testimage::encode(testimage::declarationWithFileVersion("1, 1, 2, 0"));

// A look-up as "text:" and its characters (NUL as '~'), "bin:" and its
// bytes in hex (or size@offset when longer), or "-" when nothing is found.
std::string lookUp(const Bytes& block, const char* path)
{
    const auto found = VersionBlock(block).find(path);
    if (!found)
        return "-";
    EXPECT_LE(found->offset + found->size, block.size()) << path;
    if (found->offset + found->size > block.size())
        return "outside";
    std::string shown = found->isText ? "text:" : "bin:";
    if (!found->isText && found->size > 4)
        return shown + std::to_string(found->size) + "@" + std::to_string(found->offset);
    static const char* const kHex = "0123456789abcdef";
    for (std::size_t i = 0; i < found->size; i += found->isText ? 2 : 1) {
        const std::uint8_t b = block[found->offset + i];
        if (found->isText)
            shown += b == 0 ? '~' : static_cast<char>(b);
        else
            shown += std::string{kHex[b >> 4], kHex[b & 15]};
    }
    return shown;
}

TEST(VersionBlock, LooksUpPathsWithKeysInAnyCase)
{
    const struct {
        const char* path;
        const char* found;
    } cases[] = {
        {"\\", "bin:52@40"},
        {"", "bin:52@40"},
        {"\\\\", "bin:52@40"},
        {"\\StringFileInfo\\040904b0\\fileversion", "text:1, 1, 2, 0~"},
        {"\\VarFileInfo\\Translation", "bin:0904b004"},
        {"\\StringFileInfo\\040704B0\\FileVersion", "-"},
        {"\\StringFileInfo\\040904B0\\FileVersio", "-"},
        {"\\StringFileInfo\\040904B0\\FileVersionX", "-"},
        {"\\VarFileInfo\\Translation\\More", "-"},
        {"\\Nothing", "-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lookUp(kBlock, c.path), c.found) << c.path;
    EXPECT_EQ(VersionBlock::rootLength(kBlock), kBlock.size());
}

TEST(VersionBlock, HostileBlocks)
{
    for (std::size_t length = 0; length < kBlock.size(); ++length) {
        EXPECT_FALSE(VersionBlock::rootLength(std::span(kBlock.data(), length)).has_value()) << length;
        EXPECT_EQ(lookUp(cut(kBlock, length), "\\StringFileInfo\\040904B0\\FileVersion"), "-") << length;
    }
    // Lying length fields whose only outcome is "found inside the block or
    // not" are the fuzzer's (tests/versioninfo/fuzz); here the lies with an
    // answer.
    Bytes noSignature = kBlock;
    noSignature[40] ^= 0xFF;
    EXPECT_EQ(lookUp(noSignature, "\\"), "-");
    Bytes shortFixed = kBlock;
    shortFixed[2] = 51; // wValueLength below the 52 bytes of VS_FIXEDFILEINFO
    EXPECT_EQ(lookUp(shortFixed, "\\"), "-");
    Bytes keyCut = cut(kBlock, 20); // a root whose wLength ends inside its key
    keyCut[0] = 20;
    EXPECT_FALSE(VersionBlock::rootLength(keyCut).has_value());
}

class ElfImage : public testing::TestWithParam<testimage::ElfKind> { };

TEST_P(ElfImage, FindsTheBlockOnlyInItsSectionAndSurvivesEveryLie)
{
    const bool is32 = GetParam() == testimage::ElfKind::Elf32Little;
    const auto image = testimage::elfWithSection(kBlock, GetParam());
    EXPECT_EQ(blockOf(image), kBlock);
    Bytes padded = kBlock;
    padded.resize(kBlock.size() + 13, 0xEE);
    EXPECT_EQ(blockOf(testimage::elfWithSection(padded, GetParam())), kBlock) << "section padding is not the block";
    for (const char* name : {".vs_version_inf", ".vs_version_info2", ".VS_VERSION_INFO", ""})
        EXPECT_FALSE(blockOf(testimage::elfWithSection(kBlock, GetParam(), name)).has_value()) << name;
    // The section table is at the end: only the unread tail of the last
    // header may be missing.
    for (std::size_t length = 0; length < image.size(); ++length)
        if (const auto found = blockOf(cut(image, length))) {
            EXPECT_EQ(*found, kBlock) << length;
            EXPECT_GT(length, image.size() - 64 + 40) << length;
        }
    const std::size_t headerBytes = is32 ? 52 : 64, tableStart = image.size() - 3 * (is32 ? 40 : 64);
    for (std::size_t at = 0; at < image.size(); ++at) {
        if (at >= headerBytes && at < tableStart)
            continue; // section contents are the block tests' business
        for (std::uint8_t lie : {0x00, 0x7F, 0xFF}) {
            Bytes bad = image;
            bad[at] = lie;
            if (const auto found = blockOf(bad)) {
                EXPECT_EQ(*found, kBlock) << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ElfImage,
    testing::Values(testimage::ElfKind::Elf32Little, testimage::ElfKind::Elf64Little, testimage::ElfKind::Elf64Big));

TEST(ElfImage64, AbsurdSectionTablesAreRejected)
{
    const auto image = testimage::elfWithSection(kBlock);
    const std::size_t table = u32At(image, 0x28);
    const struct {
        std::size_t at;
        int width;
        std::uint64_t value;
    } lies[] = {
        {0x28, 8, 0xFFFFFFFFFFFFFF00ull},            // e_shoff far outside
        {0x3C, 2, 0},                                // e_shnum 0: count in section 0 (0)
        {0x3E, 2, 0xFFFF},                           // e_shstrndx extended, link 0
        {0x3E, 2, 7},                                // string table index past the table
        {0x3A, 2, 8},                                // entries smaller than a header
        {table + 64 + 24, 8, image.size()},          // section offset at the end
        {table + 64 + 32, 8, 0xFFFFFFFFFFFFFFFFull}, // section size absurd
        {table + 64 + 0, 4, 0xFFFFFFF0u},            // name offset outside the names
        {table + 128 + 32, 8, 3},                    // names cut short
    };
    for (const auto& lie : lies) {
        Bytes bad = image;
        put(bad, lie.at, lie.value, lie.width);
        EXPECT_FALSE(blockOf(bad).has_value()) << lie.at;
    }
}

struct PeFixture {
    const char* file;
    bool hasVersion;
};

class PeImage : public testing::TestWithParam<PeFixture> {
protected:
    Bytes image = testimage::readFile(testimage::fixture(GetParam().file));
};

// Every truncation: nothing, or the whole block. (Bytes set to lies, where
// only a whole block may come out, are the fuzzer's: the fixtures are its
// seeds.)
TEST_P(PeImage, FindsTheVersionResourceOnlyWhereThereIsOneAndInWholeImages)
{
    const auto whole = blockOf(image);
    ASSERT_EQ(whole.has_value(), GetParam().hasVersion);
    for (std::size_t length = 0; length < image.size(); ++length)
        if (const auto found = blockOf(cut(image, length))) {
            EXPECT_EQ(found, whole) << length;
        }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeImage,
    testing::Values(PeFixture{"two_translations-pe32.exe", true}, PeFixture{"two_translations-pe64.exe", true},
        PeFixture{"long_string-pe32.exe", true}, PeFixture{"other_block-pe64.exe", true},
        PeFixture{"no_version-pe32.exe", false}, PeFixture{"plain-pe64.exe", false}));

// The file offset of a fixture's resource directory, found as the reader
// finds it, so that lies can be planted in the tree.
std::size_t resourceDirectoryOffset(const Bytes& image)
{
    const std::size_t pe = u32At(image, 0x3C), optional = pe + 24;
    const bool plus = (image[optional] | (image[optional + 1] << 8)) == 0x20B;
    const std::uint32_t rva = u32At(image, optional + (plus ? 112 : 96) + 16);
    const std::size_t sections = optional + (image[pe + 20] | (image[pe + 21] << 8));
    for (std::size_t i = 0; i < static_cast<std::size_t>(image[pe + 6] | (image[pe + 7] << 8)); ++i) {
        const std::size_t header = sections + i * 40;
        const std::uint32_t address = u32At(image, header + 12);
        if (rva >= address && rva - address < u32At(image, header + 16))
            return u32At(image, header + 20) + (rva - address);
    }
    ADD_FAILURE() << "no resource section";
    return 0;
}

class PeResourceTree : public testing::TestWithParam<const char*> { };

TEST_P(PeResourceTree, LoopsAndLyingEntriesEndWithoutAVersion)
{
    const Bytes image = testimage::readFile(testimage::fixture(GetParam()));
    ASSERT_TRUE(blockOf(image).has_value());
    const std::size_t root = resourceDirectoryOffset(image);
    const auto firstTarget = [&](std::size_t directory) { return root + directory + 16 + 4; };
    const std::size_t level2 = u32At(image, firstTarget(0)) & 0x7FFFFFFFu;
    const std::size_t level3 = u32At(image, firstTarget(level2)) & 0x7FFFFFFFu;
    const std::size_t dataEntry = root + u32At(image, firstTarget(level3));
    const std::pair<std::size_t, std::uint32_t> lies[] = {
        {firstTarget(0), 0x80000000u},                                           // type -> root
        {firstTarget(level2), 0x80000000u},                                      // name -> root
        {firstTarget(level2), 0x80000000u | static_cast<std::uint32_t>(level2)}, // name -> itself
        {firstTarget(level3), 0x80000000u},                                      // language -> a directory
        {firstTarget(level3), 0x7FFFFFF0u},                                      // data entry outside
        {firstTarget(0), 0xFFFFFFFFu},                                           // sub-directory far outside
        {dataEntry, 0xFFFFFF00u},                                                // data RVA in no section
        {dataEntry + 4, 0xFFFFFFFFu},                                            // absurd size
        {dataEntry + 4, 5},                                                      // size below a node header
    };
    for (const auto& [at, value] : lies) {
        Bytes bad = image;
        put(bad, at, value, 4);
        EXPECT_FALSE(blockOf(bad).has_value()) << at << " -> " << value;
    }
    Bytes manyEntries = image; // 65535 id entries in the root, most outside
    put(manyEntries, root + 14, 0xFFFF, 2);
    const auto found = blockOf(manyEntries);
    EXPECT_TRUE(!found || found->size() == blockOf(image)->size());
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PeResourceTree, testing::Values("two_translations-pe32.exe", "two_translations-pe64.exe"));

Bytes loaded(const std::filesystem::path& file)
{
    const std::uint32_t size = platform::fileVersionInfoSize(file.c_str());
    Bytes buffer(size);
    if (size == 0 || !platform::readFileVersionInfo(file.c_str(), size, buffer.data()))
        return {};
    return buffer;
}

std::string text(Bytes& buffer, const char* path)
{
    void* value = nullptr;
    std::uint32_t length = 0;
    if (!platform::queryVersionValue(buffer.data(), path, &value, &length))
        return "<none>";
    EXPECT_EQ(std::strlen(static_cast<const char*>(value)) + 1, length) << path << ": the NUL is counted";
    return static_cast<const char*>(value);
}

TEST(VersionFile, TextsComeBackAsUtf8AndBinaryValuesInPlace)
{
    testimage::ScratchDirectory scratch;
    auto block = testimage::encode(R"(1 VERSIONINFO BEGIN
        BLOCK "StringFileInfo" BEGIN BLOCK "040904B0" BEGIN
            VALUE "Ascii", "1, 1, 2, 0"
            VALUE "Latin", "Größe"
            VALUE "Euro", "€"
            VALUE "Astral", "😀"
            VALUE "Empty", ""
        END END END)");
    auto buffer = loaded(scratch.write("utf.so", testimage::elfWithSection(block)));
    ASSERT_FALSE(buffer.empty());
    void* first = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(platform::queryVersionValue(buffer.data(), "\\StringFileInfo\\040904B0\\Latin", &first, &length));
    for (const auto& [key, expected] :
        {std::pair{"Ascii", "1, 1, 2, 0"}, {"Latin", "Größe"}, {"Euro", "€"}, {"Astral", "😀"}, {"Empty", ""}})
        EXPECT_EQ(text(buffer, (std::string("\\StringFileInfo\\040904B0\\") + key).c_str()), expected);
    EXPECT_STREQ(static_cast<const char*>(first), "Größe") << "earlier results stay valid after later queries";

    // 'b' a lone high surrogate, 'd' a lone low one, and no NUL (4 units).
    block = testimage::encode("1 VERSIONINFO BEGIN VALUE \"K\", \"abcd\" END");
    block[107] = 0xD8, block[106] = 0, block[111] = 0xDC, block[110] = 0, block[94] = 4;
    buffer = loaded(scratch.write("bad.so", testimage::elfWithSection(block)));
    EXPECT_EQ(text(buffer, "\\K"), "a\uFFFDc\uFFFD");

    const auto file = scratch.write("t.so", testimage::elfWithSection(kBlock));
    buffer = loaded(file);
    void* value = nullptr;
    ASSERT_TRUE(platform::queryVersionValue(buffer.data(), "\\VarFileInfo\\Translation", &value, &length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::memcmp(value, "\x09\x04\xB0\x04", 4), 0);
    ASSERT_TRUE(platform::queryVersionValue(buffer.data(), "\\", &value, &length));
    EXPECT_EQ(length, 52u);
    EXPECT_EQ(static_cast<std::uint8_t*>(value) - buffer.data(), 40);
    for (void** v : {&value, static_cast<void**>(nullptr)})
        for (const char* path : {"\\", static_cast<const char*>(nullptr)})
            for (std::uint32_t* l : {&length, static_cast<std::uint32_t*>(nullptr)})
                if (!(v && path && l)) {
                    EXPECT_FALSE(platform::queryVersionValue(buffer.data(), path, v, l));
                }
    EXPECT_FALSE(platform::queryVersionValue(nullptr, "\\", &value, &length));

    Bytes small(buffer.size(), 0xAA);
    EXPECT_FALSE(
        platform::readFileVersionInfo(file.c_str(), static_cast<std::uint32_t>(small.size() - 1), small.data()));
    EXPECT_EQ(small, Bytes(buffer.size(), 0xAA)) << "a smaller buffer is refused and left alone";
    EXPECT_FALSE(platform::readFileVersionInfo(file.c_str(), 100000, nullptr));

    ::mkfifo((scratch.path() / "fifo").c_str(), 0600);
    for (const std::filesystem::path& none : {scratch.path() / "missing", scratch.path(), scratch.path() / "fifo",
             scratch.write("empty", {}), scratch.write("text", {'h', 'i'}), testimage::fixture("no_version-pe64.exe"),
             testimage::fixture("plain-pe64.exe"), std::filesystem::path()})
        EXPECT_EQ(platform::fileVersionInfoSize(none.c_str()), 0u) << none;
    EXPECT_EQ(platform::fileVersionInfoSize(nullptr), 0u);
}

TEST(VersionEncoder, TextsNumbersAndLimits)
{
    // The layout of every node is MatchesTheResourceCompiler's business;
    // here what the fixtures do not declare.
    for (const auto& [value, units] : std::vector<std::pair<std::string, int>>{
             {R"("")", 1}, {R"("ab")", 3}, {R"("ab\0")", 3}, {R"("a""b")", 4}, {R"("\\\t")", 3}, {"\"\xC3\xA4\"", 2}}) {
        const auto b = testimage::encode("1 VERSIONINFO BEGIN VALUE \"K\", " + value + " END");
        ASSERT_GE(b.size(), 100u) << value;
        EXPECT_EQ(b[94] | (b[95] << 8), units) << value << ": text values end in exactly one NUL";
    }
    const auto numbers = testimage::encode("1 VERSIONINFO BEGIN VALUE \"T\", 0x409, 1200, 7L END");
    ASSERT_EQ(numbers.size(), 92u + 6 + 4 + 2 + 8);
    EXPECT_EQ(numbers[94] + numbers[96] * 256, 8) << "wValueLength in bytes, binary";
    EXPECT_EQ(Bytes(numbers.end() - 8, numbers.end()), (Bytes{0x09, 0x04, 0xB0, 0x04, 7, 0, 0, 0}));

    versioninfo::VersionDeclaration big;
    big.children.emplace_back().kind = versioninfo::VersionDeclaration::Node::Kind::Text;
    big.children.back().key = u"Big";
    big.children.back().text.assign(40000, u'x');
    EXPECT_TRUE(versioninfo::VersionEncoder::encode(big).empty()) << "beyond 16-bit lengths";
    const std::string source = versioninfo::VersionEncoder::toCSource({0x01, 0xAB}, "x.version");
    EXPECT_NE(source.find("section(\".vs_version_info\"), used"), std::string::npos);
    EXPECT_NE(source.find("[2] = {\n    0x01, 0xab,\n};"), std::string::npos);
}

// The fixtures were compiled by the mingw-w64 resource compiler from the .rc
// files beside them; our encoder must produce the same block.
TEST(VersionEncoder, MatchesTheResourceCompiler)
{
    for (const std::string name : {"two_translations", "long_string", "other_block"}) {
        const auto declaration = testimage::readFile(testimage::fixture(name + ".rc"));
        const auto ours = testimage::encode(std::string(declaration.begin(), declaration.end()));
        for (const char* kind : {"-pe32.exe", "-pe64.exe"})
            EXPECT_EQ(blockOf(testimage::readFile(testimage::fixture(name + kind))), ours) << name << kind;
    }
#ifdef SORVINDA_WINDRES_RES_DIR
    // A .res file: entries of DataSize, HeaderSize, header, data, each padded
    // to 32 bits; the first entry is an empty marker.
    for (const std::string name : {"qort", "sorvinda"}) {
        const std::filesystem::path dir = SORVINDA_WINDRES_RES_DIR;
        const auto declaration = testimage::readFile(dir / (name + ".version"));
        const auto res = testimage::readFile(dir / (name + ".res"));
        Bytes theirs;
        for (std::size_t at = 0; at + 8 <= res.size() && theirs.empty();) {
            const std::size_t data = u32At(res, at), header = u32At(res, at + 4);
            if (at + header + data > res.size())
                break;
            theirs.assign(
                res.begin() + static_cast<long>(at + header), res.begin() + static_cast<long>(at + header + data));
            at = (at + header + data + 3) & ~std::size_t{3};
        }
        ASSERT_FALSE(theirs.empty()) << name;
        EXPECT_EQ(testimage::encode(std::string(declaration.begin(), declaration.end())), theirs) << name;
    }
#endif
}

TEST(VersionDeclaration, ErrorsNameTheLineAndTheFault)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "line 1: expected the resource name"},
        {"1 DIALOG", "expected VERSIONINFO"},
        {"1 VERSIONINFO\n FILEDATE 1\nBEGIN END", "line 2: unknown statement FILEDATE"},
        {"1 VERSIONINFO FILEVERSION 1,2,3,4,5 BEGIN END", "at most four"},
        {"1 VERSIONINFO FILEVERSION 65536 BEGIN END", "16 bits"},
        {"1 VERSIONINFO FILEOS 0x100000000 BEGIN END", "wider than 32 bits"},
        {"1 VERSIONINFO BEGIN\n VALUE \"K, \"v\"\nEND", "line 2"},
        {"1 VERSIONINFO BEGIN BLOCK \"S\" BEGIN", "missing END"},
        {"1 VERSIONINFO BEGIN END END", "after the final END"},
        {"1 VERSIONINFO BEGIN VALUE \"K\", \"a\", \"b\" END", "one string"},
        {"1 VERSIONINFO BEGIN VALUE \"T\", 70000 END", "without L"},
        {"1 VERSIONINFO BEGIN VALUE \"K\", \"\\q\" END", "unknown escape"},
        {"1 VERSIONINFO BEGIN VALUE \"K\", \"\xFF\" END", "not UTF-8"},
        {"1 VERSIONINFO /* BEGIN END", "unterminated comment"},
    };
    for (const auto& [declaration, message] : cases) {
        std::string error;
        EXPECT_FALSE(versioninfo::VersionDeclaration::parse(declaration, error).has_value()) << declaration;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

std::string allStrings(const CVFXVersionData& d)
{
    std::string numbers;
    for (const auto& version : {d.m_wFileVersion, d.m_wProductVersion})
        for (std::uint16_t part : version)
            numbers += std::to_string(part) + ".";
    return numbers + "|" + d.m_strFileVersion + "|" + d.m_strProductVersion + "|" + d.m_strCompanyName + "|"
        + d.m_strFileDescription + "|" + d.m_strInternalName + "|" + d.m_strLegalCopyright + "|"
        + d.m_strOriginalFilename + "|" + d.m_strProductName + "|" + d.m_strComments.substr(0, 12) + "|"
        + d.m_strLegalTrademarks + "|" + d.m_strPrivateBuild + "|" + d.m_strSpecialBuild;
}

TEST(CVFXVersionInfo, ReadsFilesAndTheProgramsOwn)
{
    const std::string longString = testimage::fixture("long_string-pe64.exe").string();
    const std::string longStrings = "1.1.0.5.7.8.9.10.|1.1.0.5|7.8.9.10|Company|Description|Internal|Copyright|"
                                    "long_string.exe|Product|012345678901|Trademarks|Private|Special";
    const struct {
        std::string name;
        std::uint16_t language;
        std::string strings; // "" when the read fails
    } cases[] = {
        {longString, 0x0409, longStrings},
        {"  " + longString + "\t", 0x0409, longStrings},
        // Strings in another block: numbers, empty texts; a reader made for
        // that block finds them.
        {testimage::fixture("other_block-pe32.exe").string(), 0x0409, "3.4.5.6.3.4.5.6.||||||||||||"},
        {testimage::fixture("other_block-pe64.exe").string(), 0x0407,
            "3.4.5.6.3.4.5.6.|3, 4, 5, 6|3, 4, 5, 6|Firma|||||||||"},
        {testimage::fixture("no_version-pe32.exe").string(), 0x0409, ""},
        {"/nonexistent/file", 0x0409, ""},
    };
    for (const auto& c : cases) {
        CVFXVersionData data;
        CVFXVersionInfo(CVFXVersionInfo::kCodePageUnicode, 0x0409).Read(data, longString.c_str());
        const bool read = CVFXVersionInfo(CVFXVersionInfo::kCodePageUnicode, c.language).Read(data, c.name.c_str());
        EXPECT_EQ(read, !c.strings.empty()) << c.name;
        if (c.strings.empty()) {
            EXPECT_TRUE(data.IsEmpty()) << c.name << ": a failed read leaves an empty record";
        } else
            EXPECT_EQ(allStrings(data), c.strings);
    }
    CVFXVersionData data;
    ASSERT_TRUE(CVFXVersionInfo(CVFXVersionInfo::kCodePageUnicode, 0x0409).Read(data, longString.c_str()));
    EXPECT_EQ(data.m_strFileName, longString) << "names are trimmed";
    EXPECT_EQ(data.m_strComments.size(), 255u) << "a 300-character value keeps its first 255";
    EXPECT_EQ(data.m_strComments.substr(250), "01234");
    // No name, or only blanks: the program's own file.
    for (const char* blank : {static_cast<const char*>(nullptr), "", " \t\r\n "}) {
        ASSERT_TRUE(CVFXVersionInfo(CVFXVersionInfo::kCodePageUnicode, 0x0409).Read(data, blank));
        EXPECT_EQ(data.m_strFileName, std::filesystem::canonical("/proc/self/exe").string());
        EXPECT_EQ(data.m_strProductVersion, "1, 4, 0, 0");
    }
}

TEST(CVFXVersionInfo, QueryStringZeroFillsAndCutsAtWholeCharacters)
{
    testimage::ScratchDirectory scratch;
    const auto file = scratch.write("u.so", testimage::elfWithSection(testimage::encode(R"(1 VERSIONINFO BEGIN
        BLOCK "StringFileInfo" BEGIN BLOCK "040904b0" BEGIN VALUE "Key", "aäb" END END END)")));
    CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    std::vector<char> block(reader.GetInfoSize(file.c_str()));
    ASSERT_TRUE(reader.GetInfo(file.c_str(), static_cast<std::uint32_t>(block.size()), block.data()));
    for (const auto& [outSize, expected] : std::vector<std::pair<std::size_t, std::string>>{
             {16, "a\u00E4b"}, {5, "a\u00E4b"}, {4, "a\u00E4"}, {3, "a"}, {2, "a"}, {1, ""}}) {
        std::vector<char> out(outSize, 'X');
        EXPECT_TRUE(reader.QueryString(block.data(), "Key", out.data(), out.size())) << outSize;
        EXPECT_EQ(std::string(out.data(), out.size()), expected + std::string(outSize - expected.size(), '\0'));
    }
    char out[8] = "XXXXXXX";
    EXPECT_FALSE(reader.QueryString(block.data(), "Missing", out, sizeof out));
    EXPECT_EQ(std::string(out, sizeof out), std::string(8, '\0'));
    EXPECT_FALSE(reader.QueryString(block.data(), "Key", out, 0));
    EXPECT_FALSE(reader.QueryString(block.data(), std::string(300, 'K').c_str(), out, sizeof out));
}

// A reader switches the thread's locale to its language while it lives,
// when that locale is installed, and leaves it alone otherwise.
TEST(CVFXVersionInfo, LanguageRulesTheThreadLocaleForTheReadersLifetime)
{
    const platform::Lcid before = platform::threadLocale();
    const locale_t posixBefore = ::uselocale(static_cast<locale_t>(nullptr));
    ASSERT_TRUE(platform::isLocaleInstalled(platform::makeLcid(platform::kLangInvariant))); // C.UTF-8
    for (const std::uint16_t language : {std::uint16_t{0x0436}, platform::kLangInvariant}) {
        {
            const bool installed = language == platform::kLangInvariant;
            CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, language);
            EXPECT_EQ(reader.m_lcidUsed, installed ? platform::makeLcid(language) : before);
            EXPECT_EQ(reader.m_lcidSaved, before);
            EXPECT_EQ(platform::threadLocale(), reader.m_lcidUsed);
            EXPECT_EQ(::uselocale(static_cast<locale_t>(nullptr)) != posixBefore, installed);
        }
        EXPECT_EQ(platform::threadLocale(), before);
        EXPECT_EQ(::uselocale(static_cast<locale_t>(nullptr)), posixBefore);
    }
}

TEST(CVFXVersionData, TextEmptinessCopyAndShow)
{
    CVFXVersionData d;
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_EQ(d.ToString(), "No version information is available");
    using D = CVFXVersionData;
    std::string D::*texts[] = {&D::m_strFileName, &D::m_strFileVersion, &D::m_strProductVersion, &D::m_strCompanyName,
        &D::m_strFileDescription, &D::m_strInternalName, &D::m_strLegalCopyright, &D::m_strOriginalFilename,
        &D::m_strProductName, &D::m_strComments, &D::m_strLegalTrademarks, &D::m_strPrivateBuild,
        &D::m_strSpecialBuild};
    const char* labels[] = {"F", "FV", "PV", "CN", "FD", "IN", "LC", "OF", "PN", "CO", "LT", "PB", "SB"};
    // Each member alone makes a record non-empty; Reset empties it again.
    for (std::size_t i = 0; i < std::size(texts) + 2; ++i) {
        CVFXVersionData one;
        if (i < std::size(texts))
            one.*texts[i] = "x";
        else
            (i == std::size(texts) ? one.m_wFileVersion[3] : one.m_wProductVersion[0]) = 1;
        EXPECT_FALSE(one.IsEmpty()) << "member " << i;
        one.Reset();
        EXPECT_TRUE(one.IsEmpty()) << "member " << i;
    }
    for (std::size_t i = 0; i < std::size(texts); ++i)
        d.*texts[i] = labels[i];
    d.m_strFileName = "/opt/x/SorvindaConfig";
    const std::string expected = "VS_VERSION_INFO for /opt/x/SorvindaConfig:\n\n"
                                 "FileVersion: FV\nProductVersion: PV\nCompanyName: CN\nFileDescription: FD\n"
                                 "InternalName: IN\nLegalCopyright: LC\nOriginalFileName: OF\nProductName: PN\n"
                                 "Comments CO\nLegalTradeMarks: LT\nPrivateBuild: PB\nSpecialBuild: SB\n";
    EXPECT_EQ(d.ToString(), expected);
    d.m_wProductVersion = {1, 3, 1, 1};
    CVFXVersionData copy;
    copy.Copy(d);
    EXPECT_EQ(allStrings(copy), allStrings(d));
    EXPECT_EQ(copy.m_strFileName, d.m_strFileName);

    // Show(false) with the message box hook is the window's test.
    testing::internal::CaptureStdout();
    d.Show(true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    testing::internal::CaptureStderr();
    d.Show(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected + "\n");

    // Leaks or double frees show under ASan.
    CVFXPointer owner(std::malloc(16), true);
    void* next = std::malloc(8);
    owner.Reset(next);
    EXPECT_EQ(owner.Get(), next);
    owner.Reset(next); // the same buffer again: kept, not freed
    char onStack[4];
    CVFXPointer borrower(onStack, false);
    borrower.Reset(nullptr); // not owned: not freed
    EXPECT_TRUE(borrower.IsNull());
}

std::uint32_t fixedField(const char* file, std::size_t offset)
{
    auto buffer = loaded(file);
    void* value = nullptr;
    std::uint32_t length = 0, result = 0;
    if (platform::queryVersionValue(buffer.data(), "\\", &value, &length))
        std::memcpy(&result, static_cast<std::uint8_t*>(value) + offset, sizeof result);
    EXPECT_EQ(text(buffer, "\\StringFileInfo\\040904b0\\FileVersion").substr(0, 3), "1, ") << file;
    return result;
}

TEST(Deliverables, CarryTheirVersionResources)
{
    constexpr std::size_t kFileOs = 32, kFileType = 36;
    constexpr std::uint32_t kOsWindows32 = 4, kTypeApplication = 1, kTypeDll = 2;
    CVFXVersionData data;
    ASSERT_TRUE(CVFXVersionInfo(CVFXVersionInfo::kCodePageUnicode, 0x0409).Read(data, nullptr));
    EXPECT_EQ(allStrings(data).substr(0, 39), "1.4.0.0.1.4.0.0.|1, 4, 0, 0|1, 4, 0, 0|");
    EXPECT_EQ(data.m_strFileDescription + "|" + data.m_strInternalName + "|" + data.m_strOriginalFilename + "|"
            + data.m_strProductName + "|" + data.m_strComments + data.m_strLegalTrademarks + data.m_strPrivateBuild
            + data.m_strSpecialBuild,
        "Sorvinda Config|Sorvinda Config|SorvindaConfig.exe|SorvindaConfig|");
    EXPECT_FALSE(data.m_strCompanyName.empty() || data.m_strLegalCopyright.empty());
    EXPECT_EQ(fixedField("/proc/self/exe", kFileType), kTypeApplication);
    EXPECT_EQ(fixedField("/proc/self/exe", kFileOs), kOsWindows32);
#ifdef SORVINDA_QORT_FILE
    ASSERT_TRUE(CVFXVersionInfo(CVFXVersionInfo::kCodePageUnicode, 0x0409).Read(data, SORVINDA_QORT_FILE));
    EXPECT_EQ(allStrings(data).substr(0, 39), "1.1.2.0.1.1.2.0.|1, 1, 2, 0|1, 1, 2, 0|");
    EXPECT_EQ(data.m_strFileDescription + "|" + data.m_strOriginalFilename, "qort dll|qort.dll");
    EXPECT_EQ(fixedField(SORVINDA_QORT_FILE, kFileType), kTypeDll);
    EXPECT_EQ(fixedField(SORVINDA_QORT_FILE, kFileOs), kOsWindows32);
#endif
}

} // namespace
