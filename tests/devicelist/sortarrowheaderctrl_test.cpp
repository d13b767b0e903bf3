// Renders the header into an image and checks the pixels of the heading
// fill, the text box and the arrow edges for a header 20 pixels high.

#include <QImage>
#include <QPalette>
#include <QtTest>

#include "devicelist/devicelistmodel.h"
#include "devicelist/sortarrowheaderctrl.h"

namespace {

constexpr int kHeaderHeight = 20;
constexpr int kSectionWidth = 90;
const QColor kFace(200, 200, 200);
const QColor kLight(255, 255, 255);
const QColor kShadow(0, 0, 160);
const QColor kText(0, 0, 0);

struct Box {
    int left = INT_MAX;
    int top = INT_MAX;
    int right = -1;
    int bottom = -1;
};

} // namespace

class SortArrowHeaderCtrlTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void noHeadingIsOwnerDrawnBeforeTheFirstIndicator();
    void ascendingArrowPixels();
    void descendingArrowPixels();
    void earlierSortColumnKeepsFaceButLosesArrow();
    void textStaysInsideItsMargins();
    void pressedHeadingMovesTextButNotArrow();
    void narrowHeadingShowsArrowWithoutText();

private:
    QImage Render();
    Box NonFaceBox(const QImage& image, int fromX, int toX) const;

    devicelist::DeviceListModel* m_model = nullptr;
    CSortArrowHeaderCtrl* m_header = nullptr;
};

void SortArrowHeaderCtrlTest::init()
{
    m_model = new devicelist::DeviceListModel();
    m_model->InitColumns("IP,90;MAC,90");
    m_header = new CSortArrowHeaderCtrl();
    m_header->setModel(m_model);
    m_header->setStretchLastSection(false);
    m_header->resizeSection(0, kSectionWidth);
    m_header->resizeSection(1, kSectionWidth);
    QPalette palette = m_header->palette();
    palette.setColor(QPalette::Button, kFace);
    palette.setColor(QPalette::Light, kLight);
    palette.setColor(QPalette::Dark, kShadow);
    palette.setColor(QPalette::ButtonText, kText);
    m_header->setPalette(palette);
    m_header->setFixedSize(2 * kSectionWidth, kHeaderHeight);
    m_header->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_header));
}

void SortArrowHeaderCtrlTest::cleanup()
{
    delete m_header;
    delete m_model;
}

QImage SortArrowHeaderCtrlTest::Render()
{
    return m_header->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The bounding box of pixels that are neither face nor arrow colour between
// fromX (inclusive) and toX (exclusive): the text's ink.
Box SortArrowHeaderCtrlTest::NonFaceBox(const QImage& image, int fromX, int toX) const
{
    Box box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = fromX; x < toX; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel != kFace && pixel != kLight && pixel != kShadow) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
        }
    }
    return box;
}

void SortArrowHeaderCtrlTest::noHeadingIsOwnerDrawnBeforeTheFirstIndicator()
{
    QVERIFY(!m_header->IsOwnerDrawn(0));
    QVERIFY(!m_header->IsOwnerDrawn(1));
    QCOMPARE(m_header->SortColumn(), 0);
    QVERIFY(m_header->IsAscending());
    const QImage image = Render();
    QVERIFY(image.pixelColor(80, 5) != kLight);
}

void SortArrowHeaderCtrlTest::ascendingArrowPixels()
{
    m_header->SetSortIndicator(0, true);
    const QImage image = Render();
    QCOMPARE(image.size(), QSize(2 * kSectionWidth, kHeaderHeight));
    // Light edge: (80,5) -> (85,14) -> (73,14), end points not drawn.
    QCOMPARE(image.pixelColor(80, 5), kLight);
    QCOMPARE(image.pixelColor(85, 14), kLight);
    QCOMPARE(image.pixelColor(84, 14), kLight);
    QCOMPARE(image.pixelColor(75, 14), kLight);
    // Shadow edge (74,14) -> (80,4) is drawn over the light base's last pixel.
    QCOMPARE(image.pixelColor(74, 14), kShadow);
    QCOMPARE(image.pixelColor(73, 14), kFace);
    QCOMPARE(image.pixelColor(80, 4), kFace);
    // Fill around the arrow.
    QCOMPARE(image.pixelColor(0, 0), kFace);
    QCOMPARE(image.pixelColor(89, 19), kFace);
    QCOMPARE(image.pixelColor(86, 14), kFace);
    QCOMPARE(image.pixelColor(80, 15), kFace);
}

void SortArrowHeaderCtrlTest::descendingArrowPixels()
{
    m_header->SetSortIndicator(0, false);
    const QImage image = Render();
    // Light edge (84,5) -> (79,15).
    QCOMPARE(image.pixelColor(84, 5), kLight);
    QCOMPARE(image.pixelColor(79, 15), kFace);
    // Shadow edge (78,15) -> (74,5) -> (84,5).
    QCOMPARE(image.pixelColor(78, 15), kShadow);
    QCOMPARE(image.pixelColor(74, 5), kShadow);
    QCOMPARE(image.pixelColor(79, 5), kShadow);
    QCOMPARE(image.pixelColor(83, 5), kShadow);
    QCOMPARE(image.pixelColor(85, 5), kFace);
    QCOMPARE(image.pixelColor(80, 4), kFace);
}

void SortArrowHeaderCtrlTest::earlierSortColumnKeepsFaceButLosesArrow()
{
    m_header->SetSortIndicator(0, true);
    m_header->SetSortIndicator(1, true);
    QVERIFY(m_header->IsOwnerDrawn(0));
    QVERIFY(m_header->IsOwnerDrawn(1));
    const QImage image = Render();
    QCOMPARE(image.pixelColor(80, 5), kFace);
    QCOMPARE(image.pixelColor(74, 14), kFace);
    QCOMPARE(image.pixelColor(kSectionWidth + 80, 5), kLight);
    QCOMPARE(image.pixelColor(kSectionWidth + 74, 14), kShadow);
}

void SortArrowHeaderCtrlTest::textStaysInsideItsMargins()
{
    m_header->SetSortIndicator(0, true);
    const QImage image = Render();
    const Box text = NonFaceBox(image, 0, 72);
    QVERIFY2(text.right >= 0, "heading text was not drawn");
    QVERIFY(text.left >= 5);
    QVERIFY(text.right < 70);
    // Nothing but the arrow at the right of the text box.
    const Box rest = NonFaceBox(image, 70, kSectionWidth);
    QCOMPARE(rest.right, -1);
}

void SortArrowHeaderCtrlTest::pressedHeadingMovesTextButNotArrow()
{
    m_header->SetSortIndicator(0, true);
    const Box released = NonFaceBox(Render(), 0, 72);
    QTest::mousePress(m_header->viewport(), Qt::LeftButton, {}, QPoint(30, 10));
    const QImage pressedImage = Render();
    const Box pressed = NonFaceBox(pressedImage, 0, 72);
    QTest::mouseRelease(m_header->viewport(), Qt::LeftButton, {}, QPoint(30, 10));
    QVERIFY(released.right >= 0);
    // The text box moves one right and two down but keeps its bottom, so the
    // vertically centred text itself lands one pixel lower.
    QCOMPARE(pressed.left, released.left + 1);
    QCOMPARE(pressed.top, released.top + 1);
    QCOMPARE(pressedImage.pixelColor(80, 5), kLight);
    QCOMPARE(pressedImage.pixelColor(74, 14), kShadow);
    const Box afterRelease = NonFaceBox(Render(), 0, 72);
    QCOMPARE(afterRelease.left, released.left);
    QCOMPARE(afterRelease.top, released.top);
}

void SortArrowHeaderCtrlTest::narrowHeadingShowsArrowWithoutText()
{
    // 20 pixels wide: o = 5 leaves the text box from 5 to 0, so no text.
    m_header->resizeSection(0, 20);
    QCOMPARE(m_header->sectionSize(0), 20);
    m_header->SetSortIndicator(0, true);
    const QImage image = Render();
    QCOMPARE(image.pixelColor(10, 5), kLight);
    QCOMPARE(image.pixelColor(4, 14), kShadow);
    const Box text = NonFaceBox(image, 0, 20);
    QCOMPARE(text.right, -1);
}

QTEST_MAIN(SortArrowHeaderCtrlTest)
#include "sortarrowheaderctrl_test.moc"
