// The device list as the user sees it: columns, rows, duplicates, column
// clicks, selection across re-sorts, double-clicks, the sort arrow's
// painted pixels and geometry, and its texts for people: the placeholder of an empty
// list, Copy of the selected row and the CSV export.

#include "commissioning/planfile.h"
#include "commissioning/scanwarnings.h"
#include "devicelist/devicelistctrl.h"
#include "devicelist/devicelistmodel.h"
#include "devicelist/sortarrowgeometry.h"
#include "devicelist/sortarrowheaderctrl.h"
#include "modules/columnspec.h"
#include "modules/columntexts.h"
#include "tests/modules/records.h"
#include "tests/support/qtgtest.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>

#include <array>
#include <optional>

#include <gtest/gtest.h>

namespace {

using namespace devicelist;
using testrecords::Address;
using testrecords::Record;

TEST(SortArrowGeometry, TextBoxMarginsAndLines)
{
    constexpr PixelRect heading{0, 0, 90, 20}; // margin unit 5
    EXPECT_EQ(HeadingTextRect(heading, false, true), (PixelRect{5, 0, 70, 20}));
    EXPECT_EQ(HeadingTextRect(heading, false, false), (PixelRect{5, 0, 85, 20}));
    EXPECT_EQ(HeadingTextRect(heading, true, true), (PixelRect{6, 2, 71, 20}));
    EXPECT_EQ(HeadingMarginUnit(PixelRect{0, 0, 50, 23}), 5);
    EXPECT_EQ(HeadingMarginUnit(PixelRect{0, 5, 50, 2}), 0); // -3 / 4 truncates toward zero
    EXPECT_EQ(SortArrowLines(PixelRect{90, 0, 180, 20}, true).light.front(), (PixelPoint{170, 5}));
    const struct {
        PixelPoint from, to;
        std::vector<PixelPoint> pixels; // start included, end excluded
    } rows[] = {{{3, 3}, {3, 3}, {}}, {{85, 14}, {81, 14}, {{85, 14}, {84, 14}, {83, 14}, {82, 14}}},
        {{0, 3}, {0, 0}, {{0, 3}, {0, 2}, {0, 1}}}, {{3, 0}, {0, 3}, {{3, 0}, {2, 1}, {1, 2}}},
        {{1, 0}, {4, 0}, {{1, 0}, {2, 0}, {3, 0}}}, {{0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}}};
    for (const auto& r : rows)
        EXPECT_EQ(RasterizeLine(r.from, r.to), r.pixels) << r.from.x << "," << r.from.y;
    EXPECT_EQ(RasterizePolyline({{0, 0}, {2, 0}, {2, 2}}), (std::vector<PixelPoint>{{0, 0}, {1, 0}, {2, 0}, {2, 1}}));
    EXPECT_TRUE(RasterizePolyline({{1, 1}}).empty());
}

class DeviceListCtrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        list.resize(800, 300);
        ASSERT_TRUE(list.InitColumns(modules::kDeviceListColumnSpec));
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }
    // IP order: 9.255.255.255 (MAC ..-02), 10.0.0.2 (..-03), 10.0.0.10 (..-01).
    void AddThreeModules()
    {
        list.AddModule(Record().Mac(0x03).Ip(Address(10, 0, 0, 2)).Type("PROFINET"));
        list.AddModule(Record().Mac(0x01).Ip(Address(10, 0, 0, 10)).Type("Modbus"));
        list.AddModule(Record().Mac(0x02).Ip(Address(9, 255, 255, 255)).Type("EtherCAT"));
    }
    QStringList Column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < list.GetItemCount(); ++row)
            texts << list.GetItemText(row, column);
        return texts;
    }
    void ClickHeading(int column)
    {
        QHeaderView* header = list.header();
        const QPoint at(
            header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    QPoint Cell(int row, int column) const { return list.visualRect(list.model()->index(row, column)).center(); }
    CDeviceListCtrl list;
};

TEST_F(DeviceListCtrlTest, ColumnsAndRowsAsShown)
{
    const QStringList headings = {"IP", "SN", "GW", "DHCP", "Version", "Type", "MAC"};
    const int widths[] = {90, 90, 90, 50, 50, 114, 115};
    ASSERT_EQ(list.model()->columnCount(), 7);
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(list.model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
        EXPECT_EQ(list.header()->sectionSize(column), widths[column]);
    }
    EXPECT_FALSE(list.GetHeaderCtrl()->IsOwnerDrawn(0));
    list.AddModule(Record().Ip(Address(10, 0, 0, 1))); // no MAC: no row, but the arrow shows
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.GetRowMac(-1), std::nullopt);
    EXPECT_EQ(list.GetLastConfiguredMac(), std::nullopt);
    EXPECT_TRUE(list.GetHeaderCtrl()->IsOwnerDrawn(0));
    EXPECT_TRUE(list.GetHeaderCtrl()->IsAscending());
    list.AddModule(Record().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F));
    EXPECT_EQ(Column(modules::kColumnMac), QStringList{"00-30-11-0A-BC-0F"});
    for (int column = 0; column < modules::kColumnMac; ++column)
        EXPECT_EQ(list.GetItemText(0, column), QString("N/A"));
    list.AddModule(Record().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F).Ip(7)); // the same module again: ignored
    list.AddModule(Record().MacBytesOnly(0x00, 0x30, 0x11, 0, 0, 7).Ip(1)); // no MAC: stored without a row,
    list.AddModule(Record().Mac(0x00, 0x30, 0x11, 0, 0, 7).Ip(2));          // yet its bytes block a later reply
    EXPECT_EQ(Column(modules::kColumnIp), QStringList{"N/A"});
    list.AddModule(Record().Mac(0x01, 0x30, 0x11, 0x0A, 0xBC, 0x0F).Ip(3)); // all six bytes count
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_FALSE(list.FindModule({0x00, 0x30, 0x11, 0x00, 0x00, 0x06}).has_value());
    list.ClearModules();
    list.AddModule(Record().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F).Ip(7)); // known again after a clear
    EXPECT_EQ(Column(modules::kColumnIp), QStringList{"0.0.0.7"});
    CDeviceListCtrl narrow;
    ASSERT_TRUE(narrow.InitColumns("IP,90"));
    EXPECT_EQ(narrow.model()->columnCount(), 1);
}

// Each kind of note has its own mark in the first column (the style's
// information, warning and error icons; the most serious one shows) and
// says what and who in the row's tooltip, followed by the host name. A
// failure outlives rescans until it is cleared; the scan's notes go with
// the rows.
TEST_F(DeviceListCtrlTest, EachKindOfNoteHasItsMarkAndItsWords)
{
    using commissioning::NoteKind;
    const auto imageOf = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    AddThreeModules();
    list.AddModule(Record().Mac(0x04).Ip(Address(10, 0, 0, 2)).Type("CANopen").HostName("K\xC3\xBChlung"));
    QCoreApplication::processEvents();
    EXPECT_EQ(list.RowNote(0), QString()) << "no row is judged before the adapters are known";
    list.SetAdapterSubnets({{"veth0", 2, Address(10, 0, 0, 1), 0xFFFFFF00u}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list.RowNote(0).isEmpty(); }, testsupport::kGuiWaitMs));
    const modules::MacAddress failed{0x00, 0x30, 0x11, 0x00, 0x00, 0x01};
    list.MarkFailure(failed, {{NoteKind::Failure, "Sent IP 10.0.0.11; the module still reports 10.0.0.10"}});
    const QString other = "Not in any subnet of this computer (veth0 10.0.0.1/24): it can still be configured here";
    const struct {
        int row; // in IP order
        std::optional<NoteKind> kind;
        QString note, hostName;
    } rows[] = {{0, NoteKind::Information, other, "N/A"},
        {1, NoteKind::Warning, "Shares 10.0.0.2 with 00-30-11-00-00-04", "N/A"},
        {2, NoteKind::Warning, "Shares 10.0.0.2 with 00-30-11-00-00-03", QString::fromUtf8("K\xC3\xBChlung")},
        {3, NoteKind::Failure, "Sent IP 10.0.0.11; the module still reports 10.0.0.10", "N/A"}};
    for (const auto& r : rows) {
        EXPECT_EQ(list.RowNote(r.row), r.note) << r.row;
        EXPECT_EQ(list.RowNoteKind(r.row), r.kind) << r.row;
        EXPECT_EQ(list.model()->index(r.row, modules::kColumnMac).data(Qt::ToolTipRole).toString(),
            r.note + "\nHost name: " + r.hostName)
            << r.row;
        const QIcon mark = list.model()->index(r.row, 0).data(Qt::DecorationRole).value<QIcon>();
        EXPECT_EQ(imageOf(mark), imageOf(DeviceListModel::MarkOf(*r.kind))) << r.row;
        EXPECT_FALSE(list.model()->index(r.row, 1).data(Qt::DecorationRole).isValid()) << r.row;
    }
    EXPECT_NE(
        imageOf(DeviceListModel::MarkOf(NoteKind::Information)), imageOf(DeviceListModel::MarkOf(NoteKind::Warning)));
    EXPECT_NE(imageOf(DeviceListModel::MarkOf(NoteKind::Warning)), imageOf(DeviceListModel::MarkOf(NoteKind::Failure)));
    EXPECT_EQ(list.NoteCounts(), (std::array<int, 3>{1, 2, 1}));

    // A rescan: the scan's notes are judged anew, the failure stays until a
    // write of that module is verified.
    list.ClearModules();
    list.AddModule(Record().Mac(0x01).Ip(Address(10, 0, 0, 10)));
    list.AddModule(Record().Mac(0x02).Ip(Address(10, 0, 0, 20)));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return list.GetItemCount() == 2 && !list.RowNote(0).isEmpty(); }, testsupport::kGuiWaitMs));
    EXPECT_EQ(list.RowNoteKind(0), NoteKind::Failure);
    EXPECT_EQ(list.RowNote(1), QString());
    EXPECT_FALSE(list.model()->index(1, 0).data(Qt::DecorationRole).isValid());
    list.ClearFailure(failed);
    EXPECT_EQ(list.RowNote(0), QString());
    EXPECT_EQ(list.NoteCounts(), (std::array<int, 3>{0, 0, 0}));
}

// A mark never shortens the IP: the first column grows by the mark's width
// while a row shows one, and is as specified again without.
TEST_F(DeviceListCtrlTest, AMarkedRowShowsTheWholeIp)
{
    const int specified = list.header()->sectionSize(modules::kColumnIp);
    list.SetAdapterSubnets({{"veth0", 2, Address(10, 0, 0, 1), 0xFFFFFF00u}});
    for (const bool marked : {false, true, false}) {
        SCOPED_TRACE(marked ? "marked" : "unmarked");
        list.ClearModules();
        // 255.255.255.255 lies in no subnet of this computer: an information mark.
        list.AddModule(Record().Mac(0x01).Ip(marked ? 0xFFFFFFFFu : Address(10, 0, 0, 9)).Dhcp(0));
        list.AddModule(Record().Mac(0x02).Ip(Address(10, 0, 0, 10)).Dhcp(0));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return list.RowNoteKind(1).has_value() == marked; }, testsupport::kGuiWaitMs));
        QCoreApplication::processEvents();
        const int width = list.header()->sectionSize(modules::kColumnIp);
        EXPECT_EQ(width > specified, marked);
        const int needed = static_cast<const QAbstractItemView&>(list).sizeHintForColumn(modules::kColumnIp);
        EXPECT_LE(needed, width) << "the widest IP with its mark needs " << needed << " of " << width;
    }
    EXPECT_EQ(list.header()->sectionSize(modules::kColumnIp), specified);
}

// Ctrl+F's filter: any part of IP, MAC, type or host name, any case; it
// holds while rows come and the list is sorted, and an empty filter shows
// every row.
TEST_F(DeviceListCtrlTest, TheFilterShowsTheRowsThatMatch)
{
    AddThreeModules();
    list.AddModule(Record().Mac(0x0A).Ip(Address(192, 168, 5, 7)).Type("IO").HostName("press-line-1"));
    const struct {
        const char* filter;
        QStringList shownMacs;
    } rows[] = {{"", {"00-30-11-00-00-02", "00-30-11-00-00-03", "00-30-11-00-00-01", "00-30-11-00-00-0A"}},
        {"10.0.0.1", {"00-30-11-00-00-01"}}, {"00-0a", {"00-30-11-00-00-0A"}}, {"profi", {"00-30-11-00-00-03"}},
        {"LINE", {"00-30-11-00-00-0A"}}, {"no such module", {}}};
    const auto shown = [&] {
        QStringList macs;
        for (int row = 0; row < list.GetItemCount(); ++row)
            if (!list.isRowHidden(row, QModelIndex()))
                macs << list.GetItemText(row, modules::kColumnMac);
        return macs;
    };
    for (const auto& r : rows) {
        list.SetFilter(QString::fromLatin1(r.filter));
        EXPECT_EQ(shown(), r.shownMacs) << r.filter;
        EXPECT_EQ(list.VisibleRowCount(), r.shownMacs.size()) << r.filter;
    }
    list.SetFilter("0.0.0");
    list.AddModule(Record().Mac(0x0B).Ip(Address(10, 0, 0, 3)));
    list.AddModule(Record().Mac(0x0C).Ip(Address(172, 16, 0, 3)));
    list.SortByColumn(modules::kColumnMac, false);
    EXPECT_EQ(shown(), (QStringList{"00-30-11-00-00-0B", "00-30-11-00-00-03", "00-30-11-00-00-01"}));
    list.SetFilter(QString());
    EXPECT_EQ(list.VisibleRowCount(), 6);
}

// Module texts: valid UTF-8 shows as UTF-8, any other bytes as
// Windows-1252, in the cells and the tooltip.
TEST_F(DeviceListCtrlTest, TextsShowAsUtf8OrWindows1252)
{
    const struct {
        std::string bytes;
        QString shown;
    } rows[] = {{"K\xC3\xBChlung", QString::fromUtf8("K\xC3\xBChlung")},
        {"K\xFChlung", QString::fromUtf8("K\xC3\xBChlung")}, {"\x80 5", QString::fromUtf8("\xE2\x82\xAC 5")},
        {"\xC3\x28", QString::fromUtf8("\xC3\x83(")}, {"plain", "plain"}};
    std::uint8_t mac = 1;
    for (const auto& r : rows) {
        list.ClearModules();
        list.AddModule(Record().Mac(mac++).Ip(Address(10, 0, 0, 1)).Type(r.bytes).HostName(r.bytes));
        EXPECT_EQ(list.GetItemText(0, modules::kColumnType), r.shown) << r.bytes;
        EXPECT_TRUE(list.model()->index(0, 0).data(Qt::ToolTipRole).toString().endsWith("Host name: " + r.shown))
            << r.bytes;
    }
}

TEST_F(DeviceListCtrlTest, ColumnClicksSortAndClearKeepsTheOrder)
{
    AddThreeModules();
    const QStringList ipAscending = {"9.255.255.255", "10.0.0.2", "10.0.0.10"};
    EXPECT_EQ(Column(modules::kColumnIp), ipAscending);
    const QStringList macs = {"00-30-11-00-00-01", "00-30-11-00-00-02", "00-30-11-00-00-03"};
    const struct {
        int column;
        modules::SortOrder order;
        QStringList texts;
    } clicks[] = {{modules::kColumnIp, {modules::kColumnIp, false}, {"10.0.0.10", "10.0.0.2", "9.255.255.255"}},
        {modules::kColumnMac, {modules::kColumnMac, true}, macs},
        {modules::kColumnMac, {modules::kColumnMac, false}, {macs[2], macs[1], macs[0]}},
        {modules::kColumnIp, {modules::kColumnIp, true}, ipAscending},
        {modules::kColumnType, {modules::kColumnType, true}, {"EtherCAT", "Modbus", "PROFINET"}},
        {modules::kColumnType, {modules::kColumnType, false}, {"PROFINET", "Modbus", "EtherCAT"}}};
    for (const auto& c : clicks) {
        ClickHeading(c.column);
        EXPECT_EQ(list.GetSortOrder(), c.order);
        EXPECT_EQ(Column(c.column), c.texts);
        EXPECT_EQ(list.GetHeaderCtrl()->SortColumn(), c.order.column);
        EXPECT_EQ(list.GetHeaderCtrl()->IsAscending(), c.order.ascending);
    }
    list.SetLastConfiguredMac({1, 2, 3, 4, 5, 6});
    list.ClearModules();
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.GetSortOrder(), (modules::SortOrder{modules::kColumnType, false}));
    EXPECT_FALSE(list.GetHeaderCtrl()->IsAscending());
    EXPECT_EQ(list.header()->sectionSize(modules::kColumnType), 114);
    EXPECT_EQ(list.GetLastConfiguredMac(), (modules::MacAddress{1, 2, 3, 4, 5, 6}));
    AddThreeModules();
    EXPECT_EQ(Column(modules::kColumnType), (QStringList{"PROFINET", "Modbus", "EtherCAT"}));
}

TEST_F(DeviceListCtrlTest, SelectionFollowsTheModuleAndDoubleClicksReportItsRow)
{
    AddThreeModules();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, Cell(0, modules::kColumnIp));
    EXPECT_EQ(list.GetFirstSelectedRow(), 0);
    list.AddModule(Record().Mac(0x09).Ip(Address(1, 1, 1, 1))); // sorts before the selected one
    EXPECT_EQ(list.GetFirstSelectedRow(), 1);
    ClickHeading(modules::kColumnIp);
    EXPECT_EQ(list.GetItemText(list.GetFirstSelectedRow(), modules::kColumnIp), QString("9.255.255.255"));
    EXPECT_EQ(list.selectionModel()->selectedRows().size(), 1);

    QSignalSpy spy(&list, &CDeviceListCtrl::RowDoubleClicked);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, Cell(1, modules::kColumnType));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    const QRect last = list.visualRect(list.model()->index(list.GetItemCount() - 1, 0));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, QPoint(20, last.bottom() + 40));
    EXPECT_EQ(spy.count(), 1); // below the last row: nothing
}

// The header rendered into an image, 20 pixels high, two 90-pixel headings.
class SortArrowHeaderTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 90;
    const QColor face{200, 200, 200}, light{255, 255, 255}, shadow{0, 0, 160};
    void SetUp() override
    {
        model.InitColumns("IP,90;MAC,90");
        header.setModel(&model);
        header.setStretchLastSection(false);
        header.resizeSection(0, kWidth);
        header.resizeSection(1, kWidth);
        QPalette palette = header.palette();
        palette.setColor(QPalette::Button, face);
        palette.setColor(QPalette::Light, light);
        palette.setColor(QPalette::Dark, shadow);
        palette.setColor(QPalette::ButtonText, Qt::black);
        header.setPalette(palette);
        header.setFixedSize(2 * kWidth, 20);
        header.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&header));
    }
    QImage Render() { return header.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    // Bounding box (left, top, right) of the text's ink between x0 and x1.
    QRect Ink(const QImage& image, int x0, int x1) const
    {
        QRect box;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = x0; x < x1; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c != face && c != light && c != shadow)
                    box |= QRect(x, y, 1, 1);
            }
        }
        return box;
    }
    void ExpectPixels(const QImage& image, std::initializer_list<std::pair<QPoint, QColor>> pixels)
    {
        for (const auto& [at, colour] : pixels)
            EXPECT_EQ(image.pixelColor(at), colour) << at.x() << "," << at.y();
    }
    DeviceListModel model;
    CSortArrowHeaderCtrl header;
};

TEST_F(SortArrowHeaderTest, ArrowPixelsPointTheSortDirection)
{
    EXPECT_NE(Render().pixelColor(80, 5), light); // no arrow before the first indicator
    header.SetSortIndicator(0, true);
    // Light edge (80,5)->(85,14)->(73,14), end points not drawn; the shadow
    // edge (74,14)->(80,4) covers the light base's last pixel.
    ExpectPixels(Render(),
        {{{80, 5}, light}, {{85, 14}, light}, {{84, 14}, light}, {{75, 14}, light}, {{74, 14}, shadow},
            {{73, 14}, face}, {{80, 4}, face}, {{0, 0}, face}, {{89, 19}, face}, {{86, 14}, face}, {{80, 15}, face}});
    header.SetSortIndicator(0, false);
    // Light edge (84,5)->(79,15); shadow (78,15)->(74,5)->(84,5).
    ExpectPixels(Render(),
        {{{84, 5}, light}, {{79, 15}, face}, {{78, 15}, shadow}, {{74, 5}, shadow}, {{79, 5}, shadow},
            {{83, 5}, shadow}, {{85, 5}, face}, {{80, 4}, face}});
    header.SetSortIndicator(1, true); // the earlier column keeps its face, loses its arrow
    EXPECT_TRUE(header.IsOwnerDrawn(0));
    ExpectPixels(Render(), {{{84, 5}, face}, {{74, 5}, face}, {{kWidth + 80, 5}, light}, {{kWidth + 74, 14}, shadow}});
}

TEST_F(SortArrowHeaderTest, TextKeepsItsMarginsAndMovesWhenPressed)
{
    header.SetSortIndicator(0, true);
    const QRect released = Ink(Render(), 0, 72);
    ASSERT_FALSE(released.isNull()) << "heading text was not drawn";
    EXPECT_GE(released.left(), 5);
    EXPECT_LT(released.right(), 70);
    EXPECT_TRUE(Ink(Render(), 70, kWidth).isNull()); // only the arrow right of the text box
    QTest::mousePress(header.viewport(), Qt::LeftButton, {}, QPoint(30, 10));
    const QImage pressed = Render();
    QTest::mouseRelease(header.viewport(), Qt::LeftButton, {}, QPoint(30, 10));
    // The text box moves one right and two down but keeps its bottom, so the
    // centred text lands one pixel lower; the arrow stays.
    EXPECT_EQ(Ink(pressed, 0, 72).topLeft(), released.topLeft() + QPoint(1, 1));
    ExpectPixels(pressed, {{{80, 5}, light}, {{74, 14}, shadow}});
    EXPECT_EQ(Ink(Render(), 0, 72).topLeft(), released.topLeft());
    // 20 pixels wide: the text box is empty, the arrow still shows.
    header.resizeSection(0, 20);
    const QImage narrow = Render();
    ExpectPixels(narrow, {{{10, 5}, light}, {{4, 14}, shadow}});
    EXPECT_TRUE(Ink(narrow, 0, 20).isNull());
}

const QString kNoAnswer = QStringLiteral(
    "No module has answered. Check the cable and the adapter, and that no firewall blocks UDP port 3250.");
const QString kScanning = QStringLiteral("Scanning...");
// Beyond the two seconds of "Scanning...", for slow sanitizer builds.
constexpr int kPlaceholderWaitMs = 4 * CDeviceListCtrl::kScanningTextMs + testsupport::kGuiWaitMs;

QORT_ModuleScanResponseType Module(std::uint8_t last, const char* type, const char* hostName = nullptr)
{
    Record record;
    record.Mac(last).Ip(Address(10, 0, 0, last)).Type(type).Version(2, 10, 300);
    if (hostName != nullptr)
        record.HostName(hostName);
    return record;
}

// Pixels in a band across the middle of the viewport that differ from its
// background: the placeholder is drawn there, rows are not.
int MiddleInkPixels(CDeviceListCtrl& list)
{
    const QImage image = list.viewport()->grab().toImage();
    const QRgb background = image.pixel(0, image.height() / 2);
    int ink = 0;
    for (int y = image.height() / 2 - 8; y <= image.height() / 2 + 8; ++y) {
        for (int x = 0; x < image.width(); ++x)
            ink += image.pixel(x, y) != background ? 1 : 0;
    }
    return ink;
}

class DeviceListTextsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(list.InitColumns(modules::kDeviceListColumnSpec)); }
    CDeviceListCtrl list;
};

TEST_F(DeviceListTextsTest, PlaceholderFollowsRowsAndScans)
{
    list.resize(600, 240);
    list.show();
    EXPECT_EQ(list.PlaceholderText(), kNoAnswer);
    list.BeginScan();
    EXPECT_EQ(list.PlaceholderText(), kScanning);
    EXPECT_GT(MiddleInkPixels(list), 0);

    list.AddModule(Module(1, "IO"));
    EXPECT_EQ(list.PlaceholderText(), QString());
    EXPECT_EQ(MiddleInkPixels(list), 0);

    // What Scan does to the list: cleared, "Scanning...", then the hint.
    list.ClearModules();
    list.BeginScan();
    EXPECT_EQ(list.PlaceholderText(), kScanning);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.PlaceholderText() == kNoAnswer; }, kPlaceholderWaitMs));
    EXPECT_GT(MiddleInkPixels(list), 0);
}

TEST_F(DeviceListTextsTest, CopyPutsTheSelectedRowOnTheClipboard)
{
    list.AddModule(Module(2, "Bus coupler"));
    list.AddModule(Module(1, "IO"));
    const QString row = QStringLiteral("10.0.0.2\tN/A\tN/A\tN/A\t2.10.300\tBus coupler\t00-30-11-00-00-02");
    QSignalSpy exportRequests(&list, &CDeviceListCtrl::ExportListRequested);
    for (const bool selected : {false, true}) {
        SCOPED_TRACE(selected ? "selected" : "nothing selected");
        if (selected)
            list.setCurrentIndex(list.model()->index(1, 0));
        QMenu menu;
        list.AddContextActions(menu);
        ASSERT_EQ(menu.actions().size(), 2);
        EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("Copy"));
        EXPECT_EQ(menu.actions()[0]->isEnabled(), selected);
        EXPECT_EQ(menu.actions()[1]->text(), QStringLiteral("Export list..."));
        menu.actions()[1]->trigger();
        EXPECT_EQ(exportRequests.count(), selected ? 2 : 1);

        const QString expected = selected ? row : QStringLiteral("before");
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        menu.actions()[0]->trigger(); // a disabled action does nothing
        EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
    }
}

// The export is the scan's CSV (as `sorvinda scan --format csv` writes it)
// in the order shown: the same heading names, so that an edited export is a
// plan; rows hidden by the filter are written too.
TEST_F(DeviceListTextsTest, ExportWritesTheScanDialectInTheOrderShown)
{
    list.AddModule(Module(1, "IO", "plain"));
    list.AddModule(Module(2, "Coupler, 8 ports", "north,south"));
    list.AddModule(Module(4, "Line\r\nbreak", "caf\xE9"));
    list.AddModule(Module(5, "IO")); // no host name reported
    list.SortByColumn(modules::kColumnMac, false);
    list.SetFilter("Coupler");
    const std::string csv = list.ExportCsv();
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
        "mac,ip,mask,gateway,dhcp,password,hostname,dns1,dns2,type,version,protocol,warnings");
    std::vector<std::string> macs;
    for (std::size_t at = csv.find("\r\n00-30-11"); at != std::string::npos; at = csv.find("\r\n00-30-11", at + 1))
        macs.push_back(csv.substr(at + 2, 17));
    EXPECT_EQ(macs,
        (std::vector<std::string>{"00-30-11-00-00-05", "00-30-11-00-00-04", "00-30-11-00-00-02", "00-30-11-00-00-01"}));
    EXPECT_NE(csv.find("00-30-11-00-00-02,10.0.0.2,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\"Coupler, 8 ports\""), std::string::npos) << csv;
}

// The window's export, edited in a spreadsheet, is a plan: the plan reader
// takes it whole and finds the edit.
TEST_F(DeviceListTextsTest, AnEditedExportReadsAsAPlan)
{
    list.AddModule(Record().Mac(0x01).Ip(Address(10, 0, 0, 1)).Mask(0xFFFFFF00u).Dhcp(0).HostName("plc1"));
    list.AddModule(Record().Mac(0x02).Ip(Address(10, 0, 0, 2)).Mask(0xFFFFFF00u).Dhcp(0).HostName("plc2"));
    std::string csv = list.ExportCsv();
    const std::string from = "00-30-11-00-00-02,10.0.0.2,", to = "00-30-11-00-00-02,10.0.0.99,";
    const std::size_t at = csv.find(from);
    ASSERT_NE(at, std::string::npos) << csv;
    csv.replace(at, from.size(), to);
    const commissioning::PlanReading reading = commissioning::readPlan(csv, "modules.csv");
    EXPECT_TRUE(reading.problems.empty()) << reading.problems.front();
    ASSERT_EQ(reading.plan.rows.size(), 2u);
    EXPECT_EQ(reading.plan.rows[1].mac, (modules::MacAddress{0x00, 0x30, 0x11, 0x00, 0x00, 0x02}));
    EXPECT_EQ(reading.plan.rows[1].settings.ip, Address(10, 0, 0, 99));
    EXPECT_EQ(reading.plan.rows[1].settings.hostName, std::optional<std::string>("plc2"));
}

} // namespace
