#include "devicelist/devicelistctrl.h"

#include <QMouseEvent>
#include <algorithm>

#include "devicelist/sortarrowheaderctrl.h"

namespace {

// The hit test of a double-click looks at this x instead of the click's,
// so a click anywhere across a row finds that row.
constexpr int kDoubleClickHitTestX = 2;

} // namespace

CDeviceListCtrl::CDeviceListCtrl(QWidget* parent)
    : QTreeView(parent)
    , m_model(new devicelist::DeviceListModel(this))
    , m_header(new CSortArrowHeaderCtrl(this))
{
    setHeader(m_header);
    setModel(m_model);
    m_header->setStretchLastSection(false);
    m_header->setSectionsMovable(false);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    // Qt's own sorting stays off (it would use Qt's sort); turning it off also
    // makes the headings unclickable, so clicks are switched back on for ours.
    setSortingEnabled(false);
    m_header->setSectionsClickable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::StrongFocus);
    connect(m_header, &QHeaderView::sectionClicked, this, &CDeviceListCtrl::OnColumnClick);
}

CDeviceListCtrl::~CDeviceListCtrl() = default;

bool CDeviceListCtrl::InitColumns(std::string_view spec)
{
    const int first = m_model->Table().ColumnCount();
    const std::vector<devicelist::ColumnSpec> columns = m_model->InitColumns(spec);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        // A negative width from the spec text means no visible column, not an error.
        m_header->resizeSection(first + static_cast<int>(i), std::max(0, columns[i].width));
    }
    return true;
}

void CDeviceListCtrl::AddModule(const QORT_ModuleScanResponseType& record)
{
    if (m_model->Table().IsDuplicate(record)) {
        return;
    }
    const devicelist::SortOrder order = m_model->Table().GetSortOrder();
    m_header->SetSortIndicator(order.column, order.ascending);
    m_model->AddModule(record);
}

void CDeviceListCtrl::ClearModules()
{
    m_model->ClearModules();
}

std::optional<devicelist::MacAddress> CDeviceListCtrl::GetRowMac(int row) const
{
    if (row < 0) {
        return std::nullopt;
    }
    return m_model->Table().GetRowMac(static_cast<std::size_t>(row));
}

std::optional<QORT_ModuleScanResponseType> CDeviceListCtrl::FindModule(const devicelist::MacAddress& mac) const
{
    return m_model->Table().FindModule(mac);
}

std::optional<devicelist::MacAddress> CDeviceListCtrl::GetLastConfiguredMac() const
{
    return m_model->Table().GetLastConfiguredMac();
}

void CDeviceListCtrl::SetLastConfiguredMac(const devicelist::MacAddress& mac)
{
    m_model->SetLastConfiguredMac(mac);
}

void CDeviceListCtrl::SortByColumn(int column, bool ascending)
{
    m_header->SetSortIndicator(column, ascending);
    m_model->SortByColumn(devicelist::SortOrder{column, ascending});
}

void CDeviceListCtrl::Resort()
{
    m_model->Resort();
}

devicelist::SortOrder CDeviceListCtrl::GetSortOrder() const
{
    return m_model->Table().GetSortOrder();
}

int CDeviceListCtrl::GetItemCount() const
{
    return m_model->rowCount();
}

QString CDeviceListCtrl::GetItemText(int row, int column) const
{
    return m_model->data(m_model->index(row, column)).toString();
}

int CDeviceListCtrl::GetFirstSelectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return -1;
    }
    return std::min_element(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) {
        return a.row() < b.row();
    })->row();
}

int CDeviceListCtrl::RowAtY(int y) const
{
    const QModelIndex index = indexAt(QPoint(kDoubleClickHitTestX, y));
    return index.isValid() ? index.row() : -1;
}

void CDeviceListCtrl::OnColumnClick(int column)
{
    const devicelist::SortOrder next = devicelist::SortOrderAfterClick(GetSortOrder(), column);
    SortByColumn(next.column, next.ascending);
}

void CDeviceListCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The view's own handling (selection, doubleClicked) comes first.
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const int row = RowAtY(event->position().toPoint().y());
    if (row >= 0) {
        OnRowDoubleClicked(row);
    }
}

void CDeviceListCtrl::OnRowDoubleClicked(int row)
{
    emit RowDoubleClicked(row);
}
