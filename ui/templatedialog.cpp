#include "ui/templatedialog.h"

#include "ui/appicon.h"
#include "ui/ipaddressedit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace {

// Size of icon 128's large image, which a static icon control shows at its
// natural size whatever its template rectangle says.
constexpr int kStaticIconSize = 32;

// Used when a dialog is asked for a template the program does not have, so
// that a programming error shows an empty dialog rather than a crash.
const DialogTemplate kMissingTemplate{0, "", "MS Sans Serif", 8, 0, 0, DialogStyle::Caption, {}};

const DialogTemplate& TemplateOrEmpty(int id)
{
    const DialogTemplate* found = FindDialogTemplate(id);
    Q_ASSERT_X(found != nullptr, "TemplateDialog", "no dialog template with this ID");
    return found != nullptr ? *found : kMissingTemplate;
}

QString TextOf(const ControlTemplate& source)
{
    return QString::fromUtf8(source.text.data(), static_cast<qsizetype>(source.text.size()));
}

bool Has(std::uint32_t style, std::uint32_t bit)
{
    return (style & bit) != 0;
}

QWidget* CreateListView(QWidget* parent, const ControlTemplate& source)
{
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setItemsExpandable(false);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(Has(source.style, ControlStyle::SingleSel) ? QAbstractItemView::SingleSelection
                                                                      : QAbstractItemView::ExtendedSelection);
    list->setColumnCount(0);
    list->header()->setStretchLastSection(false);
    list->setFrameShape(Has(source.style, ControlStyle::Border) ? QFrame::StyledPanel : QFrame::NoFrame);
    return list;
}

QWidget* CreateStaticText(QWidget* parent, const ControlTemplate& source)
{
    auto* label = new QLabel(parent);
    // Static texts can show outside data (a version string); plain text keeps
    // it from being read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(TextOf(source));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* CreateEdit(QWidget* parent, const ControlTemplate& source)
{
    auto* edit = new QLineEdit(parent);
    edit->setText(TextOf(source));
    edit->setFrame(Has(source.style, ControlStyle::Border));
    if (Has(source.style, ControlStyle::Password))
        edit->setEchoMode(QLineEdit::Password);
    edit->setReadOnly(Has(source.style, ControlStyle::ReadOnly));
    return edit;
}

// Sets the text of a substituted control of a text-bearing kind.
void SetTextOf(QWidget* widget, const QString& text)
{
    if (text.isEmpty())
        return;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(text);
    }
}

bool TakesFocus(ControlKind kind)
{
    switch (kind) {
    case ControlKind::GroupBox:
    case ControlKind::StaticText:
    case ControlKind::StaticIcon:
        return false;
    default:
        return true;
    }
}

} // namespace

TemplateDialog::TemplateDialog(int templateId, QWidget* parent)
    : QDialog(parent)
    , template_(&TemplateOrEmpty(templateId))
{
    setFont(TemplateFont(template_->fontFace, template_->fontPointSize));
    units_ = BaseUnitsOf(font());
    setWindowTitle(QString::fromUtf8(template_->caption.data(), static_cast<qsizetype>(template_->caption.size())));
    setWindowIcon(AppIcon());
    ApplyDialogStyle();
}

TemplateDialog::~TemplateDialog() = default;

void TemplateDialog::ApplyDialogStyle()
{
    const std::uint32_t style = template_->style;
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (Has(style, DialogStyle::Caption))
        flags |= Qt::WindowTitleHint;
    if (Has(style, DialogStyle::SysMenu))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (Has(style, DialogStyle::MinimizeBox))
        flags |= Qt::WindowMinimizeButtonHint;
    if (Has(style, DialogStyle::MaximizeBox))
        flags |= Qt::WindowMaximizeButtonHint;
    if (Has(style, DialogStyle::AppWindow))
        flags = (flags & ~Qt::Dialog) | Qt::Window;
    setWindowFlags(flags);

    const QSize client = DialogUnitsToPixels(template_->cx, template_->cy, units_);
    if (Has(style, DialogStyle::ThickFrame)) {
        resize(client);
        setSizeGripEnabled(false);
    } else {
        setFixedSize(client);
    }
}

void TemplateDialog::SubstituteControl(int id, QWidget* widget)
{
    Q_ASSERT_X(!built_, "TemplateDialog::SubstituteControl", "controls already built");
    if (built_ || widget == nullptr)
        return;
    widget->setParent(this);
    widget->hide();
    substitutes_[id] = widget;
}

void TemplateDialog::MapCommand(int id, std::function<void()> handler)
{
    commands_[id] = std::move(handler);
}

void TemplateDialog::EnsureControls()
{
    if (built_)
        return;
    built_ = true;
    for (const ControlTemplate& source : template_->controls) {
        QWidget* widget = nullptr;
        if (auto it = substitutes_.find(source.id); it != substitutes_.end()) {
            widget = it->second;
            substitutes_.erase(it);
            SetTextOf(widget, TextOf(source));
        } else {
            widget = CreateControl(source);
        }
        ApplyStyle(widget, source);
        controls_.push_back({source.id, &source, widget});
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            const int id = source.id;
            connect(button, &QAbstractButton::clicked, this, [this, id] { OnButtonClicked(id); });
        }
    }
    // Substitutes for IDs the template lacks stay hidden children.
    substitutes_.clear();
    GroupRadioButtons();
    SetTabOrder();
}

QWidget* TemplateDialog::CreateControl(const ControlTemplate& source)
{
    switch (source.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(TextOf(source), this);
        // As on the original platform, a focused push button is the one
        // Enter presses.
        button->setAutoDefault(true);
        return button;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(TextOf(source), this);
    case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(TextOf(source), this);
        radio->setAutoExclusive(false); // exclusive per template group instead
        return radio;
    }
    case ControlKind::GroupBox:
        return new QGroupBox(TextOf(source), this);
    case ControlKind::StaticText:
        return CreateStaticText(this, source);
    case ControlKind::StaticIcon: {
        auto* icon = new QLabel(this);
        icon->setPixmap(AppIconPixmap(kStaticIconSize));
        return icon;
    }
    case ControlKind::Edit:
        return CreateEdit(this, source);
    case ControlKind::IpAddress:
        return new IpAddressEdit(this);
    case ControlKind::ListView:
        return CreateListView(this, source);
    }
    return new QWidget(this);
}

void TemplateDialog::ApplyStyle(QWidget* widget, const ControlTemplate& source)
{
    QRect rect = MapDialogRect(source.rect);
    if (source.kind == ControlKind::StaticIcon)
        rect.setSize({kStaticIconSize, kStaticIconSize});
    widget->setGeometry(rect);
    widget->setProperty("controlId", source.id);
    if (source.id != IDC_STATIC)
        widget->setObjectName(QStringLiteral("control%1").arg(source.id));
    widget->setEnabled(!Has(source.style, ControlStyle::Disabled));
    widget->setVisible(!Has(source.style, ControlStyle::Hidden));

    if (!TakesFocus(source.kind)) {
        widget->setFocusPolicy(Qt::NoFocus);
    } else if (!Has(source.style, ControlStyle::TabStop)) {
        widget->setFocusPolicy(Qt::ClickFocus);
    } else if (source.kind != ControlKind::IpAddress) {
        widget->setFocusPolicy(Qt::StrongFocus);
    }
    if (source.kind == ControlKind::GroupBox) {
        // Group boxes are siblings of the controls they frame; keep them
        // beneath so they neither hide nor swallow clicks meant for those.
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget->lower();
    }
    auto* button = qobject_cast<QPushButton*>(widget);
    if (button != nullptr && source.kind == ControlKind::DefPushButton && DefaultButtonId() == 0) {
        button->setDefault(true);
    }
}

void TemplateDialog::GroupRadioButtons()
{
    QButtonGroup* group = nullptr;
    for (const Control& control : controls_) {
        auto* radio = qobject_cast<QRadioButton*>(control.widget);
        if (radio == nullptr) {
            group = nullptr;
            continue;
        }
        if (group == nullptr || Has(control.source->style, ControlStyle::Group)) {
            group = new QButtonGroup(this);
            group->setExclusive(true);
        }
        group->addButton(radio);
    }
}

void TemplateDialog::SetTabOrder()
{
    QWidget* previous = nullptr;
    for (const Control& control : controls_) {
        if (!TakesFocus(control.source->kind))
            continue;
        if (previous != nullptr)
            QWidget::setTabOrder(previous, control.widget);
        previous = control.widget;
    }
}

void TemplateDialog::FocusFirstTabStop()
{
    for (const Control& control : controls_) {
        QWidget* w = control.widget;
        if (!TakesFocus(control.source->kind) || !Has(control.source->style, ControlStyle::TabStop))
            continue;
        if (w->isHidden() || !w->isEnabled())
            continue;
        w->setFocus(Qt::TabFocusReason);
        return;
    }
}

QWidget* TemplateDialog::GetDlgItem(int id)
{
    EnsureControls();
    for (const Control& control : controls_) {
        if (control.id == id)
            return control.widget;
    }
    return nullptr;
}

QList<QWidget*> TemplateDialog::Controls()
{
    EnsureControls();
    QList<QWidget*> widgets;
    for (const Control& control : controls_)
        widgets.append(control.widget);
    return widgets;
}

QList<QRadioButton*> TemplateDialog::RadioGroup(int firstId)
{
    EnsureControls();
    QList<QRadioButton*> group;
    bool inGroup = false;
    for (const Control& control : controls_) {
        auto* radio = qobject_cast<QRadioButton*>(control.widget);
        if (!inGroup) {
            if (control.id != firstId)
                continue;
            if (radio == nullptr)
                return group;
            inGroup = true;
        } else if (radio == nullptr || Has(control.source->style, ControlStyle::Group)) {
            break;
        }
        group.append(radio);
    }
    return group;
}

int TemplateDialog::DefaultButtonId() const
{
    for (const Control& control : controls_) {
        auto* button = qobject_cast<QPushButton*>(control.widget);
        if (button != nullptr && button->isDefault())
            return control.id;
    }
    return 0;
}

bool TemplateDialog::UpdateData(bool saveAndValidate)
{
    EnsureControls();
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

void TemplateDialog::DoDataExchange(DataExchange&)
{
}

bool TemplateDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void TemplateDialog::OnOK()
{
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

void TemplateDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void TemplateDialog::OnClose()
{
    OnCancel();
}

int TemplateDialog::DoModal()
{
    EnsureControls();
    ended_ = false;
    result_ = IDCANCEL;
    if (OnInitDialog())
        FocusFirstTabStop();
    if (!ended_)
        exec();
    OnDestroy();
    return result_;
}

void TemplateDialog::Create()
{
    EnsureControls();
    ended_ = false;
    result_ = IDCANCEL;
    if (OnInitDialog())
        FocusFirstTabStop();
    if (!ended_)
        show();
}

void TemplateDialog::EndDialog(int result)
{
    ended_ = true;
    result_ = result;
    // done() ends exec()'s loop or hides a modeless dialog; before the dialog
    // is shown it only records the result.
    done(result);
}

void TemplateDialog::OnButtonClicked(int id)
{
    if (auto it = commands_.find(id); it != commands_.end()) {
        it->second();
    } else if (id == IDOK) {
        OnOK();
    } else if (id == IDCANCEL) {
        OnCancel();
    }
}

void TemplateDialog::accept()
{
    OnOK();
}

void TemplateDialog::reject()
{
    OnCancel();
}

void TemplateDialog::closeEvent(QCloseEvent* event)
{
    // The window closes only through EndDialog, so a handler can refuse.
    event->ignore();
    OnClose();
}
