#include "devicelist/sortarrowheaderctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include "devicelist/sortarrowgeometry.h"

namespace {

using devicelist::PixelPoint;
using devicelist::PixelRect;

// A heading text is read into a buffer of this many characters, terminator
// included, so longer texts are cut before eliding.
constexpr int kHeadingTextBufferSize = 255;

PixelRect ToPixelRect(const QRect& rect)
{
    // QRect's right()/bottom() are the last pixel inside; the geometry uses
    // edges just outside.
    return PixelRect{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

QRect ToQRect(const PixelRect& rect)
{
    return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

Qt::Alignment HorizontalAlignment(const QVariant& alignment)
{
    const Qt::Alignment value = alignment.isValid() ? alignment.value<Qt::Alignment>() : Qt::AlignLeft;
    if (value & Qt::AlignHCenter)
        return Qt::AlignHCenter;
    if (value & Qt::AlignRight)
        return Qt::AlignRight;
    return Qt::AlignLeft;
}

void DrawPolyline(QPainter* painter, const std::vector<PixelPoint>& polyline, const QColor& color)
{
    QPolygon pixels;
    for (const PixelPoint& pixel : devicelist::RasterizePolyline(polyline)) {
        pixels << QPoint(pixel.x, pixel.y);
    }
    painter->setPen(QPen(color, 1));
    painter->drawPoints(pixels);
}

} // namespace

CSortArrowHeaderCtrl::CSortArrowHeaderCtrl(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent)
{
    setSortIndicatorShown(false);
    setSectionsClickable(true);
    setHighlightSections(false);
    // Headings may be made as narrow as the user likes, down to nothing; a
    // heading too narrow for its text still shows the arrow.
    setMinimumSectionSize(0);
}

void CSortArrowHeaderCtrl::SetSortIndicator(int column, bool ascending)
{
    m_nSortColumn = column;
    m_bAscending = ascending;
    m_ownerDrawn.insert(column);
    viewport()->update();
}

void CSortArrowHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!IsOwnerDrawn(logicalIndex)) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    painter->save();
    DrawHeading(painter, rect, logicalIndex);
    painter->restore();
}

void CSortArrowHeaderCtrl::DrawHeading(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->setClipRect(rect, Qt::IntersectClip);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillRect(rect, palette().color(QPalette::Button));

    const QAbstractItemModel* itemModel = model();
    const QString heading = itemModel != nullptr ? itemModel->headerData(logicalIndex, orientation(), Qt::DisplayRole)
                                                       .toString()
                                                       .left(kHeadingTextBufferSize - 1)
                                                 : QString();
    const Qt::Alignment alignment = HorizontalAlignment(
        itemModel != nullptr ? itemModel->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole) : QVariant());

    const PixelRect item = ToPixelRect(rect);
    const bool isSortColumn = logicalIndex == m_nSortColumn;
    const PixelRect text = devicelist::HeadingTextRect(item, logicalIndex == m_nPressedSection, isSortColumn);
    if (text.left < text.right) {
        const QRect textRect = ToQRect(text);
        // The text is drawn as is: no mnemonic processing, so "&" shows as "&".
        const QString shown = painter->fontMetrics().elidedText(heading, Qt::ElideRight, textRect.width());
        painter->setPen(palette().color(QPalette::ButtonText));
        painter->drawText(
            textRect, static_cast<int>(alignment | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip), shown);
    }

    if (isSortColumn) {
        const devicelist::SortArrowPolylines arrow = devicelist::SortArrowLines(item, m_bAscending);
        DrawPolyline(painter, arrow.light, palette().color(QPalette::Light));
        DrawPolyline(painter, arrow.shadow, palette().color(QPalette::Dark));
    }
}

void CSortArrowHeaderCtrl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_nPressedSection = logicalIndexAt(event->position().toPoint());
        viewport()->update();
    }
    QHeaderView::mousePressEvent(event);
}

void CSortArrowHeaderCtrl::mouseReleaseEvent(QMouseEvent* event)
{
    QHeaderView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_nPressedSection = -1;
        viewport()->update();
    }
}
