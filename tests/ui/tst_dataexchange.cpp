// Data exchange: fields to controls and back for every helper, the
// character limit in both directions, and a failed validation stopping the
// pass and the OK button.

#include "resources/resourceids.h"
#include "ui/dataexchange.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"
#include "ui/templatedialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int kPasswordLimit = 29;

// The Ethernet configuration template with a field per helper.
class ExchangeDialog : public TemplateDialog {
public:
    ExchangeDialog()
        : TemplateDialog(IDD_ETHERNET_CONFIG)
    {
    }

    QString host;
    QString password;
    int dhcp = -1;
    int change = 0;
    std::uint32_t ip = 0;
    QLineEdit* hostEdit = nullptr;
    IpAddressEdit* wrongKind = reinterpret_cast<IpAddressEdit*>(1);

    using TemplateDialog::OnOK;

protected:
    void DoDataExchange(DataExchange& dx) override
    {
        DDX_Control(dx, IDC_HOSTNAME, hostEdit);
        DDX_Control(dx, IDC_PASSWORD, wrongKind);
        DDX_Text(dx, IDC_PASSWORD, password);
        DDV_MaxChars(dx, password, kPasswordLimit);
        DDX_Radio(dx, IDC_DHCP_ON, dhcp);
        DDX_Check(dx, IDC_CHANGE_PASSWORD, change);
        DDX_IPAddress(dx, IDC_IPADDRESS, ip);
        DDX_Text(dx, IDC_HOSTNAME, host);
    }
};

class VersionDialog : public TemplateDialog {
public:
    VersionDialog()
        : TemplateDialog(IDD_ABOUTBOX)
    {
    }
    QString version;

protected:
    void DoDataExchange(DataExchange& dx) override { DDX_Text(dx, IDC_VERSION, version); }
};

} // namespace

class TestDataExchange : public QObject {
    Q_OBJECT

private slots:
    void loadThenSaveRoundTrips();
    void userEditsAreSaved();
    void radioGroup_data();
    void radioGroup();
    void checkBoxStates_data();
    void checkBoxStates();
    void limitStopsTyping();
    void overLongTextFailsAndStopsPass();
    void failedValidationKeepsDialogOpen();
    void blankAddressSavesZero();
    void labelText();
};

void TestDataExchange::loadThenSaveRoundTrips()
{
    ExchangeDialog d;
    d.host = QStringLiteral("PLC1");
    d.password = QStringLiteral("secret");
    d.dhcp = 1;
    d.change = 1;
    d.ip = 0xC0A80001;
    QVERIFY(d.UpdateData(false));
    QCOMPARE(d.hostEdit, d.GetDlgItem(IDC_HOSTNAME));
    QCOMPARE(d.wrongKind, nullptr); // a line edit is no address control
    QCOMPARE(d.GetDlgItemAs<QLineEdit>(IDC_HOSTNAME)->text(), QStringLiteral("PLC1"));
    QVERIFY(d.GetDlgItemAs<QRadioButton>(IDC_DHCP_OFF)->isChecked());
    QVERIFY(d.GetDlgItemAs<QCheckBox>(IDC_CHANGE_PASSWORD)->isChecked());

    d.host.clear();
    d.password.clear();
    d.dhcp = 7;
    d.change = 0;
    d.ip = 0;
    QVERIFY(d.UpdateData(true));
    QCOMPARE(d.host, QStringLiteral("PLC1"));
    QCOMPARE(d.password, QStringLiteral("secret"));
    QCOMPARE(d.dhcp, 1);
    QCOMPARE(d.change, 1);
    QCOMPARE(d.ip, std::uint32_t{0xC0A80001});
}

void TestDataExchange::userEditsAreSaved()
{
    ExchangeDialog d;
    QVERIFY(d.UpdateData(false));
    d.GetDlgItemAs<QLineEdit>(IDC_HOSTNAME)->setText(QStringLiteral("plc-1 x"));
    d.GetDlgItemAs<QRadioButton>(IDC_DHCP_ON)->click();
    d.GetDlgItemAs<QCheckBox>(IDC_CHANGE_PASSWORD)->click();
    d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->SetAddress(0x0A000001);
    QVERIFY(d.UpdateData(true));
    QCOMPARE(d.host, QStringLiteral("plc-1 x")); // no validation of content here
    QCOMPARE(d.dhcp, 0);
    QCOMPARE(d.change, 1);
    QCOMPARE(d.ip, std::uint32_t{0x0A000001});
}

void TestDataExchange::radioGroup_data()
{
    QTest::addColumn<int>("loaded");
    QTest::addColumn<bool>("onChecked");
    QTest::addColumn<bool>("offChecked");
    QTest::addColumn<int>("saved");
    QTest::newRow("none") << -1 << false << false << -1;
    QTest::newRow("On") << 0 << true << false << 0;
    QTest::newRow("Off") << 1 << false << true << 1;
    QTest::newRow("past the group unchecks all") << 2 << false << false << -1;
    QTest::newRow("large negative unchecks all") << -1000 << false << false << -1;
}

void TestDataExchange::radioGroup()
{
    QFETCH(int, loaded);
    QFETCH(bool, onChecked);
    QFETCH(bool, offChecked);
    QFETCH(int, saved);
    ExchangeDialog d;
    d.dhcp = 1;
    d.UpdateData(false); // start from a checked button, which must be cleared
    d.dhcp = loaded;
    d.UpdateData(false);
    QCOMPARE(d.GetDlgItemAs<QRadioButton>(IDC_DHCP_ON)->isChecked(), onChecked);
    QCOMPARE(d.GetDlgItemAs<QRadioButton>(IDC_DHCP_OFF)->isChecked(), offChecked);
    QVERIFY(d.UpdateData(true));
    QCOMPARE(d.dhcp, saved);
}

void TestDataExchange::checkBoxStates_data()
{
    QTest::addColumn<int>("loaded");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("saved");
    QTest::newRow("unchecked") << 0 << int(Qt::Unchecked) << 0;
    QTest::newRow("checked") << 1 << int(Qt::Checked) << 1;
    QTest::newRow("indeterminate") << 2 << int(Qt::PartiallyChecked) << 2;
    QTest::newRow("other values uncheck") << 5 << int(Qt::Unchecked) << 0;
}

void TestDataExchange::checkBoxStates()
{
    QFETCH(int, loaded);
    QFETCH(int, state);
    QFETCH(int, saved);
    ExchangeDialog d;
    d.change = loaded;
    d.UpdateData(false);
    QCOMPARE(int(d.GetDlgItemAs<QCheckBox>(IDC_CHANGE_PASSWORD)->checkState()), state);
    QVERIFY(d.UpdateData(true));
    QCOMPARE(d.change, saved);
}

void TestDataExchange::limitStopsTyping()
{
    ExchangeDialog d;
    d.UpdateData(false);
    auto* edit = d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD);
    QCOMPARE(edit->maxLength(), kPasswordLimit);
    QTest::keyClicks(edit, QString(40, QLatin1Char('p')));
    QCOMPARE(edit->text().size(), kPasswordLimit);
    QVERIFY(d.UpdateData(true));
    QCOMPARE(d.password, QString(kPasswordLimit, QLatin1Char('p')));
    // The host name has no limit.
    QTest::keyClicks(d.GetDlgItem(IDC_HOSTNAME), QString(40, QLatin1Char('h')));
    QVERIFY(d.UpdateData(true));
    QCOMPARE(d.host.size(), 40);
}

void TestDataExchange::overLongTextFailsAndStopsPass()
{
    // Saving without a prior load: the edit has no limit yet, so the check on
    // save is the only guard.
    MessageBoxRecorder boxes;
    ExchangeDialog d;
    d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->setText(QString(kPasswordLimit + 1, QLatin1Char('x')));
    d.GetDlgItemAs<QCheckBox>(IDC_CHANGE_PASSWORD)->setChecked(true);
    d.change = 0;
    QVERIFY(!d.UpdateData(true));
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Records()[0].text, QStringLiteral("Enter no more than 29 characters."));
    QCOMPARE(boxes.Records()[0].Icon(), MB_ICONEXCLAMATION);
    QCOMPARE(d.change, 0); // the helpers after the failure did nothing

    boxes.Clear();
    d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->setText(QString(kPasswordLimit, QLatin1Char('x')));
    QVERIFY(d.UpdateData(true));
    QCOMPARE(boxes.Count(), 0);
    QCOMPARE(d.change, 1);
}

void TestDataExchange::failedValidationKeepsDialogOpen()
{
    MessageBoxRecorder boxes;
    ExchangeDialog d;
    bool openAfterFailedOk = false;
    QWidget* focusAfterFailedOk = nullptr;
    QTimer::singleShot(0, &d, [&] {
        QVERIFY(QTest::qWaitForWindowActive(&d));
        auto* edit = d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD);
        edit->setMaxLength(100); // as if the limit had not been loaded
        edit->setText(QString(50, QLatin1Char('x')));
        QTest::mouseClick(d.GetDlgItem(IDOK), Qt::LeftButton);
        openAfterFailedOk = d.isVisible();
        focusAfterFailedOk = QApplication::focusWidget();
        edit->setText(QStringLiteral("ok"));
        QTest::mouseClick(d.GetDlgItem(IDOK), Qt::LeftButton);
    });
    QTimer::singleShot(5000, &d, [&] { d.EndDialog(-99); });
    QCOMPARE(d.DoModal(), IDOK);
    QVERIFY(openAfterFailedOk);
    QCOMPARE(focusAfterFailedOk, d.GetDlgItem(IDC_PASSWORD));
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(d.password, QStringLiteral("ok"));
}

void TestDataExchange::blankAddressSavesZero()
{
    ExchangeDialog d;
    d.ip = 0x01020304;
    d.UpdateData(false);
    d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->ClearAddress();
    QVERIFY(d.UpdateData(true));
    QCOMPARE(d.ip, std::uint32_t{0});
}

void TestDataExchange::labelText()
{
    VersionDialog d;
    QCOMPARE(d.GetDlgItemAs<QLabel>(IDC_VERSION)->text(), QStringLiteral("Sorvinda Config"));
    d.UpdateData(false); // the empty field replaces the template text
    QCOMPARE(d.GetDlgItemAs<QLabel>(IDC_VERSION)->text(), QString());
    d.version = QStringLiteral("Version: <b>1.3.1.0</b>");
    d.UpdateData(false);
    QCOMPARE(d.GetDlgItemAs<QLabel>(IDC_VERSION)->text(), QStringLiteral("Version: <b>1.3.1.0</b>"));
}

QTEST_MAIN(TestDataExchange)
#include "tst_dataexchange.moc"
