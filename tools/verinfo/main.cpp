// sorvinda-verinfo: prints the version information of an ELF or PE file.
//
//   sorvinda-verinfo FILE [BLOCK]
//
// BLOCK is the string block to read as eight hexadecimal digits, language
// then code page (default 040904b0, U.S. English in UTF-16). Exit status 0
// when the file has version information, 1 when it has none, 2 on bad use.
// The strings come from the file, which may be anybody's: they are printed
// with control bytes replaced, so a crafted file cannot drive the terminal.
#include "platform/textescape.h"
#include "versioninfo/cvfxversioninfo.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kExitUsage = 2;
constexpr std::size_t kBlockDigits = 8;
constexpr int kHexBase = 16;
constexpr int kCodePageBits = 16;
constexpr std::uint32_t kCodePageMask = 0xFFFF;

CLI::Validator BlockValidator()
{
    return CLI::Validator(
        [](std::string& text) {
            if (text.size() != kBlockDigits || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return "'" + text + "' is not eight hexadecimal digits (e.g. 040904b0)";
            return std::string();
        },
        "BLOCK");
}

void EscapeStrings(CVFXVersionData& data)
{
    for (std::string* text :
        {&data.m_strFileVersion, &data.m_strProductVersion, &data.m_strCompanyName, &data.m_strFileDescription,
            &data.m_strInternalName, &data.m_strLegalCopyright, &data.m_strOriginalFilename, &data.m_strProductName,
            &data.m_strComments, &data.m_strLegalTrademarks, &data.m_strPrivateBuild, &data.m_strSpecialBuild})
        *text = platform::escapeBytes(*text);
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"prints the version information of an ELF or PE file", "sorvinda-verinfo"};
    std::string file;
    std::string block = "040904b0";
    app.add_option("FILE", file, "the file to read")->required();
    app.add_option("BLOCK", block, "string block: language and code page (default 040904b0)")->check(BlockValidator());
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
            return app.exit(error);
        std::fprintf(stderr, "sorvinda-verinfo: %s\n", error.what());
        return kExitUsage;
    }
    const unsigned long value = std::strtoul(block.c_str(), nullptr, kHexBase);
    const auto language = static_cast<std::uint16_t>(value >> kCodePageBits);
    const auto codePage = static_cast<std::uint32_t>(value & kCodePageMask);

    CVFXVersionData data;
    bool read = false;
    {
        CVFXVersionInfo reader(codePage, language);
        read = reader.Read(data, file.c_str());
    }
    EscapeStrings(data);
    data.Show(true);
    if (!read)
        std::printf("\n");
    return read ? 0 : 1;
}
