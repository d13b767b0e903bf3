// Dialog units to pixels: the platform's MulDiv rounding, the base units of
// a font, and the deterministic template font.

#include "ui/dialogunits.h"

#include <QFontInfo>
#include <QtTest>

#include <climits>

class TestDialogUnits : public QObject {
    Q_OBJECT

private slots:
    void mulDiv_data();
    void mulDiv();
    void conversion_data();
    void conversion();
    void templateFontIsFixed();
    void baseUnitsOfTemplateFont();
    void otherFacesAreKept();
};

void TestDialogUnits::mulDiv_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<int>("expected");
    QTest::newRow("exact") << 8 << 13 << 8 << 13;
    QTest::newRow("half rounds up") << 310 << 7 << 4 << 543;          // 542.5
    QTest::newRow("below half rounds down") << 165 << 13 << 8 << 268; // 268.125
    QTest::newRow("above half rounds up") << 14 << 13 << 8 << 23;     // 22.75
    QTest::newRow("negative half rounds away from zero") << -310 << 7 << 4 << -543;
    QTest::newRow("negative divisor") << 310 << 7 << -4 << -543;
    QTest::newRow("both negative") << -310 << -7 << 4 << 543;
    QTest::newRow("zero") << 0 << 7 << 4 << 0;
    QTest::newRow("divide by zero gives -1") << 5 << 7 << 0 << -1;
    QTest::newRow("64-bit intermediate") << INT_MAX << 2 << 4 << 1073741824;
    QTest::newRow("overflow gives -1") << INT_MAX << 4 << 2 << -1;
    QTest::newRow("points to pixels at 96 dpi") << 8 << 96 << 72 << 11; // 10.67
}

void TestDialogUnits::mulDiv()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(int, expected);
    QCOMPARE(MulDiv(a, b, c), expected);
}

void TestDialogUnits::conversion_data()
{
    QTest::addColumn<int>("cx");
    QTest::addColumn<int>("cy");
    QTest::addColumn<QRect>("du");
    QTest::addColumn<QRect>("pixels");
    // Base units of the platform's own "MS Sans Serif" 8 (6 x 13) and of our
    // substitute (7 x 13); each coordinate is scaled on its own, so the right
    // edge is not necessarily left + width scaled together.
    QTest::newRow("6x13 origin") << 6 << 13 << QRect(0, 0, 0, 0) << QRect(0, 0, 0, 0);
    QTest::newRow("6x13 Scan") << 6 << 13 << QRect(310, 165, 50, 14) << QRect(465, 268, 75, 23);
    QTest::newRow("6x13 one unit") << 6 << 13 << QRect(1, 1, 1, 1) << QRect(2, 2, 2, 2); // 1.5 and 1.625
    QTest::newRow("7x13 Scan") << 7 << 13 << QRect(310, 165, 50, 14) << QRect(543, 268, 88, 23);
    QTest::newRow("7x13 group box") << 7 << 13 << QRect(5, 5, 295, 190) << QRect(9, 8, 516, 309);
    QTest::newRow("8x16 exact") << 8 << 16 << QRect(4, 8, 4, 8) << QRect(8, 16, 8, 16);
}

void TestDialogUnits::conversion()
{
    QFETCH(int, cx);
    QFETCH(int, cy);
    QFETCH(QRect, du);
    QFETCH(QRect, pixels);
    const DuRect rect{du.x(), du.y(), du.width(), du.height()};
    QCOMPARE(DialogUnitsToPixels(rect, {cx, cy}), pixels);
    QCOMPARE(DialogUnitsToPixels(du.width(), du.height(), {cx, cy}), pixels.size());
}

void TestDialogUnits::templateFontIsFixed()
{
    const QFont font = TemplateFont("MS Sans Serif", 8);
    QCOMPARE(font.pixelSize(), 11);
    QCOMPARE(font.hintingPreference(), QFont::PreferNoHinting);
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(TemplateFont("MS Sans Serif", 10).pixelSize(), 13);
}

void TestDialogUnits::baseUnitsOfTemplateFont()
{
    const DialogBaseUnits units = BaseUnitsOf(TemplateFont("MS Sans Serif", 8));
    QCOMPARE(units.cx, 7);
    QCOMPARE(units.cy, 13);
    // The average is the rounded 52-letter extent over 52.
    const QFontMetrics metrics(TemplateFont("MS Sans Serif", 8));
    const int extent =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    QVERIFY(qAbs(extent - units.cx * 52) <= 26);
}

void TestDialogUnits::otherFacesAreKept()
{
    QCOMPARE(TemplateFont("DejaVu Sans Mono", 8).family(), QStringLiteral("DejaVu Sans Mono"));
}

QTEST_MAIN(TestDialogUnits)
#include "tst_dialogunits.moc"
