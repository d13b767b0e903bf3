// The list's texts for people: the placeholder of an empty list, Copy of
// the selected row, and the CSV export read back with a CSV parser.

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>

#include "devicelist/columnspec.h"
#include "devicelist/columntexts.h"
#include "devicelist/devicelistctrl.h"
#include "tests/devicelist/recordbuilder.h"

using devicelist::testing::RecordBuilder;

namespace {

const QString kNoAnswer = QStringLiteral(
    "No module has answered. Check the cable and the adapter, and that no firewall blocks UDP port 3250.");
constexpr int kWaitMs = 10000; // beyond the two seconds of "Scanning...", for slow sanitizer builds

QORT_ModuleScanResponseType Module(std::uint8_t last, const char* type, const char* hostName)
{
    QORT_ModuleScanResponseType record =
        RecordBuilder().Mac(last).Ip(RecordBuilder::Address(10, 0, 0, last)).Type(type).Version(2, 10, 300);
    if (hostName != nullptr) {
        std::memset(record.HostName, 0, sizeof record.HostName);
        std::strncpy(record.HostName, hostName, sizeof record.HostName - 1);
        record.HostNameValid = 1;
    }
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
        for (int x = 0; x < image.width(); ++x) {
            ink += image.pixel(x, y) != background ? 1 : 0;
        }
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

} // namespace

class DeviceListTextTest : public QObject {
    Q_OBJECT

private slots:
    void placeholderFollowsRowsAndScans();
    void copyPutsTheSelectedRowOnTheClipboard();
    void exportParsesBackToTheRowsShown();
};

void DeviceListTextTest::placeholderFollowsRowsAndScans()
{
    CDeviceListCtrl list;
    list.InitColumns(devicelist::kDeviceListColumnSpec);
    list.resize(600, 240);
    list.show();
    QCOMPARE(list.PlaceholderText(), kNoAnswer);
    list.BeginScan();
    QCOMPARE(list.PlaceholderText(), QStringLiteral("Scanning..."));
    QVERIFY(MiddleInkPixels(list) > 0);

    list.AddModule(Module(1, "IO", nullptr));
    QCOMPARE(list.PlaceholderText(), QString());
    QCOMPARE(MiddleInkPixels(list), 0);

    // What Scan does to the list.
    list.ClearModules();
    list.BeginScan();
    QCOMPARE(list.PlaceholderText(), QStringLiteral("Scanning..."));
    QTRY_COMPARE_WITH_TIMEOUT(list.PlaceholderText(), kNoAnswer, kWaitMs);
    QVERIFY(MiddleInkPixels(list) > 0);
}

void DeviceListTextTest::copyPutsTheSelectedRowOnTheClipboard()
{
    CDeviceListCtrl list;
    list.InitColumns(devicelist::kDeviceListColumnSpec);
    list.AddModule(Module(2, "Bus coupler", nullptr));
    list.AddModule(Module(1, "IO", nullptr));
    const QString row = QStringLiteral("10.0.0.2\tN/A\tN/A\tN/A\t2.10.300\tBus coupler\t00-30-11-00-00-02");
    QSignalSpy exportRequests(&list, &CDeviceListCtrl::ExportListRequested);
    for (const bool selected : {false, true}) {
        if (selected) {
            list.setCurrentIndex(list.model()->index(1, 0));
        }
        QMenu menu;
        list.AddContextActions(menu);
        QCOMPARE(menu.actions().size(), 2);
        QCOMPARE(menu.actions()[0]->text(), QStringLiteral("Copy"));
        QCOMPARE(menu.actions()[0]->isEnabled(), selected);
        QCOMPARE(menu.actions()[1]->text(), QStringLiteral("Export list..."));
        menu.actions()[1]->trigger();
        QCOMPARE(exportRequests.count(), selected ? 2 : 1);

        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), selected ? row : QStringLiteral("before"));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        menu.actions()[0]->trigger(); // a disabled action does nothing
        QCOMPARE(QGuiApplication::clipboard()->text(), selected ? row : QStringLiteral("before"));
    }
}

void DeviceListTextTest::exportParsesBackToTheRowsShown()
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
    CDeviceListCtrl list;
    list.InitColumns(devicelist::kDeviceListColumnSpec);
    std::uint8_t mac = 1;
    for (const auto& m : modules) {
        list.AddModule(Module(mac++, m.type, m.hostName));
    }
    list.SortByColumn(devicelist::kColumnMac, false);

    const std::string csv = list.ExportCsv();
    QVERIFY(csv.find("caf\xC3\xA9") != std::string::npos); // UTF-8
    const QList<QStringList> records = ParseCsv(csv);
    QCOMPARE(records.size(), 1 + list.GetItemCount());
    QCOMPARE(records[0], QStringList({"IP", "SN", "GW", "DHCP", "Version", "Type", "MAC", "Host name"}));
    for (int row = 0; row < list.GetItemCount(); ++row) {
        QStringList shown;
        for (int column = 0; column < list.model()->columnCount(); ++column) {
            shown << list.GetItemText(row, column);
        }
        const int index = list.GetItemText(row, devicelist::kColumnMac).right(1).toInt() - 1;
        shown << modules[index].shownHostName;
        QCOMPARE(records[row + 1], shown);
    }
}

QTEST_MAIN(DeviceListTextTest)
#include "devicelisttext_test.moc"
