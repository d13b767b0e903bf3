// The ui layer on the offscreen platform: dialog units, dialogs built from
// the resource templates (placement, kinds, tab order, default button, modal
// runs), data exchange, message boxes and the IPv4 address control.

#include "resources/dialogtemplate.h"
#include "resources/resourceids.h"
#include "resources/stringtable.h"
#include "tests/support/qtgtest.h"
#include "ui/dataexchange.h"
#include "ui/dialogunits.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"
#include "ui/templatedialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <climits>
#include <set>

namespace {

const int kTemplateIds[] = {IDD_ABOUTBOX, IDD_SORVINDACONFIG_DIALOG, IDD_ETHERNET_CONFIG, IDD_ADVANCED_SETTINGS};

int ControlIdOf(QWidget* w)
{
    while (w != nullptr && !w->property("controlId").isValid())
        w = w->parentWidget();
    return w ? w->property("controlId").toInt() : -1;
}

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero)
{
    const struct {
        int a, b, c, expected;
    } rows[] = {{8, 13, 8, 13}, {310, 7, 4, 543}, {165, 13, 8, 268}, {14, 13, 8, 23}, {-310, 7, 4, -543},
        {310, 7, -4, -543}, {-310, -7, 4, 543}, {0, 7, 4, 0}, {5, 7, 0, -1} /* divide by zero */,
        {INT_MAX, 2, 4, 1073741824} /* 64-bit intermediate */, {INT_MAX, 4, 2, -1} /* overflow */, {8, 96, 72, 11}};
    for (const auto& r : rows)
        EXPECT_EQ(MulDiv(r.a, r.b, r.c), r.expected) << r.a << "*" << r.b << "/" << r.c;
}

TEST(DialogUnits, EachCoordinateIsScaledOnItsOwn)
{
    const struct {
        DialogBaseUnits units;
        DuRect du;
        QRect pixels;
    } rows[] = {{{6, 13}, {0, 0, 0, 0}, {0, 0, 0, 0}}, {{6, 13}, {310, 165, 50, 14}, {465, 268, 75, 23}},
        {{6, 13}, {1, 1, 1, 1}, {2, 2, 2, 2}}, {{7, 13}, {310, 165, 50, 14}, {543, 268, 88, 23}},
        {{7, 13}, {5, 5, 295, 190}, {9, 8, 516, 309}}, {{8, 16}, {4, 8, 4, 8}, {8, 16, 8, 16}}};
    for (const auto& r : rows) {
        EXPECT_EQ(DialogUnitsToPixels(r.du, r.units), r.pixels);
        EXPECT_EQ(DialogUnitsToPixels(r.du.cx, r.du.cy, r.units), r.pixels.size());
    }
}

TEST(DialogUnits, TemplateFontAndItsBaseUnits)
{
    const QFont font = TemplateFont("MS Sans Serif", 8);
    EXPECT_EQ(font.pixelSize(), 11);
    EXPECT_EQ(font.hintingPreference(), QFont::PreferNoHinting);
    EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(TemplateFont("MS Sans Serif", 10).pixelSize(), 13);
    EXPECT_EQ(TemplateFont("DejaVu Sans Mono", 8).family(), QStringLiteral("DejaVu Sans Mono"));
    const DialogBaseUnits units = BaseUnitsOf(font);
    EXPECT_EQ(units.cx, 7);
    EXPECT_EQ(units.cy, 13);
}

TEST(TemplateDialog, EveryControlIsBuiltOnceAtItsTemplateRectangle)
{
    for (int id : kTemplateIds) {
        TemplateDialog dialog(id);
        const DialogTemplate& t = dialog.Template();
        SCOPED_TRACE(id);
        EXPECT_EQ(dialog.size(), QSize(MulDiv(t.cx, dialog.BaseUnits().cx, 4), MulDiv(t.cy, dialog.BaseUnits().cy, 8)));
        const QList<QWidget*> built = dialog.Controls();
        ASSERT_EQ(built.size(), static_cast<qsizetype>(t.controls.size()));
        std::set<int> ids;
        for (std::size_t i = 0; i < t.controls.size(); ++i) {
            const ControlTemplate& c = t.controls[i];
            QWidget* w = built[static_cast<qsizetype>(i)];
            EXPECT_EQ(w->parentWidget(), &dialog);
            EXPECT_EQ(w->property("controlId").toInt(), c.id);
            EXPECT_LE(c.rect.x + c.rect.cx, t.cx) << c.id << " lies outside the dialog";
            EXPECT_LE(c.rect.y + c.rect.cy, t.cy) << c.id << " lies outside the dialog";
            if (c.kind == ControlKind::StaticIcon)
                EXPECT_EQ(w->geometry(), QRect(dialog.MapDialogRect(c.rect).topLeft(), QSize(32, 32)));
            else
                EXPECT_EQ(w->geometry(), dialog.MapDialogRect(c.rect));
            if (c.id != IDC_STATIC) {
                EXPECT_TRUE(ids.insert(c.id).second) << "duplicate ID " << c.id;
                EXPECT_EQ(dialog.GetDlgItem(c.id), w);
            }
        }
        EXPECT_EQ(dialog.GetDlgItem(4242), nullptr);
    }
    EXPECT_EQ(FindDialogTemplate(0), nullptr);
    EXPECT_EQ(FindDialogTemplate(-1), nullptr);
}

TEST(TemplateDialog, ControlKindsStatesCaptionsAndIcons)
{
    TemplateDialog main(IDD_SORVINDACONFIG_DIALOG);
    ASSERT_NE(main.GetDlgItemAs<QTreeWidget>(IDC_DEVICE_LIST), nullptr);
    EXPECT_EQ(main.GetDlgItemAs<QTreeWidget>(IDC_DEVICE_LIST)->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(main.GetDlgItem(IDC_FILE)->isHidden());
    EXPECT_FALSE(main.GetDlgItem(IDC_FILE)->isEnabled());
    EXPECT_TRUE(main.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(main.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_NE(main.minimumSize(), main.maximumSize()); // sizing border

    TemplateDialog eth(IDD_ETHERNET_CONFIG);
    for (int id : {IDC_IPADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DNS1, IDC_DNS2})
        EXPECT_NE(eth.GetDlgItemAs<IpAddressEdit>(id), nullptr) << id;
    EXPECT_EQ(eth.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(eth.GetDlgItemAs<QLineEdit>(IDC_NEW_PASSWORD)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(eth.GetDlgItemAs<QLineEdit>(IDC_HOSTNAME)->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(eth.minimumSize(), eth.maximumSize()); // modal frame: fixed

    TemplateDialog about(IDD_ABOUTBOX);
    auto* icon = qobject_cast<QLabel*>(about.GetDlgItem(IDC_STATIC));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    EXPECT_EQ(about.GetDlgItemAs<QLabel>(IDC_VERSION)->textFormat(), Qt::PlainText);
    for (int size : {32, 16})
        EXPECT_TRUE(main.windowIcon().availableSizes().contains(QSize(size, size))) << size;
    EXPECT_EQ(LoadResourceString(IDS_ABOUTBOX), "&About SorvindaConfig...");
    EXPECT_TRUE(LoadResourceString(0).empty());
    EXPECT_TRUE(LoadResourceString(IDR_MAINFRAME).empty()); // an icon's ID names no string
}

TEST(TemplateDialog, TabOrderAndDefaultButtonFollowTheTemplate)
{
    const struct {
        int dialog;
        QList<int> order;
        int defaultId;
    } rows[] = {// File is hidden and skipped; Scan is the first of three default-styled buttons.
        {IDD_SORVINDACONFIG_DIALOG, {IDC_SCAN, IDOK, IDC_DEVICE_LIST, IDC_ADVANCED_OPTIONS, IDC_WINK}, IDC_SCAN},
        // The radio buttons are no tab stops.
        {IDD_ETHERNET_CONFIG,
            {IDOK, IDCANCEL, IDC_IPADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DNS1, IDC_DNS2, IDC_HOSTNAME,
                IDC_PASSWORD, IDC_NEW_PASSWORD, IDC_CHANGE_PASSWORD},
            IDOK},
        {IDD_ADVANCED_SETTINGS, {IDOK, IDCANCEL, IDC_ENABLE_DHCP_SERVER}, IDOK}, {IDD_ABOUTBOX, {IDOK}, IDOK}};
    for (const auto& r : rows) {
        TemplateDialog dialog(r.dialog);
        dialog.GetDlgItem(IDOK); // builds the controls
        EXPECT_EQ(dialog.DefaultButtonId(), r.defaultId) << r.dialog;
        QList<int> seen;
        testsupport::WhenModal<TemplateDialog>([&](TemplateDialog&) {
            for (int i = 0; i <= r.order.size(); ++i) { // the walk wraps round
                seen.append(ControlIdOf(QApplication::focusWidget()));
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
            dialog.EndDialog(IDCANCEL);
        });
        dialog.DoModal();
        EXPECT_EQ(seen, r.order + QList<int>{r.order.front()}) << r.dialog;
    }
    // Backtab from inside an address control leaves it as a whole.
    TemplateDialog eth(IDD_ETHERNET_CONFIG);
    testsupport::WhenModal<TemplateDialog>([&](TemplateDialog&) {
        eth.GetDlgItemAs<IpAddressEdit>(IDC_GATEWAY)->SetFieldFocus(2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        EXPECT_EQ(QApplication::focusWidget(), eth.GetDlgItemAs<IpAddressEdit>(IDC_SUBNET_MASK)->Field(0));
        eth.EndDialog(IDCANCEL);
    });
    eth.DoModal();
}

TEST(TemplateDialog, EnterPressesTheDefaultButtonEvenInACheckBox)
{
    TemplateDialog dialog(IDD_ADVANCED_SETTINGS);
    testsupport::WhenModal<TemplateDialog>([&](TemplateDialog&) {
        dialog.GetDlgItem(IDC_ENABLE_DHCP_SERVER)->setFocus();
        QTest::keyClick(dialog.GetDlgItem(IDC_ENABLE_DHCP_SERVER), Qt::Key_Return);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_FALSE(dialog.isVisible());
}

constexpr int kPasswordLimit = 29;

class ExchangeDialog : public TemplateDialog {
public:
    ExchangeDialog()
        : TemplateDialog(IDD_ETHERNET_CONFIG)
    {
    }
    QString password;
    int dhcp = -1, change = 0;
    std::uint32_t ip = 0;
    QLineEdit* hostEdit = nullptr;
    IpAddressEdit* wrongKind = reinterpret_cast<IpAddressEdit*>(1);
    QLineEdit* Edit(int id) { return GetDlgItemAs<QLineEdit>(id); }
    QAbstractButton* Button(int id) { return GetDlgItemAs<QAbstractButton>(id); }

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
    }
};

TEST(DataExchange, RadioAndCheckValuesBothWays)
{
    const struct {
        int dhcpIn;
        bool on, off;
        int dhcpOut;
    } radios[] = {{-1, false, false, -1}, {0, true, false, 0}, {1, false, true, 1}, {2, false, false, -1},
        {-1000, false, false, -1}};
    for (const auto& r : radios) {
        ExchangeDialog d;
        d.dhcp = 1;
        d.UpdateData(false); // a checked button that must be cleared
        EXPECT_EQ(d.hostEdit, d.GetDlgItem(IDC_HOSTNAME));
        EXPECT_EQ(d.wrongKind, nullptr); // a line edit is no address control
        d.dhcp = r.dhcpIn;
        d.UpdateData(false);
        EXPECT_EQ(d.Button(IDC_DHCP_ON)->isChecked(), r.on) << r.dhcpIn;
        EXPECT_EQ(d.Button(IDC_DHCP_OFF)->isChecked(), r.off) << r.dhcpIn;
        EXPECT_TRUE(d.UpdateData(true));
        EXPECT_EQ(d.dhcp, r.dhcpOut) << r.dhcpIn;
    }
    const struct {
        int in;
        Qt::CheckState state;
        int out;
    } checks[] = {{0, Qt::Unchecked, 0}, {1, Qt::Checked, 1}, {2, Qt::PartiallyChecked, 2}, {5, Qt::Unchecked, 0}};
    for (const auto& c : checks) {
        ExchangeDialog d;
        d.change = c.in;
        d.UpdateData(false);
        EXPECT_EQ(d.GetDlgItemAs<QCheckBox>(IDC_CHANGE_PASSWORD)->checkState(), c.state) << c.in;
        EXPECT_TRUE(d.UpdateData(true));
        EXPECT_EQ(d.change, c.out) << c.in;
    }
}

// The limit a load sets stops typing (the configure dialog's tests type
// past it). Saved without a prior load the edit has no limit: the check on
// save is the only guard, and it stops the pass (the check box is not read).
TEST(DataExchange, CharacterLimitFailsAnOverlongSave)
{
    MessageBoxRecorder boxes;
    ExchangeDialog d;
    d.Edit(IDC_PASSWORD)->setText(QString(kPasswordLimit + 1, QLatin1Char('x')));
    d.Button(IDC_CHANGE_PASSWORD)->setChecked(true);
    EXPECT_FALSE(d.UpdateData(true));
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Records()[0].text, QStringLiteral("Enter no more than 29 characters."));
    EXPECT_EQ(boxes.Records()[0].Icon(), MB_ICONEXCLAMATION);
    EXPECT_EQ(d.change, 0);
    d.Edit(IDC_PASSWORD)->setText(QString(kPasswordLimit, QLatin1Char('x')));
    EXPECT_TRUE(d.UpdateData(true));
    EXPECT_EQ(d.change, 1);
}

TEST(DataExchange, FailedCheckKeepsTheDialogOpenWithFocusOnTheField)
{
    MessageBoxRecorder boxes;
    ExchangeDialog d;
    testsupport::WhenModal<TemplateDialog>([&](TemplateDialog&) {
        d.Edit(IDC_PASSWORD)->setMaxLength(100); // as if the limit had not been loaded
        d.Edit(IDC_PASSWORD)->setText(QString(50, QLatin1Char('x')));
        QTest::mouseClick(d.GetDlgItem(IDOK), Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), d.GetDlgItem(IDC_PASSWORD));
        d.Edit(IDC_PASSWORD)->setText(QStringLiteral("ok"));
        QTest::mouseClick(d.GetDlgItem(IDOK), Qt::LeftButton);
    });
    EXPECT_EQ(d.DoModal(), IDOK);
    EXPECT_EQ(boxes.Count(), 1);
    EXPECT_EQ(d.password, QStringLiteral("ok"));
}

// The recorder stands in for the box in the other tests: it sees the
// request with its owner, and the caption defaulted.
TEST(MessageBox, RecorderSeesTheRequestWithItsOwnerAndDefaultedCaption)
{
    MessageBoxRecorder recorder(IDNO);
    QWidget owner;
    EXPECT_EQ(ShowMessageBox(&owner, QStringLiteral("Sure?"), QString(), MB_YESNO | MB_ICONQUESTION), IDNO);
    ASSERT_EQ(recorder.Count(), 1);
    EXPECT_EQ(recorder.Records()[0].parent.data(), &owner);
    EXPECT_EQ(recorder.Records()[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(recorder.Records()[0].caption, QStringLiteral("SorvindaConfig"));
}

TEST(MessageBox, RealBoxShowsIconButtonsAndPlainText)
{
    using B = QMessageBox;
    const struct {
        unsigned type;
        B::Icon icon;
        qsizetype buttons;
        B::StandardButton press; // NoButton: Escape
        int answer;
    } rows[] = {{MB_ICONEXCLAMATION, B::Warning, 1, B::NoButton, IDOK}, {MB_OK, B::NoIcon, 1, B::Ok, IDOK},
        {MB_OKCANCEL | MB_ICONINFORMATION, B::Information, 2, B::NoButton, IDCANCEL},
        {MB_YESNO | MB_ICONERROR, B::Critical, 2, B::NoButton, IDNO}, {MB_YESNO, B::NoIcon, 2, B::No, IDNO},
        {MB_YESNOCANCEL | MB_ICONQUESTION, B::Question, 3, B::Yes, IDYES},
        {MB_YESNOCANCEL, B::NoIcon, 3, B::NoButton, IDCANCEL}, {MB_RETRYCANCEL, B::NoIcon, 2, B::Retry, IDRETRY},
        {MB_RETRYCANCEL, B::NoIcon, 2, B::NoButton, IDCANCEL}, {MB_OKCANCEL, B::NoIcon, 2, B::Ok, IDOK}};
    SetMessageBoxHook({});
    std::size_t shown = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.type);
        testsupport::WhenModal<B>([&](B& box) {
            ++shown;
            EXPECT_EQ(box.windowTitle(), QStringLiteral("SorvindaConfig"));
            EXPECT_EQ(box.text(), QStringLiteral("<i>Text</i>"));
            EXPECT_EQ(box.icon(), r.icon);
            EXPECT_EQ(box.buttons().size(), r.buttons);
            if (r.press == B::NoButton)
                QTest::keyClick(&box, Qt::Key_Escape);
            else if (box.button(r.press) != nullptr)
                box.button(r.press)->click();
            else
                box.reject();
        });
        EXPECT_EQ(ShowMessageBox(nullptr, QStringLiteral("<i>Text</i>"), QString(), r.type), r.answer);
    }
    EXPECT_EQ(shown, std::size(rows));
}

class IpAddressEditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        edit.resize(200, 24);
        edit.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&edit));
    }
    QString Dotted() const
    {
        QStringList parts;
        for (int i = 0; i < IpAddressEdit::kFieldCount; ++i)
            parts << edit.Field(i)->text();
        return parts.join(QLatin1Char('.'));
    }
    int FocusedField() const
    {
        for (int i = 0; i < IpAddressEdit::kFieldCount; ++i) {
            if (edit.Field(i)->hasFocus())
                return i;
        }
        return -1;
    }
    // Each key goes to whichever field has the focus by then, as a user's do.
    static void Type(const QString& keys)
    {
        for (QChar c : keys)
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
    static void Key(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
    IpAddressEdit edit;
};

TEST_F(IpAddressEditTest, ValuesRoundTripAndTheBlankStateReadsZero)
{
    const struct {
        std::uint32_t address;
        const char* shown;
    } rows[] = {{0, "0.0.0.0"}, {0xC0A80001, "192.168.0.1"}, {0xFFFFFFFF, "255.255.255.255"}};
    for (const auto& r : rows) {
        edit.SetAddress(r.address);
        EXPECT_EQ(Dotted(), QString(r.shown));
        std::uint32_t back = 0x12345678;
        EXPECT_EQ(edit.GetAddress(back), 4);
        EXPECT_EQ(back, r.address);
        EXPECT_FALSE(edit.IsBlank()); // 0.0.0.0 is not blank
    }
    QSignalSpy changed(&edit, &IpAddressEdit::AddressChanged);
    edit.ClearAddress();
    EXPECT_GT(changed.count(), 0);
    EXPECT_TRUE(edit.IsBlank());
    std::uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(edit.GetAddress(value), 0);
    EXPECT_EQ(value, 0u);
    edit.Field(0)->setText(QStringLiteral("10"));
    edit.Field(3)->setText(QStringLiteral("7"));
    EXPECT_EQ(edit.GetAddress(value), 2); // the number of filled fields
    EXPECT_EQ(value, 0x0A000007u);
    edit.Field(1)->setText(QStringLiteral("300")); // set past the typing check: read as 255
    EXPECT_EQ(edit.GetAddress(value), 3);
    EXPECT_EQ(value, 0x0AFF0007u);
}

TEST_F(IpAddressEditTest, TypingMovesOnAndCorrects)
{
    const struct {
        const char* keys;
        const char* shown;
        int focused;
    } rows[] = {{"10.0.0.1", "10.0.0.1", 3}, {"192168001002", "192.168.001.002", 3},
        {"192.168.001.002", "192.168.001.002", 3}, {"999.300.256.1", "255.255.255.1", 3}, {"..5", "5...", 0},
        {"1a-2,b.3", "12.3..", 1}, {"1.2.3.4.5", "1.2.3.45", 3}, {"007.0.0.0", "007.0.0.0", 3},
        {"010.0.0.0", "010.0.0.0", 3}};
    for (const auto& r : rows) {
        edit.ClearAddress();
        edit.SetFieldFocus(0);
        Type(QString(r.keys));
        // What the fields show, and what GetAddress makes of it (decimal).
        EXPECT_EQ(Dotted(), QString(r.shown)) << r.keys;
        std::uint32_t value = 0;
        edit.GetAddress(value);
        if (const auto expected = IpAddressEdit::ParseDotted(QString(r.shown))) {
            EXPECT_EQ(value, *expected) << r.keys;
        }
        EXPECT_EQ(FocusedField(), r.focused) << r.keys;
    }
}

TEST_F(IpAddressEditTest, BackspaceArrowsAndDisabledState)
{
    edit.ClearAddress();
    edit.SetFieldFocus(0);
    Type(QStringLiteral("12.34."));
    EXPECT_EQ(FocusedField(), 2);
    Key(Qt::Key_Backspace); // empty field: back to field 1
    EXPECT_EQ(FocusedField(), 1);
    Key(Qt::Key_Backspace); // deletes the 4
    EXPECT_EQ(edit.Field(1)->text(), QStringLiteral("3"));
    for (int i = 0; i < 5; ++i) // field 0 has nowhere to go back to
        Key(Qt::Key_Backspace);
    EXPECT_EQ(FocusedField(), 0);
    EXPECT_TRUE(edit.IsBlank());

    edit.SetAddress(0x01020304);
    edit.Field(1)->setFocus();
    edit.Field(1)->end(false);
    QTest::keyClick(edit.Field(1), Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 2);
    EXPECT_EQ(edit.Field(2)->cursorPosition(), 0);
    QTest::keyClick(edit.Field(2), Qt::Key_Left);
    EXPECT_EQ(FocusedField(), 1);
    EXPECT_EQ(edit.Field(1)->cursorPosition(), 1);

    edit.ClearAddress();
    edit.setEnabled(false);
    QTest::keyClicks(edit.Field(0), QStringLiteral("12"));
    EXPECT_TRUE(edit.IsBlank());
    for (int i = 0; i < IpAddressEdit::kFieldCount; ++i)
        EXPECT_FALSE(edit.Field(i)->isEnabled());
}

TEST_F(IpAddressEditTest, PasteTakesAnAddressOrOneNumberAndRefusesTheRest)
{
    const struct {
        QString clipboard;
        bool taken;
        const char* shown; // the control holds 1.2.3.4 with field 1 focused
    } rows[] = {{"10.0.0.1", true, "10.0.0.1"}, {" 192.168.0.10\n", true, "192.168.0.10"}, {"77", true, "1.77.3.4"},
        {"300", true, "1.255.3.4"}, {"1.2.3", false, "1.2.3.4"}, {"1.2.3.4.5", false, "1.2.3.4"},
        {"a.b.c.d", false, "1.2.3.4"}, {"999.1.1.1", false, "1.2.3.4"}, {"0001.1.1.1", false, "1.2.3.4"},
        {"10..0.1", false, "1.2.3.4"}, {"+1.-2.3.4", false, "1.2.3.4"}, {"10. 0.0.1", false, "1.2.3.4"},
        {QString::fromUtf8("\xd9\xa1.2.3.4"), false, "1.2.3.4"}, {"", false, "1.2.3.4"},
        {QString(1000, QLatin1Char('9')), false, "1.2.3.4"}, {QString("1.").repeated(500), false, "1.2.3.4"},
        {"1234", false, "1.2.3.4"}, {"0.0.0.0", true, "0.0.0.0"}, {"255.255.255.255", true, "255.255.255.255"},
        {"256.0.0.0", false, "1.2.3.4"}, {"1.2.3.4.", false, "1.2.3.4"}, {"0x1.2.3.4", false, "1.2.3.4"}};
    for (const auto& r : rows) {
        edit.SetAddress(0x01020304);
        edit.SetFieldFocus(1);
        EXPECT_EQ(edit.PasteText(r.clipboard), r.taken) << r.clipboard.left(20).toStdString();
        EXPECT_EQ(Dotted(), QString(r.shown)) << r.clipboard.left(20).toStdString();
    }
    edit.ClearAddress();
    edit.SetFieldFocus(2);
    QApplication::clipboard()->setText(QStringLiteral("10.0.0.1"));
    QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
    EXPECT_EQ(Dotted(), QStringLiteral("10.0.0.1"));
    QApplication::clipboard()->setText(QStringLiteral("a.b.c.d"));
    QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
    EXPECT_EQ(Dotted(), QStringLiteral("10.0.0.1"));
}

} // namespace
