// Configuring a module without the library: the pre-fill and request
// mapping of the configure flow, the Ethernet configuration dialog driven
// through its controls, and the flow on a real device list whose sender is
// a recorder. Message boxes go to the ui layer's recorder.

#include "configdialog/ethernetconfigdlg.h"
#include "devicelist/configureflow.h"
#include "devicelist/devicelistctrl.h"
#include "modules/columnspec.h"
#include "modules/columntexts.h"
#include "resources/resourceids.h"
#include "tests/modules/records.h"
#include "tests/support/qtgtest.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using modules::buildConfigureRequest;
using modules::prefillConfigFields;
using testrecords::Address;
using testrecords::Record;
using R = QORT_ModuleScanResponseType;

constexpr std::uint32_t kIp = 0xC0A8000Au; // 192.168.0.10
constexpr std::uint32_t kMask = 0xFFFFFF00u;
constexpr std::uint32_t kGateway = 0xC0A80001u;
constexpr std::uint32_t kDns1 = 0x08080808u;
constexpr std::uint32_t kDns2 = 0x01010101u;
const char* const kIllegalHostName = "Illegal hostname! Only a-z, A-Z and 0-9 allowed.";
const char* const kLast255 = "Last digit of IP address can not be 255.";

Record Full()
{
    return Record()
        .Mac(0x00, 0x30, 0x11, 0x0A, 0xBC, 0x0F)
        .Ip(kIp)
        .Mask(kMask)
        .Gateway(kGateway)
        .Dns1(kDns1)
        .Dns2(kDns2)
        .Dhcp(1)
        .Pswd(1)
        .HostName("PLC1");
}

modules::EthernetConfigFields Prefill(const R& record)
{
    modules::EthernetConfigFields f;
    modules::prefillConfigFields(record, f);
    return f;
}

std::string Text(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return {field, ::strnlen(field, QORT_TEXT_FIELD_SIZE)};
}

QString Shown(const modules::ConfigText& field)
{
    const std::string_view text = modules::configTextView(field);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

TEST(ConfigurePrefill, ReportedValuesAreCopiedAndOthersMarkedUnknown)
{
    EXPECT_EQ(devicelist::ConfigureDialogTitle("00-30-11-0A-BC-0F"), "Configure: 00-30-11-0A-BC-0F");
    const modules::EthernetConfigFields f = Prefill(Full());
    EXPECT_EQ(std::vector<std::uint32_t>({f.IpAddr, f.SubnetMask, f.Gateway, f.Dns1, f.Dns2}),
        std::vector<std::uint32_t>({kIp, kMask, kGateway, kDns1, kDns2}));
    EXPECT_EQ(std::vector<int>({f.IpAddrValid, f.SubnetMaskValid, f.GatewayValid, f.Dns1Valid, f.Dns2Valid,
                  f.HostNameValid, f.DhcpChoice, f.PasswordProtected}),
        std::vector<int>({1, 1, 1, 1, 1, 1, modules::kDhcpChoiceOn, 1}));
    EXPECT_EQ(modules::configTextView(f.HostName), "PLC1");

    // Valid bytes of 0, or anything but 1, count as not reported.
    const modules::EthernetConfigFields none = Prefill(Record());
    const modules::EthernetConfigFields odd = Prefill(Full().Valid(&R::IpAddrValid, 2).Valid(&R::HostNameValid, 0xFF));
    EXPECT_EQ(
        std::vector<int>({none.IpAddrValid, none.SubnetMaskValid, none.GatewayValid, none.Dns1Valid, none.Dns2Valid,
            none.HostNameValid, none.DhcpChoice, none.PasswordProtected, odd.IpAddrValid, odd.HostNameValid}),
        std::vector<int>({0, 0, 0, 0, 0, 0, modules::kDhcpChoiceOff, 0, 0, 0}));
    EXPECT_EQ(modules::configTextView(none.HostName), ""); // not the unterminated 0xFF bytes
    EXPECT_EQ(modules::configTextView(odd.HostName), "");
}

TEST(ConfigurePrefill, DhcpRadioAndPasswordFlag)
{
    const struct {
        std::uint8_t valid, value;
        std::int32_t dhcpChoice, passwordProtected;
    } rows[] = {{1, 1, modules::kDhcpChoiceOn, 1}, {1, 0, modules::kDhcpChoiceOff, 0},
        // Neither on nor off: the list shows "Off", the dialog "On".
        {1, 0xFF, modules::kDhcpChoiceOn, 1}, {0, 0xFF, modules::kDhcpChoiceOff, 0},
        {0, 1, modules::kDhcpChoiceOff, 0}};
    for (const auto& r : rows) {
        const R record = Full().Dhcp(r.value).Valid(&R::DhcpValid, r.valid).Pswd(r.value).Valid(&R::PswdValid, r.valid);
        EXPECT_EQ(Prefill(record).DhcpChoice, r.dhcpChoice) << int(r.valid) << "/" << int(r.value);
        EXPECT_EQ(Prefill(record).PasswordProtected, r.passwordProtected) << int(r.valid) << "/" << int(r.value);
    }
}

TEST(ConfigurePrefill, HostNameOfAnyLengthIsCutTo29AndSentSo)
{
    for (std::size_t length = 0; length <= QORT_TEXT_FIELD_SIZE; ++length) {
        const std::string name(length, 'h'); // the longest fills the field without terminator
        const R record = Full().HostName(name);
        const modules::EthernetConfigFields f = Prefill(record);
        EXPECT_EQ(modules::configTextView(f.HostName), name.substr(0, modules::kConfigTextMaxChars)) << length;
        EXPECT_EQ(
            Text(modules::buildConfigureRequest(record, f).HostName), name.substr(0, modules::kConfigTextMaxChars))
            << length;
    }
    // A text that fills its whole field is copied within the field.
    modules::EthernetConfigFields f = Prefill(Full());
    std::memset(f.HostName, 'w', modules::kConfigTextSize);
    EXPECT_EQ(Text(modules::buildConfigureRequest(Full(), f).HostName), std::string(modules::kConfigTextSize, 'w'));
}

TEST(ConfigureRequest, DhcpAndNewPasswordMapping)
{
    const struct {
        std::int32_t dhcpChoice;
        std::uint8_t dhcp;
    } dhcps[] = {{modules::kDhcpChoiceOn, 1}, {modules::kDhcpChoiceOff, 0}, {modules::kDhcpChoiceNone, 0}};
    for (const auto& r : dhcps) {
        modules::EthernetConfigFields f = Prefill(Full());
        f.DhcpChoice = r.dhcpChoice;
        EXPECT_EQ(modules::buildConfigureRequest(Full(), f).Dhcp, r.dhcp) << r.dhcpChoice;
    }
    const struct {
        std::int32_t change;
        std::uint8_t sent;
        const char* newPassword;
    } changes[] = {{0, 0, ""}, {1, 1, "typed"}, {2, 0, ""}};
    for (const auto& r : changes) {
        modules::EthernetConfigFields f = Prefill(Full());
        modules::storeConfigText(f.Password, "secret");
        modules::storeConfigText(f.NewPassword, "typed");
        f.ChangePassword = r.change;
        const QORT_ConfigureRequestType q = modules::buildConfigureRequest(Full(), f);
        EXPECT_EQ(Text(q.Password), "secret");
        EXPECT_EQ(q.ChangePassword, r.sent) << r.change;
        EXPECT_EQ(Text(q.NewPassword), r.newPassword) << r.change;
        for (const char* field : {q.Password, q.NewPassword, q.HostName}) {
            for (std::size_t i = ::strnlen(field, QORT_TEXT_FIELD_SIZE); i < QORT_TEXT_FIELD_SIZE; ++i)
                ASSERT_EQ(field[i], '\0') << "byte " << i << " is not zero-filled";
        }
    }
}

class ConfigDialogTest : public ::testing::Test {
protected:
    // A module with IP, mask, gateway and host name "PLC1", DHCP off.
    void SetUp() override
    {
        static_cast<modules::EthernetConfigFields&>(d) =
            Prefill(Full().Dhcp(0).Pswd(0).Valid(&R::Dns1Valid, 0).Valid(&R::Dns2Valid, 0));
    }
    int Run(std::function<void()> script)
    {
        testsupport::WhenModal<CEthernetConfigDlg>([script = std::move(script)](CEthernetConfigDlg&) { script(); });
        return d.DoModal();
    }
    QLineEdit* Edit(int id) { return d.GetDlgItemAs<QLineEdit>(id); }
    IpAddressEdit* Address(int id) { return d.GetDlgItemAs<IpAddressEdit>(id); }
    void Click(int id) { QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(id), Qt::LeftButton); }
    void Type(int id, const QString& text)
    {
        Edit(id)->setFocus();
        Edit(id)->selectAll();
        if (text.isEmpty())
            QTest::keyClick(Edit(id), Qt::Key_Delete);
        else
            Edit(id)->insert(text); // as typing or a paste does, also beyond ASCII
    }
    MessageBoxRecorder boxes;
    CEthernetConfigDlg d;
};

TEST_F(ConfigDialogTest, UnreportedValuesAreLockedBlankAndReadBackAsZero)
{
    d.IpAddrValid = 2; // anything but 1 is not reported
    d.SubnetMaskValid = d.GatewayValid = d.HostNameValid = 0;
    EXPECT_EQ(Run([&] {
        EXPECT_TRUE(!Edit(IDC_HOSTNAME)->isEnabled() && Edit(IDC_HOSTNAME)->text().isEmpty());
        for (int id : {IDC_IPADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_DNS1, IDC_DNS2})
            EXPECT_TRUE(Address(id)->IsBlank() && !Address(id)->isEnabled()) << id;
        Click(IDOK);
    }),
        IDOK);
    EXPECT_EQ(std::vector<std::uint32_t>({d.IpAddr, d.SubnetMask, d.Gateway, d.Dns1, d.Dns2}),
        std::vector<std::uint32_t>(5, 0));
    EXPECT_EQ(Shown(d.HostName), QString());
    EXPECT_EQ(boxes.Count(), 0);
}

// Set checks the host name first, then the address, and keeps the dialog
// open with one box per refusal until both are right. The accepted sets of
// names and addresses are the checks' own tables (configure_test.cpp); here
// also text that is not ASCII on its way from the edit.
TEST_F(ConfigDialogTest, SetRefusesUntilTheHostNameAndTheAddressAreRight)
{
    const struct {
        QString host; // empty: left as typed before
        QString ip;   // empty: left as before
        const char* message;
    } steps[] = {{"plc 1", "192.168.0.255", kIllegalHostName}, {QStringLiteral("pl\u00E4tz"), "", kIllegalHostName},
        {QStringLiteral("plc\u20AC"), "", kIllegalHostName}, {QString(40, QLatin1Char('a')), "", kLast255},
        {"", "255.255.255.254", nullptr}};
    QStringList expected;
    EXPECT_EQ(Run([&] {
        for (const auto& step : steps) {
            if (!step.host.isEmpty())
                Type(IDC_HOSTNAME, step.host);
            if (!step.ip.isEmpty())
                Address(IDC_IPADDRESS)->PasteText(step.ip);
            Click(IDOK);
            if (step.message != nullptr) {
                expected << step.message;
                EXPECT_TRUE(d.isVisible()) << step.message;
            }
        }
    }),
        IDOK);
    QStringList messages;
    for (const MessageBoxRequest& box : boxes.Records()) {
        messages << box.text;
        EXPECT_EQ(box.Buttons(), MB_OK);
        EXPECT_EQ(box.caption, QString::fromLatin1(kDefaultMessageBoxCaption));
    }
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(d.IpAddr, 0xFFFFFFFEu);
    EXPECT_EQ(Shown(d.HostName), QString(29, QLatin1Char('a')));               // cut to 29
    EXPECT_EQ(Run([&] { Type(IDC_HOSTNAME, QString()), Click(IDOK); }), IDOK); // an empty host name is legal
    EXPECT_EQ(boxes.Count(), messages.size());
}

// The .255 rule is for an address the user types: a module that sits on
// one in a wider subnet can still be renamed, and typing another is refused.
TEST_F(ConfigDialogTest, TheAddressItOpenedWithIsNeverRefused)
{
    constexpr std::uint32_t kReported = 0x0A0100FFu; // 10.1.0.255 in a /16
    d.IpAddr = kReported;
    d.SubnetMask = 0xFFFF0000u;
    EXPECT_EQ(Run([&] {
        Type(IDC_HOSTNAME, "plc2");
        Address(IDC_IPADDRESS)->PasteText("10.1.1.255");
        Click(IDOK);
        EXPECT_TRUE(d.isVisible()) << "a typed .255 is refused";
        Address(IDC_IPADDRESS)->PasteText("10.1.0.255");
        Click(IDOK);
    }),
        IDOK);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Records()[0].text, QString::fromLatin1(kLast255));
    EXPECT_EQ(d.IpAddr, kReported);
    EXPECT_EQ(Shown(d.HostName), QStringLiteral("plc2"));
}

TEST_F(ConfigDialogTest, PasswordEditsFollowProtectionAndTheChangeBox)
{
    for (int isProtected : {0, 1}) {
        CEthernetConfigDlg dialog;
        dialog.PasswordProtected = isProtected;
        bool readOnly = false;
        testsupport::WhenModal<CEthernetConfigDlg>([&](CEthernetConfigDlg&) {
            readOnly = dialog.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->isReadOnly();
            QTest::keyClicks(dialog.GetDlgItem(IDC_PASSWORD), QStringLiteral("secret"));
            QTest::mouseClick(dialog.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(readOnly, isProtected == 0);
        EXPECT_EQ(Shown(dialog.Password), isProtected ? QStringLiteral("secret") : QString());
    }
    d.PasswordProtected = 1;
    const QString forty(40, QLatin1Char('p'));
    EXPECT_EQ(Run([&] {
        Type(IDC_PASSWORD, forty);
        EXPECT_EQ(Edit(IDC_PASSWORD)->text().size(), 29);
        EXPECT_TRUE(Edit(IDC_NEW_PASSWORD)->isReadOnly());
        Click(IDC_CHANGE_PASSWORD);
        EXPECT_FALSE(Edit(IDC_NEW_PASSWORD)->isReadOnly());
        Type(IDC_NEW_PASSWORD, forty);
        EXPECT_EQ(Edit(IDC_NEW_PASSWORD)->text().size(), 29);
        Click(IDC_CHANGE_PASSWORD);
        EXPECT_TRUE(Edit(IDC_NEW_PASSWORD)->isReadOnly());
        Click(IDC_DHCP_ON); // touches no address control
        EXPECT_TRUE(Address(IDC_IPADDRESS)->isEnabled() && Address(IDC_GATEWAY)->isEnabled());
        EXPECT_FALSE(d.GetDlgItemAs<QAbstractButton>(IDC_DHCP_OFF)->isChecked()); // one radio group
        Click(IDOK);
    }),
        IDOK);
    EXPECT_EQ(Shown(d.Password), forty.left(29));
    EXPECT_EQ(Shown(d.NewPassword), forty.left(29)); // handed back; the flow does not send it unchecked
    EXPECT_EQ(d.ChangePassword, 0);
    EXPECT_EQ(d.DhcpChoice, modules::kDhcpChoiceOn);
    EXPECT_EQ(std::vector<std::uint32_t>({d.IpAddr, d.SubnetMask, d.Gateway}),
        std::vector<std::uint32_t>({kIp, kMask, kGateway}));
}

// A module's own name shows as UTF-8 when it is UTF-8, else as
// Windows-1252; left as it is, it goes back as the same bytes and is not
// held to the rule for typed names (a hyphen, a byte above 127); a typed
// name is.
TEST_F(ConfigDialogTest, AReportedNameShowsReadablyAndGoesBackAsItsBytes)
{
    const struct {
        const char* what;
        std::string reported;
        QString shown;
        QString typed; // empty: left as it is
        int boxes;
        std::string back;
    } rows[] = {
        {"UTF-8", "K\xC3\xBChlung", QString::fromUtf8("K\xC3\xBChlung"), {}, 0, "K\xC3\xBChlung"},
        {"Windows-1252", "K\xFChlung", QString::fromUtf8("K\xC3\xBChlung"), {}, 0, "K\xFChlung"},
        {"hyphen left", "press-line-1", "press-line-1", {}, 0, "press-line-1"},
        {"hyphen typed", "press1", "press1", "press-2", 1, "press1"},
        {"replaced", "K\xFChlung", QString::fromUtf8("K\xC3\xBChlung"), "Kuehlung", 0, "Kuehlung"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        boxes.Clear();
        CEthernetConfigDlg dialog;
        static_cast<modules::EthernetConfigFields&>(dialog) = Prefill(Full().HostName(r.reported));
        QString shown;
        testsupport::WhenModal<CEthernetConfigDlg>([&](CEthernetConfigDlg&) {
            auto* edit = dialog.GetDlgItemAs<QLineEdit>(IDC_HOSTNAME);
            shown = edit->text();
            if (!r.typed.isEmpty())
                edit->setText(r.typed);
            QTest::mouseClick(dialog.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
            if (dialog.isVisible()) // refused: put the module's name back
                edit->setText(shown), QTest::mouseClick(dialog.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(shown, r.shown);
        EXPECT_EQ(boxes.Count(), r.boxes);
        EXPECT_EQ(std::string(modules::configTextView(dialog.HostName)), r.back);
    }
}

// A read-only edit looks read-only: the window's colour behind its text.
TEST_F(ConfigDialogTest, ReadOnlyEditsLookReadOnly)
{
    const auto base = [&](int id) { return Edit(id)->palette().color(QPalette::Active, QPalette::Base); };
    const QColor window = QApplication::palette().color(QPalette::Active, QPalette::Window);
    const QColor writable = QApplication::palette().color(QPalette::Active, QPalette::Base);
    ASSERT_NE(window, writable) << "the style draws edits and windows alike; nothing to tell apart";
    d.PasswordProtected = 0;
    EXPECT_EQ(Run([&] {
        EXPECT_EQ(base(IDC_PASSWORD), window);
        EXPECT_EQ(base(IDC_NEW_PASSWORD), window);
        EXPECT_EQ(base(IDC_HOSTNAME), writable);
        Click(IDC_CHANGE_PASSWORD);
        EXPECT_EQ(base(IDC_NEW_PASSWORD), writable);
        Click(IDC_CHANGE_PASSWORD);
        EXPECT_EQ(base(IDC_NEW_PASSWORD), window);
        Click(IDCANCEL);
    }),
        IDCANCEL);
}

TEST_F(ConfigDialogTest, CancelEscapeAndCloseBoxCheckNothing)
{
    for (int how = 0; how < 3; ++how) {
        d.IpAddr = kIp;
        EXPECT_EQ(Run([&] {
            Edit(IDC_HOSTNAME)->setText(QStringLiteral("bad name"));
            Address(IDC_IPADDRESS)->SetAddress(0xC0A800FFu);
            if (how == 0)
                Click(IDCANCEL);
            else if (how == 1)
                QTest::keyClick(&d, Qt::Key_Escape);
            else
                d.close();
        }),
            IDCANCEL)
            << how;
        EXPECT_EQ(boxes.Count(), 0) << how;
        // Read back all the same: addresses from the controls, texts from the
        // last saving exchange (none here).
        EXPECT_EQ(d.IpAddr, 0xC0A800FFu) << how;
        EXPECT_EQ(Shown(d.HostName), QString()) << how;
    }
}

class ConfigureFlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        list.resize(700, 300);
        list.InitColumns(modules::kDeviceListColumnSpec);
        list.AddModule(first);
        list.AddModule(second);
        devicelist::AttachConfigureFlow(list, [this](const QORT_ConfigureRequestType& r) { sent.push_back(r); });
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }
    static Record Module(std::uint8_t mac, std::uint32_t ip, const char* type)
    {
        return Record()
            .Mac(mac)
            .Ip(ip)
            .Mask(0xFFFFFF00u)
            .Gateway((ip & 0xFFFFFF00u) | 1)
            .Dhcp(1)
            .Pswd(0)
            .Type(type)
            .HostName("plc");
    }
    // Double-clicks the cell; the whole modal dialog runs before it returns.
    void DoubleClick(int row, int column)
    {
        QTest::mouseDClick(
            list.viewport(), Qt::LeftButton, {}, list.visualRect(list.model()->index(row, column)).center());
    }
    static modules::MacAddress MacOf(const std::uint8_t* bytes)
    {
        modules::MacAddress mac;
        std::memcpy(mac.data(), bytes, mac.size());
        return mac;
    }
    CDeviceListCtrl list;
    std::vector<QORT_ConfigureRequestType> sent;
    const R first = Module(0x01, kIp, "PROFIBUS");
    const R second = Module(0x02, Address(192, 168, 0, 20), "CANopen").Dns1(kDns1);
};

// The dialog shows the module double-clicked; its values reach the request
// (the pre-fill and the mapping are the tables above, the controls the
// dialog's tests).
TEST_F(ConfigureFlowTest, DoubleClickAnywhereInARowConfiguresThatModule)
{
    testsupport::WhenModal<CEthernetConfigDlg>([&](CEthernetConfigDlg& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Configure: 00-30-11-00-00-02"));
        EXPECT_FALSE(d.windowIcon().isNull());
        d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->SetAddress(Address(192, 168, 0, 99));
        QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
    });
    DoubleClick(1, modules::kColumnType); // rows sorted by IP: the second module
    ASSERT_EQ(sent.size(), 1u);
    const QORT_ConfigureRequestType& q = sent[0];
    EXPECT_EQ(MacOf(q.MacId), MacOf(second.MacId));
    EXPECT_EQ(std::vector<std::uint32_t>({q.IpAddr, q.SubnetMask, q.Gateway, q.Dns1, q.Dns2}),
        std::vector<std::uint32_t>({Address(192, 168, 0, 99), kMask, kGateway, kDns1, 0}));
    EXPECT_EQ(std::vector<int>({q.Dhcp, q.ChangePassword}), std::vector<int>({1, 0}));
    EXPECT_EQ(Text(q.Password), "");
    EXPECT_EQ(Text(q.HostName), "plc");
    EXPECT_EQ(list.GetLastConfiguredMac(), MacOf(second.MacId));
    EXPECT_EQ(list.GetItemText(1, modules::kColumnIp), QStringLiteral("192.168.0.20")); // no rescan here
}

TEST_F(ConfigureFlowTest, NothingIsSentWithoutARowOrAfterCancel)
{
    // No dialog may open here: the watchdog would close it and fail the test.
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, QPoint(50, list.viewport()->height() - 5));
    EXPECT_FALSE(
        devicelist::RunConfigureFlow(list, 99, [this](const QORT_ConfigureRequestType& r) { sent.push_back(r); }));

    testsupport::WhenModal<CEthernetConfigDlg>(
        [](CEthernetConfigDlg& d) { QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton); });
    DoubleClick(0, modules::kColumnMac);
    bool ran = false;
    testsupport::WhenModal<CEthernetConfigDlg>([&](CEthernetConfigDlg& d) {
        ran = true;
        d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->SetAddress(0x0A000001u);
        QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDCANCEL), Qt::LeftButton);
    });
    DoubleClick(1, modules::kColumnIp);
    EXPECT_TRUE(ran);
    ASSERT_EQ(sent.size(), 1u); // only the first, confirmed one
    EXPECT_EQ(list.GetLastConfiguredMac(), MacOf(first.MacId));
}

// A Set that changes the IP asks who holds the new address first; an
// address in use asks the user, No the default, and No sends nothing and
// opens the dialog again with the user's edits.
TEST_F(ConfigureFlowTest, ASetToAnAddressInUseAsksAndNoSendsNothing)
{
    const R fixed = Module(0x05, Address(192, 168, 0, 30), "EtherCAT").Dhcp(0);
    list.AddModule(fixed);
    const std::uint32_t taken = Address(192, 168, 0, 20);
    const struct {
        const char* name;
        std::uint32_t ip;
        bool inUse;
        int answer;
        int checks, boxes, sent, refused;
    } cases[] = {
        {"IP unchanged: not checked", Address(192, 168, 0, 30), true, IDNO, 0, 0, 1, 0},
        {"free address", Address(192, 168, 0, 99), false, IDNO, 1, 0, 1, 0},
        {"in use, No", taken, true, IDNO, 1, 1, 0, 1},
        {"in use, Yes", taken, true, IDYES, 1, 1, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        int checks = 0, refused = 0;
        MessageBoxRecorder boxes(c.answer);
        const devicelist::ConfigureHooks hooks{[this](const QORT_ConfigureRequestType& r) { sent.push_back(r); },
            [&](std::uint32_t ip, const modules::MacAddress& module, const std::vector<R>& scan) {
                ++checks;
                EXPECT_EQ(ip, c.ip);
                EXPECT_EQ(module, MacOf(fixed.MacId));
                EXPECT_EQ(scan.size(), 3u);
                commissioning::AddressUse use;
                use.inUse = c.inUse;
                use.holder = MacOf(second.MacId);
                use.holderIsModule = true;
                return use;
            },
            [&](const R& before, const QORT_ConfigureRequestType& r) {
                ++refused;
                EXPECT_EQ(MacOf(before.MacId), MacOf(r.MacId));
            },
            {}};
        // The first dialog sets the address; after No the dialog opens again
        // with that edit, and is cancelled.
        std::vector<std::uint32_t> shownAgain;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            auto* d = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget());
            if (d == nullptr || !d->isVisible() || d->property("seen").toBool())
                return;
            d->setProperty("seen", true);
            auto* ip = d->GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS);
            if (shownAgain.empty() && checks == 0 && sent.empty() && refused == 0) {
                ip->SetAddress(c.ip);
                QTest::mouseClick(d->GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
                return;
            }
            std::uint32_t shown = 0;
            ip->GetAddress(shown);
            shownAgain.push_back(shown);
            QTest::mouseClick(d->GetDlgItemAs<QAbstractButton>(IDCANCEL), Qt::LeftButton);
        });
        user.start(10);
        EXPECT_EQ(devicelist::RunConfigureFlow(list, 2, hooks), c.sent == 1); // rows in IP order
        user.stop();
        EXPECT_EQ(std::vector<int>({checks, boxes.Count(), int(sent.size()), refused}),
            std::vector<int>({c.checks, c.boxes, c.sent, c.refused}));
        EXPECT_EQ(shownAgain, c.refused == 1 ? std::vector<std::uint32_t>{c.ip} : std::vector<std::uint32_t>{});
        if (boxes.Count() == 1) {
            EXPECT_EQ(boxes.Records()[0].text,
                QStringLiteral("The address 192.168.0.20 is already used by module 00-30-11-00-00-02. Set it anyway?"));
            EXPECT_EQ(boxes.Records()[0].type, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2);
        }
    }
}

// A reported name longer than a request holds is never shortened without
// the user's word: left as it is, Set asks; No opens the dialog again, Yes
// sends the name as shortened.
TEST_F(ConfigureFlowTest, ANameTooLongToWriteBackIsShortenedOnlyWhenTheUserSaysSo)
{
    const std::string forty(40, 'n');
    list.AddModule(Module(0x07, Address(192, 168, 0, 40), "IO").HostName(forty));
    for (const int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
        sent.clear();
        MessageBoxRecorder boxes(answer);
        int dialogs = 0;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            auto* d = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget());
            if (d == nullptr || !d->isVisible() || d->property("seen").toBool())
                return;
            d->setProperty("seen", true);
            ++dialogs;
            QTest::mouseClick(d->GetDlgItemAs<QAbstractButton>(dialogs == 1 ? IDOK : IDCANCEL), Qt::LeftButton);
        });
        user.start(10);
        EXPECT_EQ(
            devicelist::RunConfigureFlow(list, 2, [this](const QORT_ConfigureRequestType& r) { sent.push_back(r); }),
            answer == IDYES);
        user.stop();
        ASSERT_EQ(boxes.Count(), 1);
        EXPECT_EQ(boxes.Records()[0].text,
            QStringLiteral("The module's host name \"%1\" has 40 bytes; a module takes at most 29. Send it shortened "
                           "to \"%2\"?")
                .arg(QString::fromStdString(forty), QString::fromStdString(forty.substr(0, 29))));
        EXPECT_EQ(boxes.Records()[0].type, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        EXPECT_EQ(dialogs, answer == IDYES ? 1 : 2);
        ASSERT_EQ(sent.size(), answer == IDYES ? 1u : 0u);
        if (!sent.empty()) {
            EXPECT_EQ(Text(sent[0].HostName), forty.substr(0, 29));
        }
    }
}

TEST_F(ConfigureFlowTest, ARescanWhileTheDialogIsOpenStillConfiguresTheModuleFound)
{
    testsupport::WhenModal<CEthernetConfigDlg>([&](CEthernetConfigDlg& d) {
        list.ClearModules(); // what a "Reconfigured:" notice of another module does meanwhile
        list.AddModule(Module(0x03, 0x0A000001u, "Modbus"));
        QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
    });
    DoubleClick(0, modules::kColumnType);
    testsupport::WhenModal<CEthernetConfigDlg>(
        [](CEthernetConfigDlg& d) { QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton); });
    DoubleClick(0, modules::kColumnDhcp);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(MacOf(sent[0].MacId), MacOf(first.MacId));
    EXPECT_EQ(sent[0].IpAddr, kIp);
    EXPECT_EQ(MacOf(sent[1].MacId), (modules::MacAddress{0x00, 0x30, 0x11, 0x00, 0x00, 0x03}));
    EXPECT_EQ(list.GetLastConfiguredMac(), MacOf(sent[1].MacId)); // the latest confirmed request
}

} // namespace
