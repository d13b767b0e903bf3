// The device list widget: columns, rows, duplicates, column clicks as the
// user makes them, selection across re-sorts and the double-click hook.

#include <QSignalSpy>
#include <QtTest>

#include "devicelist/columnspec.h"
#include "devicelist/columntexts.h"
#include "devicelist/devicelistctrl.h"
#include "devicelist/sortarrowheaderctrl.h"
#include "tests/devicelist/recordbuilder.h"

using devicelist::MacAddress;
using devicelist::SortOrder;
using devicelist::testing::RecordBuilder;

class DeviceListCtrlTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void columnsFromTheMainWindowSpec();
    void singlePairSpecGivesOneColumn();
    void specWithoutCommaGivesNoColumn();
    void rowsOnlyForRepliesWithMac();
    void duplicateMacIsIgnoredUntilCleared();
    void firstAcceptedReplyShowsTheArrow();
    void columnClicksIpMacMacIp();
    void clearKeepsSortOrderArrowAndWidths();
    void getRowMacReadsTheShownMac();
    void findModuleAndLastConfiguredMac();
    void selectionFollowsTheModuleWhenRowsMove();
    void doubleClickInTypeColumnReportsThatRow();
    void doubleClickBelowLastRowReportsNothing();

private:
    void AddThreeModules();
    QStringList ColumnTexts(int column) const;
    void ClickHeading(int column);
    QPoint CellCenter(int row, int column) const;

    CDeviceListCtrl* m_list = nullptr;
};

void DeviceListCtrlTest::init()
{
    m_list = new CDeviceListCtrl();
    m_list->resize(800, 300);
    QVERIFY(m_list->InitColumns(devicelist::kDeviceListColumnSpec));
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list));
}

void DeviceListCtrlTest::cleanup()
{
    delete m_list;
}

// IP order: 10.0.0.2 (MAC ..-03), 10.0.0.10 (..-01), 9.255.255.255 (..-02).
void DeviceListCtrlTest::AddThreeModules()
{
    m_list->AddModule(RecordBuilder().Mac(0x03).Ip(RecordBuilder::Address(10, 0, 0, 2)).Type("PROFINET"));
    m_list->AddModule(RecordBuilder().Mac(0x01).Ip(RecordBuilder::Address(10, 0, 0, 10)).Type("Modbus"));
    m_list->AddModule(RecordBuilder().Mac(0x02).Ip(RecordBuilder::Address(9, 255, 255, 255)).Type("EtherCAT"));
}

QStringList DeviceListCtrlTest::ColumnTexts(int column) const
{
    QStringList texts;
    for (int row = 0; row < m_list->GetItemCount(); ++row) {
        texts << m_list->GetItemText(row, column);
    }
    return texts;
}

void DeviceListCtrlTest::ClickHeading(int column)
{
    QHeaderView* header = m_list->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

QPoint DeviceListCtrlTest::CellCenter(int row, int column) const
{
    return m_list->visualRect(m_list->model()->index(row, column)).center();
}

void DeviceListCtrlTest::columnsFromTheMainWindowSpec()
{
    const QStringList headings = {"IP", "SN", "GW", "DHCP", "Version", "Type", "MAC"};
    const QList<int> widths = {90, 90, 90, 50, 50, 114, 115};
    QCOMPARE(m_list->model()->columnCount(), 7);
    for (int column = 0; column < 7; ++column) {
        QCOMPARE(m_list->model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
        QCOMPARE(m_list->header()->sectionSize(column), widths[column]);
    }
}

void DeviceListCtrlTest::singlePairSpecGivesOneColumn()
{
    CDeviceListCtrl list;
    QVERIFY(list.InitColumns("IP,90"));
    QCOMPARE(list.model()->columnCount(), 1);
    QCOMPARE(list.header()->sectionSize(0), 90);
    list.AddModule(RecordBuilder().Mac(1).Ip(1));
    QCOMPARE(list.GetItemCount(), 1);
    QCOMPARE(list.GetRowMac(0), std::nullopt);
}

void DeviceListCtrlTest::specWithoutCommaGivesNoColumn()
{
    CDeviceListCtrl list;
    QVERIFY(list.InitColumns("IP;SN"));
    QCOMPARE(list.model()->columnCount(), 0);
}

void DeviceListCtrlTest::rowsOnlyForRepliesWithMac()
{
    m_list->AddModule(RecordBuilder().Ip(RecordBuilder::Address(10, 0, 0, 1)));
    QCOMPARE(m_list->GetItemCount(), 0);
    m_list->AddModule(RecordBuilder().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F));
    QCOMPARE(m_list->GetItemCount(), 1);
    QCOMPARE(ColumnTexts(devicelist::kColumnIp), QStringList{"N/A"});
    QCOMPARE(ColumnTexts(devicelist::kColumnMac), QStringList{"00-30-11-0A-BC-0F"});
    for (int column = 0; column < devicelist::kColumnMac; ++column) {
        QCOMPARE(m_list->GetItemText(0, column), QString("N/A"));
    }
}

void DeviceListCtrlTest::duplicateMacIsIgnoredUntilCleared()
{
    m_list->AddModule(RecordBuilder().Mac(1).Ip(RecordBuilder::Address(10, 0, 0, 1)));
    m_list->AddModule(RecordBuilder().Mac(1).Ip(RecordBuilder::Address(10, 0, 0, 77)));
    QCOMPARE(ColumnTexts(devicelist::kColumnIp), QStringList{"10.0.0.1"});
    m_list->ClearModules();
    QCOMPARE(m_list->GetItemCount(), 0);
    m_list->AddModule(RecordBuilder().Mac(1).Ip(RecordBuilder::Address(10, 0, 0, 77)));
    QCOMPARE(ColumnTexts(devicelist::kColumnIp), QStringList{"10.0.0.77"});
}

void DeviceListCtrlTest::firstAcceptedReplyShowsTheArrow()
{
    QVERIFY(!m_list->GetHeaderCtrl()->IsOwnerDrawn(0));
    m_list->AddModule(RecordBuilder().Ip(1)); // stored without a row: still re-sorts
    QVERIFY(m_list->GetHeaderCtrl()->IsOwnerDrawn(0));
    QCOMPARE(m_list->GetHeaderCtrl()->SortColumn(), 0);
    QVERIFY(m_list->GetHeaderCtrl()->IsAscending());
}

void DeviceListCtrlTest::columnClicksIpMacMacIp()
{
    AddThreeModules();
    const QStringList ipAscending = {"9.255.255.255", "10.0.0.2", "10.0.0.10"};
    QCOMPARE(ColumnTexts(devicelist::kColumnIp), ipAscending);

    // IP is already the sort column: a click reverses it.
    ClickHeading(devicelist::kColumnIp);
    QCOMPARE(m_list->GetSortOrder(), (SortOrder{devicelist::kColumnIp, false}));
    QCOMPARE(ColumnTexts(devicelist::kColumnIp), (QStringList{"10.0.0.10", "10.0.0.2", "9.255.255.255"}));

    ClickHeading(devicelist::kColumnMac);
    QCOMPARE(m_list->GetSortOrder(), (SortOrder{devicelist::kColumnMac, true}));
    QCOMPARE(ColumnTexts(devicelist::kColumnMac),
        (QStringList{"00-30-11-00-00-01", "00-30-11-00-00-02", "00-30-11-00-00-03"}));
    QCOMPARE(m_list->GetHeaderCtrl()->SortColumn(), int(devicelist::kColumnMac));
    QVERIFY(m_list->GetHeaderCtrl()->IsAscending());

    ClickHeading(devicelist::kColumnMac);
    QCOMPARE(m_list->GetSortOrder(), (SortOrder{devicelist::kColumnMac, false}));
    QCOMPARE(ColumnTexts(devicelist::kColumnMac),
        (QStringList{"00-30-11-00-00-03", "00-30-11-00-00-02", "00-30-11-00-00-01"}));
    QVERIFY(!m_list->GetHeaderCtrl()->IsAscending());

    // Back to IP: ascending again whatever the previous direction.
    ClickHeading(devicelist::kColumnIp);
    QCOMPARE(m_list->GetSortOrder(), (SortOrder{devicelist::kColumnIp, true}));
    QCOMPARE(ColumnTexts(devicelist::kColumnIp), ipAscending);
    QCOMPARE(m_list->GetHeaderCtrl()->SortColumn(), int(devicelist::kColumnIp));
}

void DeviceListCtrlTest::clearKeepsSortOrderArrowAndWidths()
{
    AddThreeModules();
    ClickHeading(devicelist::kColumnType);
    ClickHeading(devicelist::kColumnType);
    m_list->ClearModules();
    m_list->ClearModules();
    QCOMPARE(m_list->GetItemCount(), 0);
    QCOMPARE(m_list->GetSortOrder(), (SortOrder{devicelist::kColumnType, false}));
    QCOMPARE(m_list->GetHeaderCtrl()->SortColumn(), int(devicelist::kColumnType));
    QVERIFY(!m_list->GetHeaderCtrl()->IsAscending());
    QCOMPARE(m_list->header()->sectionSize(devicelist::kColumnType), 114);
    AddThreeModules();
    QCOMPARE(ColumnTexts(devicelist::kColumnType), (QStringList{"PROFINET", "Modbus", "EtherCAT"}));
}

void DeviceListCtrlTest::getRowMacReadsTheShownMac()
{
    m_list->AddModule(RecordBuilder().Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F).Ip(2));
    m_list->AddModule(RecordBuilder().Mac(0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45).Ip(1));
    QCOMPARE(m_list->GetRowMac(0), (std::optional<MacAddress>{{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}}));
    QCOMPARE(m_list->GetRowMac(1), (std::optional<MacAddress>{{0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F}}));
    QCOMPARE(m_list->GetRowMac(2), std::nullopt);
    QCOMPARE(m_list->GetRowMac(-1), std::nullopt);
}

void DeviceListCtrlTest::findModuleAndLastConfiguredMac()
{
    m_list->AddModule(RecordBuilder().Mac(5).Type("Modbus"));
    const auto found = m_list->FindModule({0x00, 0x30, 0x11, 0x00, 0x00, 0x05});
    QVERIFY(found.has_value());
    QCOMPARE(QByteArray(found->FbType), QByteArray("Modbus"));
    QVERIFY(!m_list->FindModule({0x00, 0x30, 0x11, 0x00, 0x00, 0x06}).has_value());

    QCOMPARE(m_list->GetLastConfiguredMac(), std::nullopt);
    m_list->SetLastConfiguredMac({1, 2, 3, 4, 5, 6});
    m_list->ClearModules();
    QCOMPARE(m_list->GetLastConfiguredMac(), (std::optional<MacAddress>{{1, 2, 3, 4, 5, 6}}));
}

void DeviceListCtrlTest::selectionFollowsTheModuleWhenRowsMove()
{
    AddThreeModules();
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, CellCenter(0, devicelist::kColumnIp));
    QCOMPARE(m_list->GetFirstSelectedRow(), 0);
    QCOMPARE(m_list->GetItemText(0, devicelist::kColumnIp), QString("9.255.255.255"));

    // A module that sorts before the selected one pushes it down a row.
    m_list->AddModule(RecordBuilder().Mac(0x09).Ip(RecordBuilder::Address(1, 1, 1, 1)));
    QCOMPARE(m_list->GetFirstSelectedRow(), 1);
    ClickHeading(devicelist::kColumnIp);
    const int selected = m_list->GetFirstSelectedRow();
    QCOMPARE(m_list->GetItemText(selected, devicelist::kColumnIp), QString("9.255.255.255"));
    QCOMPARE(m_list->selectionModel()->selectedRows().size(), 1);
}

void DeviceListCtrlTest::doubleClickInTypeColumnReportsThatRow()
{
    AddThreeModules();
    QSignalSpy spy(m_list, &CDeviceListCtrl::RowDoubleClicked);
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, CellCenter(1, devicelist::kColumnType));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);
    QCOMPARE(m_list->GetItemText(1, devicelist::kColumnMac), QString("00-30-11-00-00-03"));
}

void DeviceListCtrlTest::doubleClickBelowLastRowReportsNothing()
{
    QSignalSpy spy(m_list, &CDeviceListCtrl::RowDoubleClicked);
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    AddThreeModules();
    const QRect last = m_list->visualRect(m_list->model()->index(2, 0));
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, QPoint(20, last.bottom() + 40));
    QCOMPARE(spy.count(), 0);
}

QTEST_MAIN(DeviceListCtrlTest)
#include "devicelistctrl_test.moc"
