// The list's texts for people: the placeholder of an empty list, Copy of
// the selected row, and the CSV export read back with a CSV parser.

#include "devicelist/columnspec.h"
#include "devicelist/columntexts.h"
#include "devicelist/devicelistctrl.h"
#include "tests/devicelist/records.h"
#include "tests/support/qtgtest.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using testrecords::Address;
using testrecords::Record;

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

// RFC 4180 read back: quoted fields, doubled quotes, CR LF record ends.
QList<QStringList> ParseCsv(const std::string& text)
{
    QList<QStringList> records;
    QStringList fields;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            field += c, ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            fields << QString::fromUtf8(field), field.clear();
        } else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields << QString::fromUtf8(field), field.clear();
            records << fields, fields.clear(), ++i;
        } else {
            field += c;
        }
    }
    return records;
}

class DeviceListTextsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(list.InitColumns(devicelist::kDeviceListColumnSpec)); }
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

    // What Scan does to the list.
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

TEST_F(DeviceListTextsTest, ExportParsesBackToTheRowsShown)
{
    const struct {
        const char* type;
        const char* hostName; // null: not reported
        QString shownHostName;
    } modules[] = {
        {"IO", "plain", QStringLiteral("plain")},
        {"Coupler, 8 ports", "north,south", QStringLiteral("north,south")},
        {"\"quoted\" type", "say \"hi\"", QStringLiteral("say \"hi\"")},
        {"Line\r\nbreak", "caf\xE9", QStringLiteral(u"caf\u00E9")},
        {"IO", nullptr, QStringLiteral("N/A")},
    };
    std::uint8_t mac = 1;
    for (const auto& m : modules)
        list.AddModule(Module(mac++, m.type, m.hostName));
    list.SortByColumn(devicelist::kColumnMac, false);

    const std::string csv = list.ExportCsv();
    EXPECT_NE(csv.find("caf\xC3\xA9"), std::string::npos); // UTF-8
    const QList<QStringList> records = ParseCsv(csv);
    ASSERT_EQ(records.size(), 1 + list.GetItemCount());
    EXPECT_EQ(records[0], QStringList({"IP", "SN", "GW", "DHCP", "Version", "Type", "MAC", "Host name"}));
    for (int row = 0; row < list.GetItemCount(); ++row) {
        QStringList shown;
        for (int column = 0; column < list.model()->columnCount(); ++column)
            shown << list.GetItemText(row, column);
        const int index = list.GetItemText(row, devicelist::kColumnMac).right(1).toInt() - 1;
        shown << modules[index].shownHostName;
        EXPECT_EQ(records[row + 1], shown) << row;
    }
}

} // namespace
