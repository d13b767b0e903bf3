#ifndef TESTS_VERSIONINFO_TESTIMAGE_H
#define TESTS_VERSIONINFO_TESTIMAGE_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Files for the version-resource tests: minimal ELF images built around a
// chosen .vs_version_info section, blocks encoded from declaration text, and
// a scratch directory removed with the object.
namespace testimage {

enum class ElfKind { Elf32Little, Elf64Little, Elf64Big };

// An ELF file with three sections: null, ".vs_version_info" holding section,
// and the section-name table. Layout: header, section bytes, names, table.
std::vector<std::uint8_t> elfWithSection(const std::vector<std::uint8_t>& section, ElfKind kind = ElfKind::Elf64Little,
    std::string_view sectionName = ".vs_version_info");

// The VS_VERSIONINFO block of declaration text; fails the test on errors.
std::vector<std::uint8_t> encode(std::string_view declaration);

// A declaration with one string block 040904B0 holding FileVersion and a
// translation 0x0409/0x04B0; fixed version 1.1.2.0.
std::string declarationWithFileVersion(std::string_view fileVersion);

std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::filesystem::path write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Source and build locations, from the environment set by CTest.
std::filesystem::path fixture(const std::string& name);

} // namespace testimage

#endif // TESTS_VERSIONINFO_TESTIMAGE_H
