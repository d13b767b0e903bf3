// --version: the program's and the library's version, each read from the
// version resource of the file that is actually running or loaded.
#include "cli/commands.h"
#include "cli/qortlibrary.h"
#include "platform/modulepath.h"
#include "versioninfo/cvfxversioninfo.h"

#include <cstdio>

namespace cli {
namespace {

// "1.3.1.0" from the fixed part of the file's version resource, or nothing.
std::optional<std::string> FileVersion(const char* path)
{
    CVFXVersionData data;
    CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    if (!reader.Read(data, path))
        return std::nullopt;
    std::string text;
    for (std::uint16_t part : data.m_wFileVersion)
        text += (text.empty() ? "" : ".") + std::to_string(part);
    return text;
}

void PrintVersion(const char* name, const std::optional<std::string>& version, const std::string& path)
{
    std::printf("%s %s (%s)\n", name, version ? version->c_str() : "without version information", path.c_str());
}

} // namespace

int PrintVersions()
{
    PrintVersion("sorvinda", FileVersion(nullptr), platform::modulePath().value_or("sorvinda"));
    std::string error;
    const std::optional<QortLibrary> library = QortLibrary::load(error);
    if (!library) {
        Complain("cannot load libqort: " + error);
        return kExitFailed;
    }
    PrintVersion("libqort", FileVersion(library->path.c_str()), library->path);
    return kExitOk;
}

} // namespace cli
