#include "tests/versioninfo/testimage.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

#include "versioninfo/versiondeclaration.h"
#include "versioninfo/versionencoder.h"

namespace testimage {

std::vector<std::uint8_t> elfWithSection(
    const std::vector<std::uint8_t>& section, ElfKind kind, std::string_view sectionName)
{
    const bool is64 = kind != ElfKind::Elf32Little;
    const bool big = kind == ElfKind::Elf64Big;
    const int word = is64 ? 8 : 4;
    const std::uint64_t headerSize = is64 ? 64 : 52;
    const std::uint64_t entrySize = is64 ? 64 : 40;

    std::string names(1, '\0');
    const std::uint64_t versionName = names.size();
    names += std::string(sectionName) + '\0';
    const std::uint64_t namesName = names.size();
    names += std::string(".shstrtab") + '\0';

    const std::uint64_t sectionOffset = headerSize;
    const std::uint64_t namesOffset = sectionOffset + section.size();
    const std::uint64_t tableOffset = (namesOffset + names.size() + 7) & ~std::uint64_t{7};

    std::vector<std::uint8_t> bytes = {
        0x7F, 'E', 'L', 'F', static_cast<std::uint8_t>(is64 ? 2 : 1), static_cast<std::uint8_t>(big ? 2 : 1), 1};
    bytes.resize(16, 0);
    const auto put = [&](std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<std::uint8_t>(value >> (big ? 8 * (width - 1 - i) : 8 * i)));
    };
    put(3, 2);              // e_type: shared object
    put(is64 ? 62 : 3, 2);  // e_machine
    put(1, 4);              // e_version
    put(0, word);           // e_entry
    put(0, word);           // e_phoff
    put(tableOffset, word); // e_shoff
    put(0, 4);              // e_flags
    put(headerSize, 2);     // e_ehsize
    put(0, 2);              // e_phentsize
    put(0, 2);              // e_phnum
    put(entrySize, 2);      // e_shentsize
    put(3, 2);              // e_shnum
    put(2, 2);              // e_shstrndx
    bytes.insert(bytes.end(), section.begin(), section.end());
    bytes.insert(bytes.end(), names.begin(), names.end());
    bytes.resize(tableOffset, 0);

    auto header = [&](std::uint64_t name, std::uint64_t type, std::uint64_t offset, std::uint64_t size) {
        put(name, 4);
        put(type, 4);
        put(0, word); // flags
        put(0, word); // addr
        put(offset, word);
        put(size, word);
        put(0, 4);    // link
        put(0, 4);    // info
        put(1, word); // addralign
        put(0, word); // entsize
    };
    header(0, 0, 0, 0);
    header(versionName, 1, sectionOffset, section.size());
    header(namesName, 3, namesOffset, names.size());
    return bytes;
}

std::vector<std::uint8_t> encode(std::string_view declaration)
{
    std::string error;
    const auto parsed = versioninfo::VersionDeclaration::parse(declaration, error);
    EXPECT_TRUE(parsed.has_value()) << error;
    if (!parsed)
        return {};
    return versioninfo::VersionEncoder::encode(*parsed);
}

std::string declarationWithFileVersion(std::string_view fileVersion)
{
    return std::string(R"(1 VERSIONINFO
 FILEVERSION 1,1,2,0
 PRODUCTVERSION 1,1,2,0
 FILETYPE 0x2L
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904B0"
        BEGIN
            VALUE "FileVersion", ")")
        + std::string(fileVersion) + R"("
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x409, 1200
    END
END
)";
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ScratchDirectory::ScratchDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "sorvinda-versioninfo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDirectory::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
{
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::filesystem::path fixture(const std::string& name)
{
    const char* source = std::getenv("SORVINDA_SOURCE_DIR");
    const std::filesystem::path root = source != nullptr ? source : SORVINDA_SOURCE_DIR_FALLBACK;
    return root / "tests" / "versioninfo" / "fixtures" / name;
}

} // namespace testimage
