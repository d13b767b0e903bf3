#include "app/libraryversion.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/modulepath.h"
#include "platform/threadlocale.h"
#include "platform/versionfile.h"

namespace {

constexpr char kLibraryEntrySymbol[] = "QORT_Start";
constexpr char kTranslationPath[] = "\\VarFileInfo\\Translation";
constexpr std::uint32_t kOneTranslationSize = 4; // one language word and one code-page word
constexpr std::size_t kPathSize = 256;

// atoi's reading (leading blanks, optional sign, digits up to the first
// other character, none gives 0), but clamped to int's range: atoi's
// behaviour on overflow is undefined.
int asciiToInt(const char* text)
{
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

CLibraryVersion::~CLibraryVersion() = default;

std::string CLibraryVersion::ResolveFileName(const char* fileName)
{
    if (fileName == nullptr)
        return {};
    if (std::strcmp(fileName, kLibraryFileName) == 0) {
        if (const auto loaded = platform::modulePathOfSymbol(kLibraryEntrySymbol))
            return *loaded;
    }
    return fileName;
}

bool CLibraryVersion::IsAcceptedLibrary(const char* fileName)
{
    int major = 0, minor = 0, build = 0;
    ReadVersionNumbers(fileName, major, minor, build);
    return major == kAcceptedMajor && minor == kAcceptedMinor;
}

bool CLibraryVersion::ReadVersionNumbers(const char* fileName, int& major, int& minor, int& build)
{
    char text[kVersionTextSize];
    if (!ReadFileVersionString(fileName, text))
        return false;
    if (SplitVersionString(text, major, minor, build, '.'))
        return true;
    // The '.' split has cut the text after its first token, if it found one:
    // the ',' split sees only that part, e.g. all of "1, 1, 2, 0".
    return SplitVersionString(text, major, minor, build, ',');
}

bool CLibraryVersion::ReadFileVersionString(const char* fileName, char* out)
{
    if (out == nullptr)
        return false;
    const std::string path = ResolveFileName(fileName);
    const std::uint32_t size = platform::fileVersionInfoSize(path.c_str());
    if (size == 0)
        return false;
    void* block = std::malloc(std::size_t{size} + 1);
    if (block == nullptr)
        return false;
    if (!platform::readFileVersionInfo(path.c_str(), size, block)) {
        std::free(block);
        return false;
    }

    char key[kPathSize];
    void* translation = nullptr;
    std::uint32_t translationSize = 0;
    if (platform::queryVersionValue(block, kTranslationPath, &translation, &translationSize)
        && translationSize == kOneTranslationSize) {
        const auto* bytes = static_cast<const unsigned char*>(translation);
        const unsigned language = bytes[0] | (bytes[1] << 8);
        const unsigned codePage = bytes[2] | (bytes[3] << 8);
        // The key's size is fixed by its format: the count is not needed.
        static_cast<void>(std::snprintf(key, sizeof key, "\\StringFileInfo\\%02X%02X%02X%02X\\FileVersion",
            language >> 8, language & 0xFF, codePage >> 8, codePage & 0xFF));
    } else {
        static_cast<void>(std::snprintf(
            key, sizeof key, "\\StringFileInfo\\%04X04B0\\FileVersion", unsigned{platform::userDefaultLangId()}));
    }

    void* value = nullptr;
    std::uint32_t length = 0;
    if (!platform::queryVersionValue(block, key, &value, &length)) {
        std::free(block);
        return false;
    }
    // length counts the terminating NUL; a value of 256 or more is cut to
    // its first 255 characters.
    const std::size_t copied = length < kVersionTextSize ? length : kVersionTextSize - 1;
    std::memcpy(out, value, copied);
    out[copied] = '\0';
    std::free(block);
    return true;
}

bool CLibraryVersion::SplitVersionString(char* text, int& major, int& minor, int& build, char separator)
{
    if (text == nullptr)
        return false;
    const char separators[] = {separator, '\0'};
    char* state = nullptr;
    int* const numbers[] = {&major, &minor, &build};
    char* from = text;
    for (int* number : numbers) {
        const char* token = ::strtok_r(from, separators, &state);
        if (token == nullptr)
            return false;
        *number = asciiToInt(token);
        from = nullptr;
    }
    return true;
}
