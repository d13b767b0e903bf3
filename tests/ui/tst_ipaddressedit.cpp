// IPv4 address control: value round trips, typing and field navigation,
// correction above 255, the blank state, and pastes - good and hostile.

#include "ui/ipaddressedit.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include <cstdint>

Q_DECLARE_METATYPE(std::uint32_t)

namespace {

QString Dotted(const IpAddressEdit& edit)
{
    QStringList parts;
    for (int i = 0; i < IpAddressEdit::kFieldCount; ++i)
        parts << edit.Field(i)->text();
    return parts.join(QLatin1Char('.'));
}

int FocusedField(const IpAddressEdit& edit)
{
    for (int i = 0; i < IpAddressEdit::kFieldCount; ++i) {
        if (edit.Field(i)->hasFocus())
            return i;
    }
    return -1;
}

// Types each character into whichever widget has the focus by then, as a
// user's keystrokes would go.
void Type(const QString& keys)
{
    for (QChar c : keys)
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
}

} // namespace

class TestIpAddressEdit : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void setAndGetRoundTrip_data();
    void setAndGetRoundTrip();
    void blankState();
    void partlyFilledCountsFields();
    void typing_data();
    void typing();
    void backspaceInEmptyFieldMovesBack();
    void arrowsCrossFieldBorders();
    void disabledTakesNoInput();
    void paste_data();
    void paste();
    void pasteByKeyboard();
    void parseDotted_data();
    void parseDotted();

private:
    IpAddressEdit* edit_ = nullptr;
};

void TestIpAddressEdit::init()
{
    edit_ = new IpAddressEdit;
    edit_->resize(200, 24);
    edit_->show();
    QVERIFY(QTest::qWaitForWindowActive(edit_));
    edit_->SetFieldFocus(0);
}

void TestIpAddressEdit::cleanup()
{
    delete edit_;
    edit_ = nullptr;
}

void TestIpAddressEdit::setAndGetRoundTrip_data()
{
    QTest::addColumn<std::uint32_t>("address");
    QTest::addColumn<QString>("shown");
    QTest::newRow("zero is not blank") << std::uint32_t{0} << "0.0.0.0";
    QTest::newRow("first field is the high byte") << std::uint32_t{0xC0A80001} << "192.168.0.1";
    QTest::newRow("all ones") << std::uint32_t{0xFFFFFFFF} << "255.255.255.255";
    QTest::newRow("recovery address") << std::uint32_t{0x0AC8010F} << "10.200.1.15";
}

void TestIpAddressEdit::setAndGetRoundTrip()
{
    QFETCH(std::uint32_t, address);
    QFETCH(QString, shown);
    edit_->SetAddress(address);
    QCOMPARE(Dotted(*edit_), shown);
    std::uint32_t back = 0x12345678;
    QCOMPARE(edit_->GetAddress(back), 4);
    QCOMPARE(back, address);
    QVERIFY(!edit_->IsBlank());
}

void TestIpAddressEdit::blankState()
{
    edit_->SetAddress(0x01020304);
    QSignalSpy changed(edit_, &IpAddressEdit::AddressChanged);
    edit_->ClearAddress();
    QVERIFY(changed.count() > 0);
    QVERIFY(edit_->IsBlank());
    std::uint32_t value = 0xDEADBEEF;
    QCOMPARE(edit_->GetAddress(value), 0);
    QCOMPARE(value, std::uint32_t{0});
}

void TestIpAddressEdit::partlyFilledCountsFields()
{
    edit_->ClearAddress();
    edit_->Field(0)->setText(QStringLiteral("10"));
    edit_->Field(3)->setText(QStringLiteral("7"));
    std::uint32_t value = 0;
    QCOMPARE(edit_->GetAddress(value), 2);
    QCOMPARE(value, std::uint32_t{0x0A000007});
    QVERIFY(!edit_->IsBlank());
}

void TestIpAddressEdit::typing_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("focusedField");
    QTest::newRow("dots move on") << "10.0.0.1"
                                  << "10.0.0.1" << 3;
    QTest::newRow("three digits move on") << "192168001002"
                                          << "192.168.1.2" << 3;
    QTest::newRow("full fields then dot do not skip") << "192.168.001.002"
                                                      << "192.168.1.2" << 3;
    QTest::newRow("above 255 corrected") << "999.300.256.1"
                                         << "255.255.255.1" << 3;
    QTest::newRow("dot in empty field stays") << "..5"
                                              << "5..." << 0;
    QTest::newRow("letters and signs ignored") << "1a-2,b.3"
                                               << "12.3.." << 1;
    QTest::newRow("fourth dot ignored") << "1.2.3.4.5"
                                        << "1.2.3.45" << 3;
    QTest::newRow("leading zeros read as value") << "007.0.0.0"
                                                 << "7.0.0.0" << 3;
}

void TestIpAddressEdit::typing()
{
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(int, focusedField);
    edit_->ClearAddress();
    edit_->SetFieldFocus(0);
    Type(keys);
    std::uint32_t value = 0;
    edit_->GetAddress(value);
    // Compare by value, so that "007" and "7" are the same address.
    const auto expected = IpAddressEdit::ParseDotted(shown);
    if (expected) {
        QCOMPARE(value, *expected);
    } else {
        QCOMPARE(Dotted(*edit_), shown);
    }
    QCOMPARE(FocusedField(*edit_), focusedField);
}

void TestIpAddressEdit::backspaceInEmptyFieldMovesBack()
{
    edit_->ClearAddress();
    edit_->SetFieldFocus(0);
    Type(QStringLiteral("12.34."));
    QCOMPARE(FocusedField(*edit_), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace); // empty: back to field 1
    QCOMPARE(FocusedField(*edit_), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace); // deletes the 4
    QCOMPARE(edit_->Field(1)->text(), QStringLiteral("3"));
    QCOMPARE(FocusedField(*edit_), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QCOMPARE(FocusedField(*edit_), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace); // field 0: nowhere to go
    QCOMPARE(FocusedField(*edit_), 0);
    QVERIFY(edit_->IsBlank());
}

void TestIpAddressEdit::arrowsCrossFieldBorders()
{
    edit_->SetAddress(0x01020304);
    edit_->Field(1)->setFocus();
    edit_->Field(1)->end(false);
    QTest::keyClick(edit_->Field(1), Qt::Key_Right);
    QCOMPARE(FocusedField(*edit_), 2);
    QCOMPARE(edit_->Field(2)->cursorPosition(), 0);
    QTest::keyClick(edit_->Field(2), Qt::Key_Left);
    QCOMPARE(FocusedField(*edit_), 1);
    QCOMPARE(edit_->Field(1)->cursorPosition(), 1);
}

void TestIpAddressEdit::disabledTakesNoInput()
{
    edit_->ClearAddress();
    edit_->setEnabled(false);
    QTest::keyClicks(edit_->Field(0), QStringLiteral("12"));
    QVERIFY(edit_->IsBlank());
    for (int i = 0; i < IpAddressEdit::kFieldCount; ++i)
        QVERIFY(!edit_->Field(i)->isEnabled());
}

void TestIpAddressEdit::paste_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("shown");
    // The control holds 1.2.3.4 with field 1 focused before each paste.
    QTest::newRow("dotted address") << "10.0.0.1" << true << "10.0.0.1";
    QTest::newRow("surrounding white space") << " 192.168.0.10\n" << true << "192.168.0.10";
    QTest::newRow("single number into focused field") << "77" << true << "1.77.3.4";
    QTest::newRow("single number above 255") << "300" << true << "1.255.3.4";
    QTest::newRow("three parts") << "1.2.3" << false << "1.2.3.4";
    QTest::newRow("five parts") << "1.2.3.4.5" << false << "1.2.3.4";
    QTest::newRow("letters") << "a.b.c.d" << false << "1.2.3.4";
    QTest::newRow("part above 255") << "999.1.1.1" << false << "1.2.3.4";
    QTest::newRow("four-digit part") << "0001.1.1.1" << false << "1.2.3.4";
    QTest::newRow("empty part") << "10..0.1" << false << "1.2.3.4";
    QTest::newRow("signs") << "+1.-2.3.4" << false << "1.2.3.4";
    QTest::newRow("inner space") << "10. 0.0.1" << false << "1.2.3.4";
    QTest::newRow("unicode digits") << QString::fromUtf8("\xd9\xa1.2.3.4") << false << "1.2.3.4";
    QTest::newRow("empty") << "" << false << "1.2.3.4";
    QTest::newRow("1000 characters") << QString(1000, QLatin1Char('9')) << false << "1.2.3.4";
    QTest::newRow("1000 dots and digits") << QString("1.").repeated(500) << false << "1.2.3.4";
    QTest::newRow("four-digit number") << "1234" << false << "1.2.3.4";
}

void TestIpAddressEdit::paste()
{
    QFETCH(QString, clipboard);
    QFETCH(bool, taken);
    QFETCH(QString, shown);
    edit_->SetAddress(0x01020304);
    edit_->SetFieldFocus(1);
    QCOMPARE(edit_->PasteText(clipboard), taken);
    QCOMPARE(Dotted(*edit_), shown);
}

void TestIpAddressEdit::pasteByKeyboard()
{
    edit_->ClearAddress();
    edit_->SetFieldFocus(2);
    QApplication::clipboard()->setText(QStringLiteral("10.0.0.1"));
    QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
    QCOMPARE(Dotted(*edit_), QStringLiteral("10.0.0.1"));
    QApplication::clipboard()->setText(QStringLiteral("a.b.c.d"));
    QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
    QCOMPARE(Dotted(*edit_), QStringLiteral("10.0.0.1"));
}

void TestIpAddressEdit::parseDotted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<std::uint32_t>("value");
    QTest::newRow("min") << "0.0.0.0" << true << std::uint32_t{0};
    QTest::newRow("max") << "255.255.255.255" << true << std::uint32_t{0xFFFFFFFF};
    QTest::newRow("256") << "256.0.0.0" << false << std::uint32_t{0};
    QTest::newRow("trailing dot") << "1.2.3.4." << false << std::uint32_t{0};
    QTest::newRow("hex") << "0x1.2.3.4" << false << std::uint32_t{0};
}

void TestIpAddressEdit::parseDotted()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(std::uint32_t, value);
    const auto parsed = IpAddressEdit::ParseDotted(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, value);
}

QTEST_MAIN(TestIpAddressEdit)
#include "tst_ipaddressedit.moc"
