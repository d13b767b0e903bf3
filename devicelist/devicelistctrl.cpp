#include "devicelist/devicelistctrl.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <cstring>

#include "commissioning/scancsv.h"
#include "commissioning/scanwarnings.h"
#include "devicelist/sortarrowheaderctrl.h"
#include "modules/columntexts.h"
#include "modules/csvwriter.h"

namespace {

// The hit test of a double-click looks at this x instead of the click's,
// so a click anywhere across a row finds that row.
constexpr int kDoubleClickHitTestX = 2;

constexpr const char* kScanningText = "Scanning...";
constexpr const char* kNoAnswerText =
    "No module has answered. Check the cable and the adapter, and that no firewall blocks UDP port 3250.";
constexpr const char* kCopyText = "Copy";
constexpr const char* kExportListText = "Export list...";
constexpr char kCopySeparator = '\t';
// Keeps the placeholder off the list's edges so that it wraps before them.
constexpr int kPlaceholderMargin = 8;

// The mark sits before the text in the first column; the style keeps this
// much room around it.
constexpr int kMarkMargin = 8;
constexpr const char* kWidestIpText = "255.255.255.255";

QString RecordHostName(const QORT_ModuleScanResponseType& record)
{
    if (record.HostNameValid == 0)
        return QString::fromLatin1(modules::kNotAvailableText);
    return devicelist::DeviceListModel::ShownText({record.HostName, ::strnlen(record.HostName, QORT_TEXT_FIELD_SIZE)});
}

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
    m_scanningTimer.setSingleShot(true);
    m_scanningTimer.setInterval(kScanningTextMs);
    connect(&m_scanningTimer, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));
    m_notesTimer.setSingleShot(true);
    m_notesTimer.setInterval(0);
    connect(&m_notesTimer, &QTimer::timeout, this, &CDeviceListCtrl::UpdateNotes);
}

CDeviceListCtrl::~CDeviceListCtrl() = default;

bool CDeviceListCtrl::InitColumns(std::string_view spec, int fontBaseUnitX)
{
    const int first = m_model->Table().ColumnCount();
    const std::vector<modules::ColumnSpec> columns = m_model->InitColumns(spec);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        // A negative width in the column spec string means no visible column, not an error.
        const int width = modules::scaleColumnWidth(columns[i].width, fontBaseUnitX);
        m_header->resizeSection(first + static_cast<int>(i), std::max(0, width));
    }
    return true;
}

void CDeviceListCtrl::AddModule(const QORT_ModuleScanResponseType& record)
{
    AddModules({record});
}

void CDeviceListCtrl::AddModules(const std::vector<QORT_ModuleScanResponseType>& batch)
{
    if (m_model->AddModules(batch) > 0) {
        const modules::SortOrder order = m_model->Table().GetSortOrder();
        m_header->SetSortIndicator(order.column, order.ascending);
        ApplyFilter();
        m_notesTimer.start();
    }
}

void CDeviceListCtrl::ClearModules()
{
    m_model->ClearModules();
    FitFirstColumnToMarks();
    emit NotesChanged();
}

std::vector<QORT_ModuleScanResponseType> CDeviceListCtrl::Modules() const
{
    const modules::ModuleStore& store = m_model->Table().Store();
    std::vector<QORT_ModuleScanResponseType> records;
    records.reserve(store.Size());
    // A reply without a MAC is stored but never listed; it names no device
    // (the library reads a malformed reply as one from FF-FF-FF-FF-FF-FF),
    // so it neither holds an address nor makes a duplicate.
    for (std::size_t i = 0; i < store.Size(); ++i) {
        if (store.At(i).MacIdValid != 0)
            records.push_back(store.At(i));
    }
    return records;
}

void CDeviceListCtrl::SetAdapterSubnets(std::vector<commissioning::AdapterSubnet> subnets)
{
    m_subnets = std::move(subnets);
    m_notesTimer.start();
}

const std::vector<commissioning::AdapterSubnet>& CDeviceListCtrl::AdapterSubnets() const
{
    static const std::vector<commissioning::AdapterSubnet> none;
    return m_subnets ? *m_subnets : none;
}

void CDeviceListCtrl::MarkFailure(const modules::MacAddress& mac, std::vector<commissioning::ScanNote> notes)
{
    m_failures[mac] = std::move(notes);
    UpdateNotes();
}

void CDeviceListCtrl::ClearFailure(const modules::MacAddress& mac)
{
    if (m_failures.erase(mac) > 0)
        UpdateNotes();
}

void CDeviceListCtrl::UpdateNotes()
{
    devicelist::DeviceListModel::Notes notes;
    if (m_subnets)
        notes = commissioning::scanNotes(Modules(), *m_subnets);
    for (const auto& [mac, failures] : m_failures) {
        std::vector<commissioning::ScanNote>& said = notes[mac];
        said.insert(said.end(), failures.begin(), failures.end());
    }
    m_model->SetNotes(std::move(notes));
    FitFirstColumnToMarks();
    emit NotesChanged();
}

void CDeviceListCtrl::FitFirstColumnToMarks()
{
    bool marked = false;
    for (int row = 0; row < GetItemCount() && !marked; ++row)
        marked = m_model->NoteKindOfRow(row).has_value();
    if (m_model->columnCount() == 0)
        return;
    const int unmarked = m_header->sectionSize(modules::kColumnIp) - m_markWidthAdded;
    const int icon =
        iconSize().isValid() ? iconSize().width() : style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    const int wanted = marked ? std::max(icon + kMarkMargin, WidestMarkedIpWidth() - unmarked) : 0;
    if (wanted == m_markWidthAdded)
        return;
    m_header->resizeSection(modules::kColumnIp, std::max(0, unmarked + wanted));
    m_markWidthAdded = wanted;
}

// What the style needs for the longest IP text with a mark before it.
int CDeviceListCtrl::WidestMarkedIpWidth() const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
    option.text = QString::fromLatin1(kWidestIpText);
    option.icon = devicelist::DeviceListModel::MarkOf(commissioning::NoteKind::Failure);
    return style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width();
}

QString CDeviceListCtrl::RowNote(int row) const
{
    return QString::fromStdString(m_model->NoteOfRow(row));
}

std::optional<commissioning::NoteKind> CDeviceListCtrl::RowNoteKind(int row) const
{
    return m_model->NoteKindOfRow(row);
}

std::array<int, 3> CDeviceListCtrl::NoteCounts() const
{
    std::array<int, 3> counts{};
    for (int row = 0; row < GetItemCount(); ++row) {
        std::array<bool, 3> seen{};
        if (const auto* notes = m_model->NotesOfRow(row)) {
            for (const commissioning::ScanNote& note : *notes)
                seen[static_cast<std::size_t>(note.kind)] = true;
        }
        for (std::size_t kind = 0; kind < seen.size(); ++kind)
            counts[kind] += seen[kind] ? 1 : 0;
    }
    return counts;
}

void CDeviceListCtrl::SetFilter(const QString& text)
{
    if (text == m_filter)
        return;
    m_filter = text;
    ApplyFilter();
}

bool CDeviceListCtrl::RowMatchesFilter(int row) const
{
    for (const int column : {modules::kColumnIp, modules::kColumnMac, modules::kColumnType}) {
        if (GetItemText(row, column).contains(m_filter, Qt::CaseInsensitive))
            return true;
    }
    const std::optional<modules::MacAddress> mac = GetRowMac(row);
    const std::optional<QORT_ModuleScanResponseType> module = mac ? FindModule(*mac) : std::nullopt;
    return module && module->HostNameValid == 1 && RecordHostName(*module).contains(m_filter, Qt::CaseInsensitive);
}

void CDeviceListCtrl::ApplyFilter()
{
    for (int row = 0; row < GetItemCount(); ++row) {
        const bool hide = !m_filter.isEmpty() && !RowMatchesFilter(row);
        if (isRowHidden(row, QModelIndex()) != hide)
            setRowHidden(row, QModelIndex(), hide);
    }
}

int CDeviceListCtrl::VisibleRowCount() const
{
    int visible = 0;
    for (int row = 0; row < GetItemCount(); ++row)
        visible += isRowHidden(row, QModelIndex()) ? 0 : 1;
    return visible;
}

void CDeviceListCtrl::ConfigureRow(int row)
{
    if (row >= 0 && row < GetItemCount())
        OnRowDoubleClicked(row);
}

std::optional<modules::MacAddress> CDeviceListCtrl::GetRowMac(int row) const
{
    if (row < 0) {
        return std::nullopt;
    }
    return m_model->Table().GetRowMac(static_cast<std::size_t>(row));
}

std::optional<QORT_ModuleScanResponseType> CDeviceListCtrl::FindModule(const modules::MacAddress& mac) const
{
    return m_model->Table().FindModule(mac);
}

std::optional<modules::MacAddress> CDeviceListCtrl::GetLastConfiguredMac() const
{
    return m_model->Table().GetLastConfiguredMac();
}

void CDeviceListCtrl::SetLastConfiguredMac(const modules::MacAddress& mac)
{
    m_model->SetLastConfiguredMac(mac);
}

void CDeviceListCtrl::SortByColumn(int column, bool ascending)
{
    m_header->SetSortIndicator(column, ascending);
    m_model->SortByColumn(modules::SortOrder{column, ascending});
    ApplyFilter();
}

void CDeviceListCtrl::Resort()
{
    m_model->Resort();
    ApplyFilter();
}

modules::SortOrder CDeviceListCtrl::GetSortOrder() const
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
    const modules::SortOrder next = modules::sortOrderAfterClick(GetSortOrder(), column);
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

void CDeviceListCtrl::BeginScan()
{
    m_scanningTimer.start();
    viewport()->update();
}

QString CDeviceListCtrl::PlaceholderText() const
{
    if (GetItemCount() > 0) {
        return {};
    }
    return QString::fromLatin1(m_scanningTimer.isActive() ? kScanningText : kNoAnswerText);
}

void CDeviceListCtrl::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    const QString text = PlaceholderText();
    if (text.isEmpty()) {
        return;
    }
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    const QRect area = viewport()->rect().adjusted(kPlaceholderMargin, 0, -kPlaceholderMargin, 0);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text);
}

QString CDeviceListCtrl::SelectedRowText() const
{
    const int row = GetFirstSelectedRow();
    if (row < 0) {
        return {};
    }
    QStringList texts;
    for (int column = 0; column < m_model->columnCount(); ++column) {
        texts << GetItemText(row, column);
    }
    return texts.join(QLatin1Char(kCopySeparator));
}

void CDeviceListCtrl::CopySelectedRow()
{
    const QString text = SelectedRowText();
    if (!text.isEmpty()) {
        QGuiApplication::clipboard()->setText(text);
    }
}

std::string CDeviceListCtrl::ExportCsv() const
{
    std::vector<QORT_ModuleScanResponseType> shown;
    for (int row = 0; row < GetItemCount(); ++row) {
        const std::optional<modules::MacAddress> mac = GetRowMac(row);
        if (const std::optional<QORT_ModuleScanResponseType> module = mac ? FindModule(*mac) : std::nullopt)
            shown.push_back(*module);
    }
    return commissioning::scanCsv(shown, commissioning::scanWarnings(shown, AdapterSubnets()));
}

void CDeviceListCtrl::AddContextActions(QMenu& menu)
{
    QAction* copy = menu.addAction(QString::fromLatin1(kCopyText), this, &CDeviceListCtrl::CopySelectedRow);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(GetFirstSelectedRow() >= 0);
    QAction* exportList =
        menu.addAction(QString::fromLatin1(kExportListText), this, &CDeviceListCtrl::ExportListRequested);
    exportList->setEnabled(GetItemCount() > 0);
}

void CDeviceListCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        CopySelectedRow();
        return;
    }
    QTreeView::keyPressEvent(event);
}
