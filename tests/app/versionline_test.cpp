#include "app/versionline.h"

#include <gtest/gtest.h>

namespace {

struct LineCase {
    const char* name;
    const char* productVersion;
    const char* line;
};

const LineCase kCases[] = {
    {"Delivered", "1, 3, 1, 0", "Version: 1.3.1.0"},
    {"CommaOnly", "2,0", "Version: 2.0"},
    {"SpacesInsideWords", "1.3 beta", "Version: 1.3beta"},
    {"Empty", "", "Version: "},
    {"OnlySpaces", "   ", "Version: "},
    {"TabsStay", "1,\t3", "Version: 1.\t3"},
};

class VersionLineTest : public ::testing::TestWithParam<LineCase> { };

TEST_P(VersionLineTest, Formats)
{
    EXPECT_EQ(FormatVersionLine(GetParam().productVersion), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(ProductVersions, VersionLineTest, ::testing::ValuesIn(kCases),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
