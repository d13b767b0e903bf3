// The built SorvindaConfig file itself carries the version resource its
// About box shows: reading the file, not a stand-in built from the same
// declaration, catches a build that forgot to stamp the program.
#include "versioninfo/cvfxversiondata.h"
#include "versioninfo/cvfxversioninfo.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

TEST(ProgramVersion, TheBuiltProgramCarriesItsVersionResource)
{
    const char* binDir = std::getenv("SORVINDA_BIN_DIR");
    ASSERT_NE(binDir, nullptr) << "SORVINDA_BIN_DIR is not set (run through ctest)";
    const std::string program = std::string(binDir) + "/SorvindaConfig";

    CVFXVersionData data;
    CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    ASSERT_TRUE(reader.Read(data, program.c_str())) << program;
    EXPECT_EQ(data.m_wFileVersion, (std::array<std::uint16_t, 4>{1, 3, 1, 0}));
    EXPECT_EQ(data.m_wProductVersion, (std::array<std::uint16_t, 4>{1, 3, 1, 0}));
    EXPECT_EQ(data.m_strFileVersion, "1, 3, 1, 0");
    EXPECT_EQ(data.m_strProductVersion, "1, 3, 1, 0");
    EXPECT_EQ(data.m_strProductName, "SorvindaConfig");
}
