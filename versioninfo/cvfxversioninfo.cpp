#include "versioninfo/cvfxversioninfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/versionfile.h"
#include "versioninfo/cvfxmodule.h"
#include "versioninfo/cvfxpointer.h"

namespace {

constexpr char kFixedInfoPath[] = "\\";
constexpr char kWhiteSpace[] = " \t\n\v\f\r";

// VS_FIXEDFILEINFO: signature, structure version, then these double words.
constexpr std::size_t kFileVersionMs = 8;
constexpr std::size_t kFileVersionLs = 12;
constexpr std::size_t kProductVersionMs = 16;
constexpr std::size_t kProductVersionLs = 20;

std::uint32_t littleEndian32(const void* base, std::size_t offset)
{
    const auto* bytes = static_cast<const unsigned char*>(base) + offset;
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void splitVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant, std::array<std::uint16_t, 4>& out)
{
    out = {static_cast<std::uint16_t>(mostSignificant >> 16), static_cast<std::uint16_t>(mostSignificant),
        static_cast<std::uint16_t>(leastSignificant >> 16), static_cast<std::uint16_t>(leastSignificant)};
}

std::string trimmed(const char* text)
{
    std::string name = text != nullptr ? text : "";
    const std::size_t first = name.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos)
        return {};
    const std::size_t last = name.find_last_not_of(kWhiteSpace);
    return name.substr(first, last - first + 1);
}

// Length of the longest prefix of text (length bytes) that is at most limit
// bytes and does not end inside a UTF-8 sequence.
std::size_t utf8Prefix(const char* text, std::size_t length, std::size_t limit)
{
    if (length <= limit)
        return length;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

} // namespace

CVFXVersionInfo::CVFXVersionInfo(std::uint32_t codePage, std::uint16_t language)
    : m_wLanguage(language)
    , m_dwCodePage(codePage)
{
    const platform::Lcid wanted = platform::makeLcid(language);
    m_lcidUsed = platform::isLocaleInstalled(wanted) ? wanted : platform::threadLocale();
    m_lcidSaved = platform::threadLocale();
    if (!platform::setThreadLocale(m_lcidUsed))
        platform::setThreadLocale(m_lcidSaved);
}

CVFXVersionInfo::~CVFXVersionInfo()
{
    platform::setThreadLocale(m_lcidSaved);
}

std::uint32_t CVFXVersionInfo::GetInfoSize(const char* fileName) const
{
    return platform::fileVersionInfoSize(fileName);
}

bool CVFXVersionInfo::GetInfo(const char* fileName, std::uint32_t size, void* buffer) const
{
    return platform::readFileVersionInfo(fileName, size, buffer);
}

bool CVFXVersionInfo::QueryString(void* block, const char* key, char* out, std::size_t outSize) const
{
    if (out == nullptr || outSize == 0)
        return false;
    std::memset(out, 0, outSize);
    if (block == nullptr || key == nullptr)
        return false;

    char path[kPathSize];
    const int written = std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", unsigned{m_wLanguage},
        static_cast<unsigned>(m_dwCodePage), key);
    // A cut path could name another key.
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof path)
        return false;

    void* value = nullptr;
    std::uint32_t length = 0;
    if (!platform::queryVersionValue(block, path, &value, &length) || value == nullptr || length == 0)
        return false;
    const auto* text = static_cast<const char*>(value);
    if (std::memchr(text, '\0', length) == nullptr)
        return false; // not a string that ends inside its value
    const std::size_t textLength = std::strlen(text);
    std::memcpy(out, text, utf8Prefix(text, textLength, outSize - 1));
    return true;
}

bool CVFXVersionInfo::Read(CVFXVersionData& data, const char* fileName)
{
    data.Reset();
    std::string name = trimmed(fileName);
    if (name.empty()) {
        if (!CVFXModule::GetModulePath(name))
            return false;
    } else {
        std::error_code error;
        if (!std::filesystem::exists(name, error))
            return false;
    }

    const std::uint32_t size = GetInfoSize(name.c_str());
    if (size == 0)
        return false;
    CVFXPointer buffer(std::malloc(size), true);
    if (buffer.IsNull())
        return false;
    if (!GetInfo(name.c_str(), size, buffer.Get()))
        return false;

    void* fixed = nullptr;
    std::uint32_t fixedLength = 0;
    if (!platform::queryVersionValue(buffer.Get(), kFixedInfoPath, &fixed, &fixedLength))
        return false;

    data.m_strFileName = name;
    splitVersion(littleEndian32(fixed, kFileVersionMs), littleEndian32(fixed, kFileVersionLs), data.m_wFileVersion);
    splitVersion(
        littleEndian32(fixed, kProductVersionMs), littleEndian32(fixed, kProductVersionLs), data.m_wProductVersion);

    const struct {
        const char* key;
        std::string* text;
    } strings[] = {
        {"ProductVersion", &data.m_strProductVersion},
        {"FileVersion", &data.m_strFileVersion},
        {"CompanyName", &data.m_strCompanyName},
        {"FileDescription", &data.m_strFileDescription},
        {"InternalName", &data.m_strInternalName},
        {"LegalCopyright", &data.m_strLegalCopyright},
        {"OriginalFilename", &data.m_strOriginalFilename},
        {"ProductName", &data.m_strProductName},
        {"Comments", &data.m_strComments},
        {"LegalTrademarks", &data.m_strLegalTrademarks},
        {"PrivateBuild", &data.m_strPrivateBuild},
        {"SpecialBuild", &data.m_strSpecialBuild},
    };
    for (const auto& entry : strings) {
        char text[kStringSize];
        if (QueryString(buffer.Get(), entry.key, text, sizeof text))
            *entry.text = text;
    }
    return true;
}
