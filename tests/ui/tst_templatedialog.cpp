// TemplateDialog: controls built from each template at the right pixels,
// with the right IDs, kinds, states and tab order; modal runs ended by
// buttons, keys and the close box; the framework hooks.

#include "resources/dialogtemplate.h"
#include "resources/resourceids.h"
#include "ui/ipaddressedit.h"
#include "ui/templatedialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>

namespace {

// Runs action inside the modal loop, once the dialog is showing.
void WhenShown(TemplateDialog& dialog, std::function<void()> action)
{
    QTimer::singleShot(0, &dialog, [&dialog, action = std::move(action)] {
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        action();
    });
}

// Safety net: a test that fails to end its modal run must not hang.
void EndAfterTimeout(TemplateDialog& dialog)
{
    QTimer::singleShot(5000, &dialog, [&dialog] { dialog.EndDialog(-99); });
}

class HookedDialog : public TemplateDialog {
public:
    explicit HookedDialog(int id)
        : TemplateDialog(id)
    {
    }
    int okCalls = 0;
    int cancelCalls = 0;
    int closeCalls = 0;
    int destroyCalls = 0;
    bool endInInit = false;
    bool refuseClose = false;
    QString textSeenOnDestroy;

protected:
    bool OnInitDialog() override
    {
        TemplateDialog::OnInitDialog();
        if (endInInit)
            TemplateDialog::OnCancel();
        return true;
    }
    void OnOK() override
    {
        ++okCalls;
        TemplateDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancelCalls;
        TemplateDialog::OnCancel();
    }
    void OnClose() override
    {
        ++closeCalls;
        if (!refuseClose)
            TemplateDialog::OnClose();
    }
    void OnDestroy() override
    {
        ++destroyCalls;
        if (auto* edit = GetDlgItemAs<QLineEdit>(IDC_HOSTNAME))
            textSeenOnDestroy = edit->text();
    }
};

} // namespace

class TestTemplateDialog : public QObject {
    Q_OBJECT

private slots:
    void everyControlIsBuiltAtItsTemplateRectangle_data();
    void everyControlIsBuiltAtItsTemplateRectangle();
    void knownPixelRectangles_data();
    void knownPixelRectangles();
    void controlKindsAndStates();
    void tabOrderFollowsTemplate_data();
    void tabOrderFollowsTemplate();
    void tabLeavesAddressControlAsAWhole();
    void defaultButtonIsFirstDefPushButton_data();
    void defaultButtonIsFirstDefPushButton();
    void modalRunEnds_data();
    void modalRunEnds();
    void closeBoxCanBeRefused();
    void endingInOnInitDialogNeverShows();
    void mappedCommandReplacesDefault();
    void groupBoxesDoNotSwallowClicks();
    void radioGroupIsExclusive();
    void windowIconAndCaption();
    void substitutedControlTakesTemplatePlace();
};

void TestTemplateDialog::everyControlIsBuiltAtItsTemplateRectangle_data()
{
    QTest::addColumn<int>("templateId");
    QTest::newRow("about") << IDD_ABOUTBOX;
    QTest::newRow("main") << IDD_SORVINDACONFIG_DIALOG;
    QTest::newRow("ethernet") << IDD_ETHERNET_CONFIG;
    QTest::newRow("advanced") << IDD_ADVANCED_SETTINGS;
}

void TestTemplateDialog::everyControlIsBuiltAtItsTemplateRectangle()
{
    QFETCH(int, templateId);
    TemplateDialog dialog(templateId);
    const DialogTemplate& t = dialog.Template();
    const DialogBaseUnits u = dialog.BaseUnits();
    QCOMPARE(dialog.size(), QSize(MulDiv(t.cx, u.cx, 4), MulDiv(t.cy, u.cy, 8)));
    // The dialog's children with a control ID must be exactly the template's
    // controls, each at its converted rectangle.
    const QList<QWidget*> built = dialog.Controls();
    QCOMPARE(built.size(), static_cast<qsizetype>(t.controls.size()));
    int withId = 0;
    for (QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w->property("controlId").isValid())
            ++withId;
    }
    QCOMPARE(withId, static_cast<int>(t.controls.size()));
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        QWidget* w = built[static_cast<qsizetype>(i)];
        QCOMPARE(w->parentWidget(), &dialog);
        QCOMPARE(w->property("controlId").toInt(), c.id);
        if (c.kind == ControlKind::StaticIcon) {
            QCOMPARE(w->pos(), dialog.MapDialogRect(c.rect).topLeft());
            QCOMPARE(w->size(), QSize(32, 32));
        } else {
            QCOMPARE(w->geometry(), dialog.MapDialogRect(c.rect));
        }
        if (c.id != IDC_STATIC)
            QCOMPARE(dialog.GetDlgItem(c.id), w);
    }
    QCOMPARE(dialog.GetDlgItem(4242), nullptr);
}

void TestTemplateDialog::knownPixelRectangles_data()
{
    // DejaVu Sans at 11 px: 7 px average width, 13 px height.
    QTest::addColumn<int>("templateId");
    QTest::addColumn<int>("controlId");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("main Scan 310,165,50,14") << IDD_SORVINDACONFIG_DIALOG << IDC_SCAN << QRect(543, 268, 88, 23);
    QTest::newRow("main list 7,7,413,154") << IDD_SORVINDACONFIG_DIALOG << IDC_DEVICE_LIST << QRect(12, 11, 723, 250);
    QTest::newRow("ethernet IP 71,15,100,15") << IDD_ETHERNET_CONFIG << IDC_IPADDRESS << QRect(124, 24, 175, 24);
    QTest::newRow("advanced check 10,50,165,10")
        << IDD_ADVANCED_SETTINGS << IDC_ENABLE_DHCP_SERVER << QRect(18, 81, 289, 16);
    QTest::newRow("about version 40,10,119,8") << IDD_ABOUTBOX << IDC_VERSION << QRect(70, 16, 208, 13);
}

void TestTemplateDialog::knownPixelRectangles()
{
    QFETCH(int, templateId);
    QFETCH(int, controlId);
    QFETCH(QRect, pixels);
    TemplateDialog dialog(templateId);
    QCOMPARE(dialog.BaseUnits().cx, 7);
    QCOMPARE(dialog.BaseUnits().cy, 13);
    QVERIFY(dialog.GetDlgItem(controlId));
    QCOMPARE(dialog.GetDlgItem(controlId)->geometry(), pixels);
}

void TestTemplateDialog::controlKindsAndStates()
{
    TemplateDialog main(IDD_SORVINDACONFIG_DIALOG);
    QVERIFY(main.GetDlgItemAs<QTreeWidget>(IDC_DEVICE_LIST));
    QCOMPARE(main.GetDlgItemAs<QTreeWidget>(IDC_DEVICE_LIST)->selectionMode(), QAbstractItemView::SingleSelection);
    QWidget* file = main.GetDlgItem(IDC_FILE);
    QVERIFY(file->isHidden());
    QVERIFY(!file->isEnabled());
    QCOMPARE(main.GetDlgItemAs<QPushButton>(IDOK)->text(), QStringLiteral("Exit"));

    TemplateDialog eth(IDD_ETHERNET_CONFIG);
    for (int id : {IDC_IPADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DNS1, IDC_DNS2}) {
        QVERIFY2(eth.GetDlgItemAs<IpAddressEdit>(id), qPrintable(QString::number(id)));
    }
    QCOMPARE(eth.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->echoMode(), QLineEdit::Password);
    QCOMPARE(eth.GetDlgItemAs<QLineEdit>(IDC_NEW_PASSWORD)->echoMode(), QLineEdit::Password);
    QCOMPARE(eth.GetDlgItemAs<QLineEdit>(IDC_HOSTNAME)->echoMode(), QLineEdit::Normal);
    QCOMPARE(eth.GetDlgItemAs<QGroupBox>(IDC_DHCP_GROUP)->title(), QStringLiteral("DHCP"));
    QCOMPARE(eth.GetDlgItemAs<QRadioButton>(IDC_DHCP_OFF)->text(), QStringLiteral("Off"));
    QCOMPARE(eth.GetDlgItemAs<QCheckBox>(IDC_CHANGE_PASSWORD)->text(), QStringLiteral("Change password"));

    TemplateDialog about(IDD_ABOUTBOX);
    auto* icon = qobject_cast<QLabel*>(about.GetDlgItem(IDC_STATIC));
    QVERIFY(icon);
    QVERIFY(!icon->pixmap().isNull());
    auto* version = about.GetDlgItemAs<QLabel>(IDC_VERSION);
    QCOMPARE(version->textFormat(), Qt::PlainText);
}

void TestTemplateDialog::tabOrderFollowsTemplate_data()
{
    QTest::addColumn<int>("templateId");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("main: File is hidden and skipped")
        << IDD_SORVINDACONFIG_DIALOG << QList<int>{IDC_SCAN, IDOK, IDC_DEVICE_LIST, IDC_ADVANCED_OPTIONS, IDC_WINK};
    QTest::newRow("ethernet: radios are no tab stops")
        << IDD_ETHERNET_CONFIG
        << QList<int>{IDOK, IDCANCEL, IDC_IPADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DNS1, IDC_DNS2, IDC_HOSTNAME,
               IDC_PASSWORD, IDC_NEW_PASSWORD, IDC_CHANGE_PASSWORD};
    QTest::newRow("advanced") << IDD_ADVANCED_SETTINGS << QList<int>{IDOK, IDCANCEL, IDC_ENABLE_DHCP_SERVER};
    QTest::newRow("about: only OK") << IDD_ABOUTBOX << QList<int>{IDOK};
}

void TestTemplateDialog::tabOrderFollowsTemplate()
{
    QFETCH(int, templateId);
    QFETCH(QList<int>, order);
    HookedDialog dialog(templateId);
    QList<int> seen;
    WhenShown(dialog, [&] {
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        // Press Tab once per stop and note which control holds the focus; the
        // walk wraps round to the first stop.
        for (int i = 0; i <= order.size(); ++i) {
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus);
            while (focus != nullptr && !focus->property("controlId").isValid())
                focus = focus->parentWidget();
            QVERIFY(focus);
            seen.append(focus->property("controlId").toInt());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        dialog.EndDialog(IDCANCEL);
    });
    EndAfterTimeout(dialog);
    dialog.DoModal();
    QList<int> expected = order;
    expected.append(order.front());
    QCOMPARE(seen, expected);
}

void TestTemplateDialog::tabLeavesAddressControlAsAWhole()
{
    HookedDialog dialog(IDD_ETHERNET_CONFIG);
    QWidget* afterBacktab = nullptr;
    WhenShown(dialog, [&] {
        auto* gateway = dialog.GetDlgItemAs<IpAddressEdit>(IDC_GATEWAY);
        gateway->SetFieldFocus(2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        afterBacktab = QApplication::focusWidget();
        dialog.EndDialog(IDCANCEL);
    });
    EndAfterTimeout(dialog);
    dialog.DoModal();
    QCOMPARE(afterBacktab, dialog.GetDlgItemAs<IpAddressEdit>(IDC_SUBNET_MASK)->Field(0));
}

void TestTemplateDialog::defaultButtonIsFirstDefPushButton_data()
{
    QTest::addColumn<int>("templateId");
    QTest::addColumn<int>("defaultId");
    QTest::newRow("main: Scan, not Advanced Options or Wink") << IDD_SORVINDACONFIG_DIALOG << IDC_SCAN;
    QTest::newRow("ethernet: Set") << IDD_ETHERNET_CONFIG << IDOK;
    QTest::newRow("advanced: OK") << IDD_ADVANCED_SETTINGS << IDOK;
    QTest::newRow("about: OK") << IDD_ABOUTBOX << IDOK;
}

void TestTemplateDialog::defaultButtonIsFirstDefPushButton()
{
    QFETCH(int, templateId);
    QFETCH(int, defaultId);
    TemplateDialog dialog(templateId);
    dialog.GetDlgItem(IDOK);
    QCOMPARE(dialog.DefaultButtonId(), defaultId);
}

void TestTemplateDialog::modalRunEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("okCalls");
    QTest::addColumn<int>("cancelCalls");
    QTest::newRow("click OK") << "okButton" << IDOK << 1 << 0;
    QTest::newRow("click Cancel") << "cancelButton" << IDCANCEL << 0 << 1;
    QTest::newRow("Escape") << "escape" << IDCANCEL << 0 << 1;
    QTest::newRow("Enter in the check box presses OK") << "enter" << IDOK << 1 << 0;
    QTest::newRow("close box") << "close" << IDCANCEL << 0 << 1;
}

void TestTemplateDialog::modalRunEnds()
{
    QFETCH(QString, how);
    QFETCH(int, expected);
    QFETCH(int, okCalls);
    QFETCH(int, cancelCalls);
    HookedDialog dialog(IDD_ADVANCED_SETTINGS);
    WhenShown(dialog, [&] {
        if (how == "okButton") {
            QTest::mouseClick(dialog.GetDlgItem(IDOK), Qt::LeftButton);
        } else if (how == "cancelButton") {
            QTest::mouseClick(dialog.GetDlgItem(IDCANCEL), Qt::LeftButton);
        } else if (how == "escape") {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        } else if (how == "enter") {
            QWidget* box = dialog.GetDlgItem(IDC_ENABLE_DHCP_SERVER);
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Return);
        } else {
            dialog.close();
        }
    });
    EndAfterTimeout(dialog);
    QCOMPARE(dialog.DoModal(), expected);
    QCOMPARE(dialog.okCalls, okCalls);
    QCOMPARE(dialog.cancelCalls, cancelCalls);
    QCOMPARE(dialog.destroyCalls, 1);
    QVERIFY(!dialog.isVisible());
}

void TestTemplateDialog::closeBoxCanBeRefused()
{
    HookedDialog dialog(IDD_ADVANCED_SETTINGS);
    dialog.refuseClose = true;
    bool stillVisible = false;
    WhenShown(dialog, [&] {
        dialog.close();
        stillVisible = dialog.isVisible();
        QTest::mouseClick(dialog.GetDlgItem(IDOK), Qt::LeftButton);
    });
    EndAfterTimeout(dialog);
    QCOMPARE(dialog.DoModal(), IDOK);
    QVERIFY(stillVisible);
    QCOMPARE(dialog.closeCalls, 1);
    QCOMPARE(dialog.cancelCalls, 0);
}

void TestTemplateDialog::endingInOnInitDialogNeverShows()
{
    HookedDialog dialog(IDD_SORVINDACONFIG_DIALOG);
    dialog.endInInit = true;
    bool shown = false;
    QTimer::singleShot(0, &dialog, [&] { shown = dialog.isVisible(); });
    // Without the early return DoModal would block here until the safety net.
    EndAfterTimeout(dialog);
    QCOMPARE(dialog.DoModal(), IDCANCEL);
    QVERIFY(!shown);
    QCOMPARE(dialog.destroyCalls, 1);
}

void TestTemplateDialog::mappedCommandReplacesDefault()
{
    class ScanDialog : public TemplateDialog {
    public:
        ScanDialog()
            : TemplateDialog(IDD_SORVINDACONFIG_DIALOG)
        {
            MapCommand(IDC_SCAN, [this] { ++scans; });
            MapCommand(IDOK, [this] { EndDialog(77); });
        }
        int scans = 0;
    } dialog;
    WhenShown(dialog, [&] {
        QTest::mouseClick(dialog.GetDlgItem(IDC_SCAN), Qt::LeftButton);
        QTest::keyClick(dialog.GetDlgItem(IDC_DEVICE_LIST), Qt::Key_Return); // Enter presses Scan
        QTest::mouseClick(dialog.GetDlgItem(IDOK), Qt::LeftButton);
    });
    EndAfterTimeout(dialog);
    QCOMPARE(dialog.DoModal(), 77);
    QCOMPARE(dialog.scans, 2);
}

void TestTemplateDialog::groupBoxesDoNotSwallowClicks()
{
    // The "Ethernet configuration" group box comes last in its template and
    // spans every other control.
    TemplateDialog dialog(IDD_ETHERNET_CONFIG);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* check = dialog.GetDlgItemAs<QCheckBox>(IDC_CHANGE_PASSWORD);
    const QPoint centre = check->geometry().center();
    QCOMPARE(dialog.childAt(centre), check);
    QWidget* ip = dialog.GetDlgItem(IDC_IPADDRESS);
    QVERIFY(ip->isAncestorOf(dialog.childAt(ip->geometry().center())));
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(check->isChecked());
}

void TestTemplateDialog::radioGroupIsExclusive()
{
    TemplateDialog dialog(IDD_ETHERNET_CONFIG);
    const QList<QRadioButton*> group = dialog.RadioGroup(IDC_DHCP_ON);
    QCOMPARE(group.size(), 2);
    group[0]->click();
    group[1]->click();
    QVERIFY(!group[0]->isChecked());
    QVERIFY(group[1]->isChecked());
    QVERIFY(dialog.RadioGroup(IDC_HOSTNAME).isEmpty());
}

void TestTemplateDialog::windowIconAndCaption()
{
    TemplateDialog main(IDD_SORVINDACONFIG_DIALOG);
    QCOMPARE(main.windowTitle(), QStringLiteral("Sorvinda Config v1.3.1"));
    QVERIFY(main.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(main.windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(main.minimumSize() != main.maximumSize()); // sizing border

    TemplateDialog eth(IDD_ETHERNET_CONFIG);
    QCOMPARE(eth.windowTitle(), QStringLiteral("Dialog"));
    eth.SetWindowText(QStringLiteral("Configure: 00-30-11-0A-BC-0F"));
    QCOMPARE(eth.windowTitle(), QStringLiteral("Configure: 00-30-11-0A-BC-0F"));
    QCOMPARE(eth.minimumSize(), eth.maximumSize()); // modal frame: fixed
    for (TemplateDialog* d : {&main, &eth}) {
        const QList<QSize> sizes = d->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(sizes.contains(QSize(16, 16)));
    }
}

void TestTemplateDialog::substitutedControlTakesTemplatePlace()
{
    class ListDialog : public TemplateDialog {
    public:
        ListDialog()
            : TemplateDialog(IDD_SORVINDACONFIG_DIALOG)
            , own(new QTreeWidget)
        {
            SubstituteControl(IDC_DEVICE_LIST, own);
        }
        QTreeWidget* own;
    } dialog;
    QWidget* list = dialog.GetDlgItem(IDC_DEVICE_LIST);
    QCOMPARE(list, dialog.own);
    QCOMPARE(list->parentWidget(), &dialog);
    QCOMPARE(list->geometry(), dialog.MapDialogRect({7, 7, 413, 154}));
    QVERIFY(!list->isHidden());
}

QTEST_MAIN(TestTemplateDialog)
#include "tst_templatedialog.moc"
