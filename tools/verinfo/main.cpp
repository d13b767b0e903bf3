// sorvinda-verinfo: prints the version information of an ELF or PE file.
//
//   sorvinda-verinfo FILE [BLOCK]
//
// BLOCK is the string block to read as eight hexadecimal digits, language
// then code page (default 040904b0, U.S. English in UTF-16). Exit status 0
// when the file has version information, 1 when it has none, 2 on bad use.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "versioninfo/cvfxversioninfo.h"

namespace {

constexpr std::size_t kBlockDigits = 8;

bool parseBlock(const std::string& text, std::uint16_t& language, std::uint32_t& codePage)
{
    if (text.size() != kBlockDigits || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 16);
    language = static_cast<std::uint16_t>(value >> 16);
    codePage = static_cast<std::uint32_t>(value & 0xFFFF);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::uint16_t language = CVFXVersionInfo::kLanguageEnglishUs;
    std::uint32_t codePage = CVFXVersionInfo::kCodePageUnicode;
    if (argc < 2 || argc > 3 || (argc == 3 && !parseBlock(argv[2], language, codePage))) {
        std::fprintf(stderr, "usage: %s FILE [BLOCK]   (BLOCK e.g. 040904b0)\n", argv[0]);
        return 2;
    }
    CVFXVersionData data;
    bool read = false;
    {
        CVFXVersionInfo reader(codePage, language);
        read = reader.Read(data, argv[1]);
    }
    data.Show(true);
    if (!read)
        std::printf("\n");
    return read ? 0 : 1;
}
