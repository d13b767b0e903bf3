// LogToFile: one formatted line appended per call.

#include "dhcp/logtofile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

class LogToFileTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path); }

    std::string Contents() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string path =
        (std::filesystem::temp_directory_path() / ("logtofile-" + std::to_string(::getpid()) + ".log")).string();
};

TEST_F(LogToFileTest, AppendsEveryLineToTheFile)
{
    ASSERT_TRUE(LogToFile(path.c_str(), "[RECV] DHCP_REQUEST "));
    ASSERT_TRUE(LogToFile(path.c_str(), "%d.%d.%d.%d\n", 10, 200, 1, 68));
    ASSERT_TRUE(LogToFile(path.c_str(), "%s", "second\n"));
    EXPECT_EQ(Contents(), "[RECV] DHCP_REQUEST 10.200.1.68\nsecond\n");
}

TEST_F(LogToFileTest, KeepsWhatTheFileHeldBefore)
{
    std::ofstream(path) << "earlier\n";
    ASSERT_TRUE(LogToFile(path.c_str(), "later\n"));
    EXPECT_EQ(Contents(), "earlier\nlater\n");
}

TEST_F(LogToFileTest, CutsALineAtItsBuffer)
{
    const std::string longText(3000, 'y');
    ASSERT_TRUE(LogToFile(path.c_str(), "%s", longText.c_str()));
    EXPECT_EQ(Contents(), std::string(kLogToFileLineSize - 1, 'y'));
}

TEST_F(LogToFileTest, DropsTheLineWhenTheFileCannotBeOpened)
{
    EXPECT_FALSE(LogToFile("/nonexistent-directory/dhcp.log", "line\n"));
    EXPECT_FALSE(LogToFile(std::filesystem::temp_directory_path().c_str(), "a directory\n"));
}

} // namespace
