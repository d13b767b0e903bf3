// The check against the libqort this program was linked with: "qort.dll"
// must name the file the dynamic loader bound. Loading libqort binds its
// UDP port, so this runs in an isolated network.
#include "app/libraryversion.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "protocol/qort.h"

namespace {

TEST(LoadedLibrary, TheLibraryNameIsTheLoadedLibqort)
{
    // A real call, so that the linker keeps libqort as a dependency; it
    // reports the same version as the file's resource.
    DLLVERSIONINFO info{};
    ASSERT_EQ(DllGetVersion(&info), 0);
    EXPECT_EQ(info.dwMajorVersion, 1u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    const std::string resolved = CLibraryVersion::ResolveFileName(CLibraryVersion::kLibraryFileName);
    EXPECT_EQ(std::filesystem::path(resolved), std::filesystem::canonical(SORVINDA_QORT_FILE));

    CLibraryVersion check;
    int major = 0, minor = 0, build = 0;
    EXPECT_TRUE(check.ReadVersionNumbers(CLibraryVersion::kLibraryFileName, major, minor, build));
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 1);
    EXPECT_EQ(build, 2);
    EXPECT_TRUE(check.IsAcceptedLibrary());
}

} // namespace
