#ifndef DEVICELIST_SORTARROWHEADERCTRL_H
#define DEVICELIST_SORTARROWHEADERCTRL_H

#include <QHeaderView>
#include <QSet>

// The device list's column header. Headings that have been the sort column
// at least once are drawn here (flat button-face fill, text with margins,
// and for the current sort column a light/shadow triangle pointing up for
// ascending, down for descending); all other headings keep the style's look.
// The header only draws: the list decides the order and tells the header
// through SetSortIndicator. Qt's own sort indicator stays off.
class CSortArrowHeaderCtrl : public QHeaderView {
    Q_OBJECT

public:
    explicit CSortArrowHeaderCtrl(QWidget* parent = nullptr);

    // Remembers column and direction for drawing, switches that heading to
    // this header's own drawing, and repaints the whole header.
    void SetSortIndicator(int column, bool ascending);

    int SortColumn() const { return m_nSortColumn; }
    bool IsAscending() const { return m_bAscending; }
    bool IsOwnerDrawn(int logicalIndex) const { return m_ownerDrawn.contains(logicalIndex); }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void DrawHeading(QPainter* painter, const QRect& rect, int logicalIndex) const;

    bool m_bAscending = true;
    int m_nSortColumn = 0;
    QSet<int> m_ownerDrawn;
    // The heading under a held left button; its text is drawn shifted.
    int m_nPressedSection = -1;
};

#endif
