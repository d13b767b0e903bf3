// The window's plain logic, without Qt and without libqort: control layout,
// sizing clamp, version line, the guard between the library's
// thread and the window, and the check of the library's version resource.

#include "app/controllayout.h"
#include "app/libraryversion.h"
#include "app/noticeguard.h"
#include "app/sizingclamp.h"
#include "app/versionline.h"
#include "protocol/qort.h"
#include "tests/versioninfo/testimage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

std::ostream& operator<<(std::ostream& os, const LayoutRect& r)
{
    return os << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

namespace {

// The main window's six controls at the template size in pixels (base units
// 6 x 13); the window records them in this order.
constexpr ClientExtent kClient{646, 300};
const struct {
    ControlAnchor anchor;
    LayoutRect rect;
} kControls[] = {{ControlAnchor::Stretch, {10, 11, 629, 261}}, {ControlAnchor::BottomLeft, {15, 268, 127, 291}},
    {ControlAnchor::BottomRight, {375, 268, 450, 291}}, {ControlAnchor::BottomRight, {286, 268, 361, 291}},
    {ControlAnchor::BottomRight, {465, 268, 540, 291}}, {ControlAnchor::BottomRight, {555, 268, 630, 291}}};

TEST(ControlLayout, ListStretchesAndButtonsFollowTheirCorner)
{
    CControlLayout layout;
    for (std::size_t i = 0; i < std::size(kControls); ++i)
        layout.Record(i, kControls[i].anchor, kControls[i].rect, kClient);
    const struct {
        int dx, dy;
    } growths[] = {{0, 0}, {100, 0}, {0, 50}, {100, 50}, {-496, -240}};
    for (const auto& g : growths) {
        for (std::size_t i = 0; i < std::size(kControls); ++i) {
            LayoutRect expected = kControls[i].rect;
            const bool stretch = kControls[i].anchor == ControlAnchor::Stretch;
            const bool right = kControls[i].anchor == ControlAnchor::BottomRight;
            expected.left += right ? g.dx : 0;
            expected.right += stretch || right ? g.dx : 0;
            expected.top += stretch ? 0 : g.dy;
            expected.bottom += g.dy;
            EXPECT_EQ(layout.Apply(i, kControls[i].anchor, {kClient.width + g.dx, kClient.height + g.dy}), expected)
                << "control " << i << " grown by " << g.dx << "," << g.dy;
        }
    }
    // Nothing recorded: placed from zeros; a slot outside the record is ignored.
    CControlLayout empty;
    EXPECT_EQ(empty.Apply(0, ControlAnchor::Stretch, {300, 200}), (LayoutRect{0, 0, 300, 200}));
    EXPECT_EQ(empty.Apply(1, ControlAnchor::BottomLeft, {300, 200}), (LayoutRect{0, 200, 0, 200}));
    EXPECT_EQ(empty.Apply(2, ControlAnchor::BottomRight, {300, 200}), (LayoutRect{300, 200, 300, 200}));
    empty.Record(CControlLayout::kMaxControls, ControlAnchor::Stretch, {1, 2, 3, 4}, {10, 10});
    EXPECT_EQ(empty.Apply(CControlLayout::kMaxControls, ControlAnchor::Stretch, {10, 10}), LayoutRect{});
    EXPECT_EQ(ResolveFarEdge(FarEdgeRule::FromClientEdge, 646, 10, 17), 629);
    EXPECT_EQ(ResolveFarEdge(FarEdgeRule::FromNearEdge, 646, 15, 112), 127);
    EXPECT_EQ(ResolveFarEdge(FarEdgeRule::FromClientEdge, 5, 10, 17), -12);
}

TEST(SizingClamp, HoldsBackOnlyTheDraggedEdges)
{
    // The opposite corner is at (1000, 800) for left/top drags and at
    // (100, 50) for right/bottom ones; the minimum is 194 x 130.
    const struct {
        SizingEdge edge;
        LayoutRect proposed, expected;
    } rows[] = {{SizingEdge::Left, {990, 50, 1000, 800}, {806, 50, 1000, 800}},
        {SizingEdge::Right, {100, 50, 110, 800}, {100, 50, 294, 800}},
        {SizingEdge::Top, {100, 780, 1000, 800}, {100, 670, 1000, 800}},
        {SizingEdge::Bottom, {100, 50, 1000, 70}, {100, 50, 1000, 180}},
        {SizingEdge::TopLeft, {990, 780, 1000, 800}, {806, 670, 1000, 800}},
        {SizingEdge::TopRight, {100, 780, 110, 800}, {100, 670, 294, 800}},
        {SizingEdge::BottomLeft, {990, 50, 1000, 70}, {806, 50, 1000, 180}},
        {SizingEdge::BottomRight, {100, 50, 110, 70}, {100, 50, 294, 180}},
        {SizingEdge::BottomRight, {0, 0, 194, 130}, {0, 0, 194, 130}},
        {SizingEdge::Left, {1, 0, 194, 130}, {0, 0, 194, 130}}, {SizingEdge::Top, {0, 1, 194, 130}, {0, 0, 194, 130}},
        {SizingEdge::TopLeft, {-5000, -5000, 5000, 5000}, {-5000, -5000, 5000, 5000}},
        {SizingEdge::Right, {500, 500, 400, 400}, {500, 500, 694, 630}}};
    for (const auto& r : rows)
        EXPECT_EQ(ClampSizingRect(r.edge, r.proposed), r.expected) << "edge " << int(r.edge) << " " << r.proposed;
}

TEST(VersionLine, CommasBecomeDotsAndSpacesGo)
{
    const struct {
        const char* productVersion;
        const char* line;
    } rows[] = {{"1, 3, 1, 0", "Version: 1.3.1.0"}, {"2,0", "Version: 2.0"}, {"1.3 beta", "Version: 1.3beta"},
        {"", "Version: "}, {"   ", "Version: "}, {"1,\t3", "Version: 1.\t3"}};
    for (const auto& r : rows)
        EXPECT_EQ(FormatVersionLine(r.productVersion), r.line);
}

TEST(NoticeGuard, DeliversInOrderOnlyWhileAWindowIsAttachedAndMergesReplyNotices)
{
    CNoticeGuard guard;
    EXPECT_FALSE(guard.Deliver(1));
    std::vector<int> seen;
    guard.Attach([&seen](int code) { seen.push_back(code); });
    EXPECT_TRUE(guard.Deliver(1));
    EXPECT_TRUE(guard.Deliver(3));
    EXPECT_TRUE(guard.Deliver(2));
    // Scan-reply notices (1) merge into the pending one until the window takes it.
    EXPECT_TRUE(guard.Deliver(1));
    EXPECT_TRUE(guard.Deliver(3));
    guard.TakeCoalesced();
    EXPECT_TRUE(guard.Deliver(1));
    guard.Detach();
    EXPECT_FALSE(guard.Deliver(4));
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 2, 3, 1}));
}

// The window must never be used after its destructor detached it, however
// the library's thread interleaves; ASan and TSan see any use after reset.
TEST(NoticeGuard, AWindowDestroyedWhileTheLibraryDeliversIsNeverUsedAfterwards)
{
    struct Window {
        std::atomic<int> received{0};
    };
    for (int round = 0; round < 50; ++round) {
        CNoticeGuard guard;
        auto window = std::make_unique<Window>();
        Window* target = window.get();
        guard.Attach([target](int) { target->received.fetch_add(1, std::memory_order_relaxed); });
        std::atomic<bool> stop{false};
        std::atomic<int> delivered{0};
        std::thread library([&] {
            while (!stop.load())
                delivered += guard.Deliver(QORT_CB_RECONFIGURED) ? 1 : 0; // posted one by one
        });
        while (delivered.load() < 10)
            std::this_thread::yield();
        guard.Detach();
        const int atDetach = window->received.load();
        window.reset();
        stop = true;
        library.join();
        EXPECT_EQ(delivered.load(), atDetach) << "a delivery reached the window after it was detached";
    }
}

constexpr int kUntouched = 7; // a failed split leaves the numbers it did not reach

TEST(LibraryVersion, AcceptsOnlyFileVersionOneOne)
{
    const std::string longVersion = "1.1." + std::string(296, '9');
    const struct {
        std::string fileVersion;
        bool accepted, read;
        int major, minor, build;
    } rows[] = {// The delivered text: the '.' split finds one token and fails; the ',' split succeeds.
        {"1, 1, 2, 0", true, true, 1, 1, 2}, {"1.1.0.5", true, true, 1, 1, 0}, {"1.2.0.0", false, true, 1, 2, 0},
        {"2.0.0.0", false, true, 2, 0, 0}, {"1, 10, 0, 0", false, true, 1, 10, 0},
        {"1.1", true, false, 1, 1, kUntouched}, {"1,1", true, false, 1, 1, kUntouched},
        {"", false, false, kUntouched, kUntouched, kUntouched}, {"a.b.c", false, true, 0, 0, 0},
        {"..1...1..9..", true, true, 1, 1, 9}, {" +1. -1.3", false, true, 1, -1, 3},
        {"1.99999999999999999999.3", false, true, 1, INT_MAX, 3},
        {"1.-99999999999999999999.3", false, true, 1, INT_MIN, 3}, {longVersion, true, true, 1, 1, INT_MAX}};
    testimage::ScratchDirectory scratch;
    for (const auto& r : rows) {
        const auto file = scratch.write("libqort.so",
            testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion(r.fileVersion))));
        CLibraryVersion check;
        int major = kUntouched, minor = kUntouched, build = kUntouched;
        SCOPED_TRACE(r.fileVersion.substr(0, 30));
        EXPECT_EQ(check.ReadVersionNumbers(file.c_str(), major, minor, build), r.read);
        EXPECT_EQ(std::vector<int>({major, minor, build}), std::vector<int>({r.major, r.minor, r.build}));
        EXPECT_EQ(check.IsAcceptedLibrary(file.c_str()), r.accepted);
    }
    // A text of 256 or more characters is cut to 255.
    const auto file = scratch.write(
        "long.so", testimage::elfWithSection(testimage::encode(testimage::declarationWithFileVersion(longVersion))));
    char text[CLibraryVersion::kVersionTextSize];
    std::memset(text, 'X', sizeof text);
    ASSERT_TRUE(CLibraryVersion().ReadFileVersionString(file.c_str(), text));
    EXPECT_EQ(std::string(text), longVersion.substr(0, 255));
}

TEST(LibraryVersion, TheBlockIsTheOnlyTranslationOrTheUsersLanguage)
{
    char text[CLibraryVersion::kVersionTextSize];
    // One translation (0x0407/0x04B0) names the block, whatever the user's language.
    ASSERT_TRUE(CLibraryVersion().ReadFileVersionString(testimage::fixture("other_block-pe32.exe").c_str(), text));
    EXPECT_STREQ(text, "3, 4, 5, 6");
    // Two: the user's default language with code page 04B0. English finds
    // "1, 1, 2, 0", German "2, 0, 0, 0" (also for a locale known only by its
    // language), French nothing.
    const char* const old = std::getenv("LC_ALL");
    const std::string saved = old ? old : "";
    const struct {
        const char* locale;
        bool accepted;
    } rows[] = {{"en_US.UTF-8", true}, {"C", true}, {"de_DE.UTF-8", false}, {"de_LU.UTF-8", false}, {"de", false},
        {"fr_FR.UTF-8", false}};
    for (const auto& r : rows) {
        ::setenv("LC_ALL", r.locale, 1);
        for (const char* fixture : {"two_translations-pe32.exe", "two_translations-pe64.exe"})
            EXPECT_EQ(CLibraryVersion().IsAcceptedLibrary(testimage::fixture(fixture).c_str()), r.accepted)
                << fixture << " " << r.locale;
    }
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    testimage::ScratchDirectory scratch;
    const auto otherBlockOnly =
        scratch.write("libqort.so", testimage::elfWithSection(testimage::encode(R"(1 VERSIONINFO BEGIN
        BLOCK "StringFileInfo" BEGIN BLOCK "040704B0" BEGIN VALUE "FileVersion", "1, 1, 2, 0" END END
        BLOCK "VarFileInfo" BEGIN VALUE "Translation", 0x407, 1200, 0x409, 1200 END END)")));
    EXPECT_FALSE(CLibraryVersion().IsAcceptedLibrary(otherBlockOnly.c_str()));
    if (old)
        ::setenv("LC_ALL", saved.c_str(), 1);
    else
        ::unsetenv("LC_ALL");
}

TEST(LibraryVersion, FilesWithoutAVersionAreRefusedAndOnlyTheLibraryNameIsResolved)
{
    testimage::ScratchDirectory scratch;
    for (const std::string& file :
        {(scratch.path() / "missing.so").string(), scratch.write("junk.so", {1, 2, 3}).string(),
            testimage::fixture("no_version-pe64.exe").string(), testimage::fixture("plain-pe64.exe").string()}) {
        int major = 1, minor = 1, build = 1;
        EXPECT_FALSE(CLibraryVersion().ReadVersionNumbers(file.c_str(), major, minor, build)) << file;
        EXPECT_EQ(major, 1) << file;
        EXPECT_FALSE(CLibraryVersion().IsAcceptedLibrary(file.c_str())) << file;
    }
    // The split writes NULs over the separators in place.
    char text[] = "1.1";
    int major = 0, minor = 0, build = 0;
    EXPECT_FALSE(CLibraryVersion().SplitVersionString(text, major, minor, build, '.'));
    EXPECT_EQ(std::string(text, 3), std::string("1\0001", 3));
    EXPECT_FALSE(CLibraryVersion().SplitVersionString(nullptr, major, minor, build, '.'));
    EXPECT_EQ(CLibraryVersion::ResolveFileName("/some/other.so"), "/some/other.so");
    EXPECT_EQ(CLibraryVersion::ResolveFileName(nullptr), "");
    // This program has not loaded libqort: the name stays, names no file, and is refused.
    EXPECT_EQ(CLibraryVersion::ResolveFileName(CLibraryVersion::kLibraryFileName), "qort.dll");
    EXPECT_FALSE(CLibraryVersion().IsAcceptedLibrary());
}

} // namespace
