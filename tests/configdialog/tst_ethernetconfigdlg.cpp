// CEthernetConfigDlg driven through its controls on the offscreen platform:
// what it shows and locks, the two checks of "Set" and their order, the
// password edits, and what it hands back after Set and Cancel. Message boxes
// are answered by the ui layer's recorder, so none is ever shown.

#include "configdialog/ethernetconfigcheck.h"
#include "configdialog/ethernetconfigdlg.h"
#include "resources/resourceids.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

constexpr int kGiveUpMs = 5000;
constexpr int kNotEnded = -99;

constexpr std::uint32_t kIp = 0xC0A8000Au;      // 192.168.0.10
constexpr std::uint32_t kMask = 0xFFFFFF00u;    // 255.255.255.0
constexpr std::uint32_t kGateway = 0xC0A80001u; // 192.168.0.1

const int kAddressIds[] = {IDC_IPADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DNS1, IDC_DNS2};

// The dialog of a module that reported nothing at all.
void ReportNothing(CEthernetConfigDlg&)
{
}

// A module with IP, mask, gateway and host name "PLC1", DHCP off.
void ReportUsual(CEthernetConfigDlg& d)
{
    d.Title = "Configure: 00-30-11-0A-BC-0F";
    d.IpAddr = kIp;
    d.IpAddrValid = 1;
    d.SubnetMask = kMask;
    d.SubnetMaskValid = 1;
    d.Gateway = kGateway;
    d.GatewayValid = 1;
    StoreConfigText(d.HostName, "PLC1");
    d.HostNameValid = 1;
    d.DhcpChoice = kDhcpChoiceOff;
}

// Runs the dialog modally; script runs inside the modal loop once the
// dialog shows and must end it (a button click). A script that fails to do
// so ends the run with kNotEnded after kGiveUpMs instead of hanging.
int RunScripted(CEthernetConfigDlg& dialog, std::function<void(CEthernetConfigDlg&)> script)
{
    QTimer::singleShot(0, &dialog, [&dialog, script = std::move(script)] {
        if (QTest::qWaitForWindowExposed(&dialog))
            script(dialog);
    });
    QTimer::singleShot(kGiveUpMs, &dialog, [&dialog] { dialog.EndDialog(kNotEnded); });
    return dialog.DoModal();
}

QLineEdit* Edit(CEthernetConfigDlg& d, int id)
{
    return d.GetDlgItemAs<QLineEdit>(id);
}
IpAddressEdit* Address(CEthernetConfigDlg& d, int id)
{
    return d.GetDlgItemAs<IpAddressEdit>(id);
}
QAbstractButton* Button(CEthernetConfigDlg& d, int id)
{
    return d.GetDlgItemAs<QAbstractButton>(id);
}

void Click(CEthernetConfigDlg& d, int id)
{
    QAbstractButton* button = Button(d, id);
    QVERIFY(button != nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

void TypeInto(CEthernetConfigDlg& d, int id, const QString& text)
{
    QLineEdit* edit = Edit(d, id);
    QVERIFY(edit != nullptr);
    edit->setFocus();
    edit->selectAll();
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (text.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_Delete);
    } else if (ascii) {
        QTest::keyClicks(edit, text);
    } else {
        edit->insert(text); // Qt Test types ASCII only; this is what a paste does
    }
}

// One key at a time to whatever has the focus, as a user types: the address
// control moves the focus on by itself after '.' and after a third digit.
void TypeIntoFocus(const QString& text)
{
    for (const QChar c : text) {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus != nullptr);
        QTest::keyClick(focus, c.toLatin1());
    }
}

QString Shown(const ConfigText& field)
{
    const std::string_view text = ConfigTextView(field);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

class EthernetConfigDlgTest : public QObject {
    Q_OBJECT

private slots:
    void showsTitleIconAndReportedValues();
    void unreportedValuesAreDisabledAndReadBackAsZero();
    void hostNameCheck_data();
    void hostNameCheck();
    void longHostNameComesBackCutTo29();
    void ipAddressCheck_data();
    void ipAddressCheck();
    void hostNameMessageComesBeforeIpMessage();
    void passwordEditReadOnlyWithoutPassword();
    void passwordEditsLimitedTo29();
    void changePasswordToggle();
    void dhcpChoiceTouchesNoAddress();
    void cancelSendsBackWithoutChecks_data();
    void cancelSendsBackWithoutChecks();
};

void EthernetConfigDlgTest::showsTitleIconAndReportedValues()
{
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    dialog.Dns1 = 0x08080808u;
    dialog.Dns1Valid = 1;
    dialog.DhcpChoice = kDhcpChoiceOn;
    QString caption;
    bool iconSet = false;
    bool onChecked = false;
    bool offChecked = true;
    std::uint32_t shownIp = 0;
    std::uint32_t shownDns1 = 0;
    QString shownHost;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        caption = d.windowTitle();
        iconSet = !d.windowIcon().isNull();
        onChecked = d.GetDlgItemAs<QRadioButton>(IDC_DHCP_ON)->isChecked();
        offChecked = d.GetDlgItemAs<QRadioButton>(IDC_DHCP_OFF)->isChecked();
        Address(d, IDC_IPADDRESS)->GetAddress(shownIp);
        Address(d, IDC_DNS1)->GetAddress(shownDns1);
        shownHost = Edit(d, IDC_HOSTNAME)->text();
        Click(d, IDOK);
    });
    QCOMPARE(result, IDOK);
    QCOMPARE(caption, QStringLiteral("Configure: 00-30-11-0A-BC-0F"));
    QVERIFY(iconSet);
    QVERIFY(onChecked);
    QVERIFY(!offChecked);
    QCOMPARE(shownIp, kIp);
    QCOMPARE(shownDns1, 0x08080808u);
    QCOMPARE(shownHost, QStringLiteral("PLC1"));
    QCOMPARE(dialog.IpAddr, kIp);
    QCOMPARE(dialog.SubnetMask, kMask);
    QCOMPARE(dialog.Gateway, kGateway);
    QCOMPARE(dialog.Dns1, 0x08080808u);
    QCOMPARE(dialog.Dns2, 0u);
    QCOMPARE(Shown(dialog.HostName), QStringLiteral("PLC1"));
    QCOMPARE(dialog.DhcpChoice, kDhcpChoiceOn);
}

void EthernetConfigDlgTest::unreportedValuesAreDisabledAndReadBackAsZero()
{
    MessageBoxRecorder boxes;
    CEthernetConfigDlg dialog;
    ReportNothing(dialog);
    // Values behind Valid bytes of 0 (or anything but 1) must not be shown.
    dialog.IpAddr = 0x01020304u;
    dialog.IpAddrValid = 2;
    dialog.Gateway = 0x05060708u;
    StoreConfigText(dialog.HostName, "ghost");
    bool hostDisabledAndEmpty = false;
    int blankDisabledAddresses = 0;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        hostDisabledAndEmpty = !Edit(d, IDC_HOSTNAME)->isEnabled() && Edit(d, IDC_HOSTNAME)->text().isEmpty();
        for (int id : kAddressIds) {
            if (Address(d, id)->IsBlank() && !Address(d, id)->isEnabled())
                ++blankDisabledAddresses;
        }
        Click(d, IDOK);
    });
    QCOMPARE(result, IDOK);
    QCOMPARE(boxes.Count(), 0);
    QVERIFY(hostDisabledAndEmpty);
    QCOMPARE(blankDisabledAddresses, 5);
    QCOMPARE(dialog.IpAddr, 0u);
    QCOMPARE(dialog.SubnetMask, 0u);
    QCOMPARE(dialog.Gateway, 0u);
    QCOMPARE(dialog.Dns1, 0u);
    QCOMPARE(dialog.Dns2, 0u);
    QCOMPARE(Shown(dialog.HostName), QString());
}

void EthernetConfigDlgTest::hostNameCheck_data()
{
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("PLC1") << QStringLiteral("PLC1") << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("digits only") << QStringLiteral("0123456789") << true;
    QTest::newRow("hyphen plc-1") << QStringLiteral("plc-1") << false;
    QTest::newRow("space") << QStringLiteral("plc 1") << false;
    QTest::newRow("dot") << QStringLiteral("plc.local") << false;
    QTest::newRow("underscore") << QStringLiteral("plc_1") << false;
    QTest::newRow("latin-1 letter") << QStringLiteral("pl\u00E4tz") << false;
    QTest::newRow("outside latin-1") << QStringLiteral("plc\u20AC") << false;
    QTest::newRow("protocol separator") << QStringLiteral("a;IP = 1.2.3.4") << false;
}

void EthernetConfigDlgTest::hostNameCheck()
{
    QFETCH(QString, hostName);
    QFETCH(bool, accepted);
    MessageBoxRecorder boxes;
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    bool stayedOpen = false;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        TypeInto(d, IDC_HOSTNAME, hostName);
        Click(d, IDOK);
        stayedOpen = d.isVisible();
        if (stayedOpen)
            Click(d, IDCANCEL);
    });
    if (accepted) {
        QCOMPARE(result, IDOK);
        QCOMPARE(boxes.Count(), 0);
        QCOMPARE(Shown(dialog.HostName), hostName);
    } else {
        QVERIFY(stayedOpen);
        QCOMPARE(result, IDCANCEL);
        QCOMPARE(boxes.Count(), 1);
        const MessageBoxRequest& box = boxes.Records().front();
        QCOMPARE(box.text, QStringLiteral("Illegal hostname! Only a-z, A-Z and 0-9 allowed."));
        QCOMPARE(box.Buttons(), MB_OK);
        QCOMPARE(box.caption, QString::fromLatin1(kDefaultMessageBoxCaption));
    }
}

void EthernetConfigDlgTest::longHostNameComesBackCutTo29()
{
    MessageBoxRecorder boxes;
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    const QString forty(40, QLatin1Char('a'));
    QString typed;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        TypeInto(d, IDC_HOSTNAME, forty);
        typed = Edit(d, IDC_HOSTNAME)->text();
        Click(d, IDOK);
    });
    QCOMPARE(result, IDOK);
    QCOMPARE(boxes.Count(), 0);
    QCOMPARE(typed, forty); // the edit itself has no limit
    QCOMPARE(Shown(dialog.HostName), forty.left(29));
    QCOMPARE(dialog.HostName[29], '\0');
}

void EthernetConfigDlgTest::ipAddressCheck_data()
{
    QTest::addColumn<QString>("typed"); // empty: the control is not reported
    QTest::addColumn<std::uint32_t>("expected");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("192.168.0.255") << QStringLiteral("192.168.0.255") << 0xC0A800FFu << false;
    QTest::newRow("255.255.255.255") << QStringLiteral("255.255.255.255") << 0xFFFFFFFFu << false;
    QTest::newRow("192.168.0.0") << QStringLiteral("192.168.0.0") << 0xC0A80000u << true;
    QTest::newRow("255.255.255.254") << QStringLiteral("255.255.255.254") << 0xFFFFFFFEu << true;
    QTest::newRow("255.0.0.1") << QStringLiteral("255.0.0.1") << 0xFF000001u << true;
    QTest::newRow("not reported") << QString() << 0u << true;
}

void EthernetConfigDlgTest::ipAddressCheck()
{
    QFETCH(QString, typed);
    QFETCH(std::uint32_t, expected);
    QFETCH(bool, accepted);
    MessageBoxRecorder boxes;
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    dialog.IpAddrValid = typed.isEmpty() ? 0 : 1;
    bool stayedOpen = false;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        if (!typed.isEmpty()) {
            IpAddressEdit* ip = Address(d, IDC_IPADDRESS);
            ip->ClearAddress();
            ip->SetFieldFocus(0);
            TypeIntoFocus(typed);
        }
        Click(d, IDOK);
        stayedOpen = d.isVisible();
        if (stayedOpen)
            Click(d, IDCANCEL);
    });
    QCOMPARE(dialog.IpAddr, expected);
    if (accepted) {
        QCOMPARE(result, IDOK);
        QCOMPARE(boxes.Count(), 0);
    } else {
        QVERIFY(stayedOpen);
        QCOMPARE(result, IDCANCEL);
        QCOMPARE(boxes.Count(), 1);
        QCOMPARE(boxes.Records().front().text, QStringLiteral("Last digit of IP address can not be 255."));
        QCOMPARE(boxes.Records().front().Buttons(), MB_OK);
    }
}

void EthernetConfigDlgTest::hostNameMessageComesBeforeIpMessage()
{
    MessageBoxRecorder boxes;
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    dialog.IpAddr = 0xC0A800FFu; // 192.168.0.255
    QStringList afterFirstSet;
    QStringList afterSecondSet;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        TypeInto(d, IDC_HOSTNAME, QStringLiteral("plc 1"));
        Click(d, IDOK);
        for (const MessageBoxRequest& r : boxes.Records())
            afterFirstSet << r.text;
        boxes.Clear();
        TypeInto(d, IDC_HOSTNAME, QStringLiteral("plc1"));
        Click(d, IDOK);
        for (const MessageBoxRequest& r : boxes.Records())
            afterSecondSet << r.text;
        boxes.Clear();
        Address(d, IDC_IPADDRESS)->SetAddress(0xC0A80014u); // 192.168.0.20
        Click(d, IDOK);
    });
    QCOMPARE(afterFirstSet, QStringList{QStringLiteral("Illegal hostname! Only a-z, A-Z and 0-9 allowed.")});
    QCOMPARE(afterSecondSet, QStringList{QStringLiteral("Last digit of IP address can not be 255.")});
    QCOMPARE(boxes.Count(), 0);
    QCOMPARE(result, IDOK);
    QCOMPARE(dialog.IpAddr, 0xC0A80014u);
    QCOMPARE(Shown(dialog.HostName), QStringLiteral("plc1"));
}

void EthernetConfigDlgTest::passwordEditReadOnlyWithoutPassword()
{
    for (const int isProtected : {0, 1}) {
        CEthernetConfigDlg dialog;
        ReportUsual(dialog);
        dialog.PasswordProtected = isProtected;
        bool readOnly = false;
        const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
            readOnly = Edit(d, IDC_PASSWORD)->isReadOnly();
            TypeInto(d, IDC_PASSWORD, QStringLiteral("secret"));
            Click(d, IDOK);
        });
        QCOMPARE(result, IDOK);
        QCOMPARE(readOnly, isProtected == 0);
        QCOMPARE(Shown(dialog.Password), isProtected ? QStringLiteral("secret") : QString());
    }
}

void EthernetConfigDlgTest::passwordEditsLimitedTo29()
{
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    dialog.PasswordProtected = 1;
    const QString forty(40, QLatin1Char('p'));
    int passwordLength = 0;
    int newPasswordLength = 0;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        TypeInto(d, IDC_PASSWORD, forty);
        Edit(d, IDC_PASSWORD)->selectAll();
        Edit(d, IDC_PASSWORD)->insert(forty); // as a paste would
        passwordLength = static_cast<int>(Edit(d, IDC_PASSWORD)->text().size());
        Click(d, IDC_CHANGE_PASSWORD);
        TypeInto(d, IDC_NEW_PASSWORD, forty);
        newPasswordLength = static_cast<int>(Edit(d, IDC_NEW_PASSWORD)->text().size());
        Click(d, IDOK);
    });
    QCOMPARE(result, IDOK);
    QCOMPARE(passwordLength, 29);
    QCOMPARE(newPasswordLength, 29);
    QCOMPARE(Shown(dialog.Password), forty.left(29));
    QCOMPARE(Shown(dialog.NewPassword), forty.left(29));
    QCOMPARE(dialog.ChangePassword, 1);
}

void EthernetConfigDlgTest::changePasswordToggle()
{
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    dialog.PasswordProtected = 1;
    bool readOnlyAtStart = false;
    bool writableWhenChecked = false;
    bool readOnlyWhenUnchecked = false;
    QString textWhenUnchecked;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        readOnlyAtStart = Edit(d, IDC_NEW_PASSWORD)->isReadOnly();
        TypeInto(d, IDC_NEW_PASSWORD, QStringLiteral("ignored"));
        Click(d, IDC_CHANGE_PASSWORD);
        writableWhenChecked = !Edit(d, IDC_NEW_PASSWORD)->isReadOnly();
        TypeInto(d, IDC_NEW_PASSWORD, QStringLiteral("newpw"));
        Click(d, IDC_CHANGE_PASSWORD);
        readOnlyWhenUnchecked = Edit(d, IDC_NEW_PASSWORD)->isReadOnly();
        textWhenUnchecked = Edit(d, IDC_NEW_PASSWORD)->text();
        Click(d, IDOK);
    });
    QCOMPARE(result, IDOK);
    QVERIFY(readOnlyAtStart);
    QVERIFY(writableWhenChecked);
    QVERIFY(readOnlyWhenUnchecked);
    QCOMPARE(textWhenUnchecked, QStringLiteral("newpw"));
    QCOMPARE(dialog.ChangePassword, 0);
    // Handed back even when unchecked; the configure flow does not send it then.
    QCOMPARE(Shown(dialog.NewPassword), QStringLiteral("newpw"));
}

void EthernetConfigDlgTest::dhcpChoiceTouchesNoAddress()
{
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    QList<bool> enabledBefore;
    QList<bool> enabledAfter;
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        for (int id : kAddressIds)
            enabledBefore << Address(d, id)->isEnabled();
        Click(d, IDC_DHCP_ON);
        for (int id : kAddressIds)
            enabledAfter << Address(d, id)->isEnabled();
        Click(d, IDOK);
    });
    QCOMPARE(result, IDOK);
    QCOMPARE(enabledAfter, enabledBefore);
    QCOMPARE(dialog.DhcpChoice, kDhcpChoiceOn);
    QCOMPARE(dialog.IpAddr, kIp);
    QCOMPARE(dialog.SubnetMask, kMask);
    QCOMPARE(dialog.Gateway, kGateway);
}

void EthernetConfigDlgTest::cancelSendsBackWithoutChecks_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close box") << 2;
}

void EthernetConfigDlgTest::cancelSendsBackWithoutChecks()
{
    QFETCH(int, how);
    MessageBoxRecorder boxes;
    CEthernetConfigDlg dialog;
    ReportUsual(dialog);
    const int result = RunScripted(dialog, [&](CEthernetConfigDlg& d) {
        TypeInto(d, IDC_HOSTNAME, QStringLiteral("bad name"));
        Address(d, IDC_IPADDRESS)->SetAddress(0xC0A800FFu);
        if (how == 0)
            Click(d, IDCANCEL);
        if (how == 1)
            QTest::keyClick(&d, Qt::Key_Escape);
        if (how == 2)
            d.close();
    });
    QCOMPARE(result, IDCANCEL);
    QCOMPARE(boxes.Count(), 0);
    // The read-back runs all the same: addresses from the controls, texts from
    // the last saving exchange - none here, so the empty ones of construction.
    QCOMPARE(dialog.IpAddr, 0xC0A800FFu);
    QCOMPARE(dialog.SubnetMask, kMask);
    QCOMPARE(Shown(dialog.HostName), QString());
    QCOMPARE(Shown(dialog.Password), QString());
}

QTEST_MAIN(EthernetConfigDlgTest)
#include "tst_ethernetconfigdlg.moc"
