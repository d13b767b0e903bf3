// The version resources the build gives the two deliverables, read back from
// the files: libqort (read as a file, not loaded) and this test program,
// which carries the windowed program's declaration.
#include <cstring>

#include <gtest/gtest.h>

#include "platform/versionfile.h"
#include "versioninfo/cvfxversioninfo.h"

namespace {

constexpr std::size_t kFixedFileOs = 32;
constexpr std::size_t kFixedFileType = 36;
constexpr std::uint32_t kOsWindows32 = 4;
constexpr std::uint32_t kTypeApplication = 1;
constexpr std::uint32_t kTypeDll = 2;

struct Raw {
    std::vector<std::uint8_t> buffer;
    std::uint32_t fixed(std::size_t offset)
    {
        void* value = nullptr;
        std::uint32_t length = 0;
        EXPECT_TRUE(platform::queryVersionValue(buffer.data(), "\\", &value, &length));
        std::uint32_t result = 0;
        if (value != nullptr)
            std::memcpy(&result, static_cast<std::uint8_t*>(value) + offset, sizeof result);
        return result;
    }
    std::vector<std::uint8_t> translation()
    {
        void* value = nullptr;
        std::uint32_t length = 0;
        if (!platform::queryVersionValue(buffer.data(), "\\VarFileInfo\\Translation", &value, &length))
            return {};
        const auto* bytes = static_cast<std::uint8_t*>(value);
        return {bytes, bytes + length};
    }
};

Raw rawOf(const char* file)
{
    Raw raw;
    raw.buffer.resize(platform::fileVersionInfoSize(file));
    EXPECT_FALSE(raw.buffer.empty()) << file;
    if (!raw.buffer.empty()) {
        EXPECT_TRUE(
            platform::readFileVersionInfo(file, static_cast<std::uint32_t>(raw.buffer.size()), raw.buffer.data()));
    }
    return raw;
}

#ifdef SORVINDA_QORT_FILE
TEST(Deliverables, LibqortCarriesItsVersionResource)
{
    CVFXVersionData data;
    CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    ASSERT_TRUE(reader.Read(data, SORVINDA_QORT_FILE));
    EXPECT_EQ(data.m_wFileVersion, (std::array<std::uint16_t, 4>{1, 1, 2, 0}));
    EXPECT_EQ(data.m_wProductVersion, (std::array<std::uint16_t, 4>{1, 1, 2, 0}));
    EXPECT_EQ(data.m_strFileVersion, "1, 1, 2, 0");
    EXPECT_EQ(data.m_strProductVersion, "1, 1, 2, 0");
    EXPECT_EQ(data.m_strFileDescription, "qort dll");
    EXPECT_EQ(data.m_strOriginalFilename, "qort.dll");

    Raw raw = rawOf(SORVINDA_QORT_FILE);
    EXPECT_EQ(raw.fixed(kFixedFileType), kTypeDll);
    EXPECT_EQ(raw.fixed(kFixedFileOs), kOsWindows32);
    EXPECT_EQ(raw.translation(), (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04}));
    // The block is named in upper case; look-ups ignore case either way.
    void* value = nullptr;
    std::uint32_t length = 0;
    EXPECT_TRUE(
        platform::queryVersionValue(raw.buffer.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
}
#endif

TEST(Deliverables, TheProgramCarriesItsVersionResource)
{
    CVFXVersionData data;
    CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    ASSERT_TRUE(reader.Read(data, nullptr));
    EXPECT_EQ(data.m_wFileVersion, (std::array<std::uint16_t, 4>{1, 3, 1, 0}));
    EXPECT_EQ(data.m_wProductVersion, (std::array<std::uint16_t, 4>{1, 3, 1, 0}));
    EXPECT_EQ(data.m_strFileVersion, "1, 3, 1, 0");
    EXPECT_EQ(data.m_strProductVersion, "1, 3, 1, 0");
    EXPECT_EQ(data.m_strFileDescription, "Sorvinda Config");
    EXPECT_EQ(data.m_strInternalName, "Sorvinda Config");
    EXPECT_EQ(data.m_strOriginalFilename, "SorvindaConfig.exe");
    EXPECT_EQ(data.m_strProductName, "SorvindaConfig");
    EXPECT_FALSE(data.m_strCompanyName.empty());
    EXPECT_FALSE(data.m_strLegalCopyright.empty());
    EXPECT_EQ(data.m_strComments, "");
    EXPECT_EQ(data.m_strLegalTrademarks, "");
    EXPECT_EQ(data.m_strPrivateBuild, "");
    EXPECT_EQ(data.m_strSpecialBuild, "");

    Raw raw = rawOf("/proc/self/exe");
    EXPECT_EQ(raw.fixed(kFixedFileType), kTypeApplication);
    EXPECT_EQ(raw.fixed(kFixedFileOs), kOsWindows32);
    EXPECT_EQ(raw.translation(), (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04}));
}

} // namespace
