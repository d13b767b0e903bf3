#include "platform/textescape.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

using namespace std::string_literals;

struct EscapeCase {
    const char* name;
    std::string bytes;
    std::string escaped;
};

class TextEscapeTest : public ::testing::TestWithParam<EscapeCase> { };

TEST_P(TextEscapeTest, EscapesAndReadsBack)
{
    const EscapeCase& c = GetParam();
    EXPECT_EQ(escapeBytes(c.bytes), c.escaped);
    EXPECT_EQ(unescapeBytes(c.escaped), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Table, TextEscapeTest,
    ::testing::Values(EscapeCase{"Plain", "Module Scan", "Module Scan"},
        EscapeCase{"TrailingNul", "Module Scan\0"s, "Module Scan\\x00"}, EscapeCase{"EmbeddedNul", "a\0b"s, "a\\x00b"},
        EscapeCase{"QuoteAndBackslash", "say \"hi\" \\", "say \\\"hi\\\" \\\\"},
        EscapeCase{"NewlineNeverRaw", "a\nb\r", "a\\x0Ab\\x0D"},
        EscapeCase{"HighBytes", "\xff\x80\x7f", "\\xFF\\x80\\x7F"}, EscapeCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextEscapeEveryByte, RoundTripsAllByteValues)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string escaped = escapeBytes(all);
    EXPECT_EQ(escaped.find('\n'), std::string::npos);
    EXPECT_EQ(unescapeBytes(escaped), all);
}

TEST(TextUnescape, AcceptsCommandLineShorthands)
{
    EXPECT_EQ(unescapeBytes("a\\0b\\n\\t\\r"), "a\0b\n\t\r"s);
    EXPECT_EQ(unescapeBytes("\\x4d\\x4D"), "MM");
}

TEST(TextUnescape, RefusesMalformedEscapes)
{
    for (const char* bad : {"\\", "abc\\", "\\q", "\\x", "\\x4", "\\xg0", "\\x0g", "end\\x1"})
        EXPECT_FALSE(unescapeBytes(bad).has_value()) << bad;
}

} // namespace
} // namespace platform
