#include "versioninfo/cvfxversiondata.h"

#include <gtest/gtest.h>

#include "versioninfo/cvfxpointer.h"

namespace {

CVFXVersionData filled()
{
    CVFXVersionData d;
    d.m_strFileName = "/opt/x/SorvindaConfig";
    d.m_wFileVersion = {1, 3, 1, 0};
    d.m_wProductVersion = {1, 3, 1, 1};
    d.m_strFileVersion = "FV";
    d.m_strProductVersion = "PV";
    d.m_strCompanyName = "CN";
    d.m_strFileDescription = "FD";
    d.m_strInternalName = "IN";
    d.m_strLegalCopyright = "LC";
    d.m_strOriginalFilename = "OF";
    d.m_strProductName = "PN";
    d.m_strComments = "CO";
    d.m_strLegalTrademarks = "LT";
    d.m_strPrivateBuild = "PB";
    d.m_strSpecialBuild = "SB";
    return d;
}

TEST(CVFXVersionData, ToStringUsesTheEstablishedLabels)
{
    EXPECT_EQ(filled().ToString(),
        "VS_VERSION_INFO for /opt/x/SorvindaConfig:\n\n"
        "FileVersion: FV\nProductVersion: PV\nCompanyName: CN\nFileDescription: FD\n"
        "InternalName: IN\nLegalCopyright: LC\nOriginalFileName: OF\nProductName: PN\n"
        "Comments CO\nLegalTradeMarks: LT\nPrivateBuild: PB\nSpecialBuild: SB\n");
}

TEST(CVFXVersionData, ANewRecordIsEmpty)
{
    const CVFXVersionData d;
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_EQ(d.ToString(), "No version information is available");
}

// Each member alone makes a record non-empty; Reset empties it again.
TEST(CVFXVersionData, EveryMemberCountsForIsEmpty)
{
    const std::vector<void (*)(CVFXVersionData&)> setters = {
        [](CVFXVersionData& d) { d.m_strFileName = "f"; },
        [](CVFXVersionData& d) { d.m_wFileVersion[3] = 1; },
        [](CVFXVersionData& d) { d.m_wProductVersion[0] = 1; },
        [](CVFXVersionData& d) { d.m_strFileVersion = "x"; },
        [](CVFXVersionData& d) { d.m_strProductVersion = "x"; },
        [](CVFXVersionData& d) { d.m_strCompanyName = "x"; },
        [](CVFXVersionData& d) { d.m_strFileDescription = "x"; },
        [](CVFXVersionData& d) { d.m_strInternalName = "x"; },
        [](CVFXVersionData& d) { d.m_strLegalCopyright = "x"; },
        [](CVFXVersionData& d) { d.m_strOriginalFilename = "x"; },
        [](CVFXVersionData& d) { d.m_strProductName = "x"; },
        [](CVFXVersionData& d) { d.m_strComments = "x"; },
        [](CVFXVersionData& d) { d.m_strLegalTrademarks = "x"; },
        [](CVFXVersionData& d) { d.m_strPrivateBuild = "x"; },
        [](CVFXVersionData& d) { d.m_strSpecialBuild = "x"; },
    };
    for (std::size_t i = 0; i < setters.size(); ++i) {
        CVFXVersionData d;
        setters[i](d);
        EXPECT_FALSE(d.IsEmpty()) << "member " << i;
        d.Reset();
        EXPECT_TRUE(d.IsEmpty()) << "member " << i;
    }
}

TEST(CVFXVersionData, CopyKeepsEveryMemberInItsOwnPlace)
{
    CVFXVersionData source = filled();
    source.m_strLegalTrademarks = "trademarks";
    source.m_strPrivateBuild = "private";
    CVFXVersionData target;
    target.Copy(source);
    EXPECT_EQ(target.m_strLegalTrademarks, "trademarks");
    EXPECT_EQ(target.m_strPrivateBuild, "private");
    EXPECT_EQ(target.ToString(), source.ToString());
    EXPECT_EQ(target.m_wFileVersion, source.m_wFileVersion);
    EXPECT_EQ(target.m_wProductVersion, source.m_wProductVersion);
}

std::string shown;
void recordShown(const std::string& text)
{
    shown = text;
}

TEST(CVFXVersionData, ShowGoesToStandardOutputOrTheMessageBox)
{
    const CVFXVersionData d = filled();
    testing::internal::CaptureStdout();
    d.Show(true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), d.ToString());

    shown.clear();
    CVFXVersionData::SetMessageBoxHook(&recordShown);
    testing::internal::CaptureStdout();
    d.Show(false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(shown, d.ToString());

    CVFXVersionData::SetMessageBoxHook(nullptr);
    shown.clear();
    testing::internal::CaptureStderr();
    d.Show(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), d.ToString() + "\n");
    EXPECT_EQ(shown, "");
}

TEST(CVFXPointer, OwnsFreesAndResets)
{
    // Leaks or double frees show under ASan.
    CVFXPointer owner(std::malloc(16), true);
    EXPECT_FALSE(owner.IsNull());
    void* next = std::malloc(8);
    owner.Reset(next);
    EXPECT_EQ(owner.Get(), next);
    owner.Reset(next); // the same buffer again: kept, not freed
    EXPECT_EQ(owner.Get(), next);

    char onStack[4];
    CVFXPointer borrower(onStack, false);
    borrower.Reset(nullptr); // not owned: not freed
    EXPECT_TRUE(borrower.IsNull());
}

} // namespace
