#include "ui/ipaddressedit.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

constexpr int kBitsPerField = 8;
constexpr int kDotSeparatorCount = IpAddressEdit::kFieldCount - 1;
// Longest acceptable dotted text: four 3-digit fields and three dots. Longer
// pastes are refused before any parsing.
constexpr int kMaxDottedLength = IpAddressEdit::kFieldCount * IpAddressEdit::kMaxFieldDigits + kDotSeparatorCount;

int ShiftOf(int field)
{
    return (IpAddressEdit::kFieldCount - 1 - field) * kBitsPerField;
}

bool IsDigits(const QString& text)
{
    if (text.isEmpty() || text.size() > IpAddressEdit::kMaxFieldDigits)
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    const auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < kFieldCount; ++i) {
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(kMaxFieldDigits);
        field->setValidator(digits);
        // The only paste path is the keyboard one filtered below; the context
        // menu's Paste would bypass the dotted-address handling.
        field->setContextMenuPolicy(Qt::NoContextMenu);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        connect(field, &QLineEdit::textChanged, this, &IpAddressEdit::AddressChanged);
        fields_[static_cast<std::size_t>(i)] = field;
        layout->addWidget(field, 1);
        if (i + 1 < kFieldCount) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setBackgroundRole(QPalette::Base);
            layout->addWidget(dot);
        }
    }
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(fields_[0]);
}

void IpAddressEdit::SetAddress(std::uint32_t address)
{
    for (int i = 0; i < kFieldCount; ++i) {
        Field(i)->setText(QString::number((address >> ShiftOf(i)) & kMaxFieldValue));
    }
}

int IpAddressEdit::GetAddress(std::uint32_t& address) const
{
    address = 0;
    int filled = 0;
    for (int i = 0; i < kFieldCount; ++i) {
        const QString text = Field(i)->text();
        if (text.isEmpty())
            continue;
        ++filled;
        // The validator admits only 0-3 digits, and OnFieldEdited clamps; the
        // clamp here keeps the value in range whatever reached the field.
        const std::uint32_t value = std::min<std::uint32_t>(text.toUInt(), kMaxFieldValue);
        address |= value << ShiftOf(i);
    }
    return filled;
}

void IpAddressEdit::ClearAddress()
{
    for (QLineEdit* field : fields_)
        field->clear();
}

bool IpAddressEdit::IsBlank() const
{
    for (const QLineEdit* field : fields_) {
        if (!field->text().isEmpty())
            return false;
    }
    return true;
}

void IpAddressEdit::SetFieldFocus(int field)
{
    if (field < 0 || field >= kFieldCount)
        return;
    FocusField(field, true);
}

std::optional<std::uint32_t> IpAddressEdit::ParseDotted(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > kMaxDottedLength)
        return std::nullopt;
    const QStringList parts = trimmed.split(QLatin1Char('.'));
    if (parts.size() != kFieldCount)
        return std::nullopt;
    std::uint32_t address = 0;
    for (int i = 0; i < kFieldCount; ++i) {
        if (!IsDigits(parts[i]))
            return std::nullopt;
        const unsigned value = parts[i].toUInt();
        if (value > kMaxFieldValue)
            return std::nullopt;
        address |= value << ShiftOf(i);
    }
    return address;
}

bool IpAddressEdit::PasteText(const QString& text)
{
    if (const auto address = ParseDotted(text)) {
        SetAddress(*address);
        FocusField(kFieldCount - 1, false, true);
        return true;
    }
    const QString trimmed = text.trimmed();
    if (!IsDigits(trimmed))
        return false;
    int index = IndexOf(QApplication::focusWidget());
    if (index < 0)
        index = 0;
    Field(index)->setText(QString::number(std::min<unsigned>(trimmed.toUInt(), kMaxFieldValue)));
    return true;
}

int IpAddressEdit::IndexOf(const QObject* field) const
{
    for (int i = 0; i < kFieldCount; ++i) {
        if (fields_[static_cast<std::size_t>(i)] == field)
            return i;
    }
    return -1;
}

void IpAddressEdit::FocusField(int index, bool selectAll, bool cursorAtEnd)
{
    QLineEdit* field = Field(index);
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        field->selectAll();
    } else if (cursorAtEnd) {
        field->end(false);
    } else {
        field->home(false);
    }
}

void IpAddressEdit::OnFieldEdited(int index)
{
    QLineEdit* field = Field(index);
    const QString text = field->text();
    if (text.isEmpty())
        return;
    if (text.toUInt() > kMaxFieldValue)
        field->setText(QString::number(kMaxFieldValue));
    const bool full = field->text().size() >= kMaxFieldDigits && field->cursorPosition() >= kMaxFieldDigits;
    if (full && index + 1 < kFieldCount)
        FocusField(index + 1, true);
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event)
{
    const int index = IndexOf(watched);
    if (index >= 0 && event->type() == QEvent::KeyPress) {
        return HandleFieldKey(index, static_cast<QKeyEvent*>(event));
    }
    return QFrame::eventFilter(watched, event);
}

bool IpAddressEdit::HandleFieldKey(int index, QKeyEvent* key)
{
    QLineEdit* field = Field(index);
    if (key->matches(QKeySequence::Paste)) {
        PasteText(QApplication::clipboard()->text());
        return true;
    }
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();
    switch (key->key()) {
    case Qt::Key_Period:
        if (!field->text().isEmpty() && !field->hasSelectedText() && index + 1 < kFieldCount) {
            FocusField(index + 1, true);
        }
        return true;        // never inserted: the validator would refuse it anyway
    case Qt::Key_Backspace: // at a field's start both step back into the previous field
    case Qt::Key_Left:
        if (atStart && index > 0) {
            FocusField(index - 1, false, true);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (atEnd && index + 1 < kFieldCount) {
            FocusField(index + 1, false, false);
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool IpAddressEdit::focusNextPrevChild(bool next)
{
    // Tab and Backtab leave the control instead of walking its four fields:
    // start the search at the outer field and skip our own children.
    QWidget* w = next ? Field(kFieldCount - 1) : Field(0);
    QWidget* const start = w;
    for (;;) {
        w = next ? w->nextInFocusChain() : w->previousInFocusChain();
        if (w == nullptr || w == start)
            break;
        if (w == this || isAncestorOf(w))
            continue;
        if (w->window() != window())
            continue;
        if (!w->isVisibleTo(window()) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (auto* other = qobject_cast<IpAddressEdit*>(w->parentWidget())) {
            other->SetFieldFocus(0);
        } else {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        }
        return true;
    }
    return QFrame::focusNextPrevChild(next);
}
