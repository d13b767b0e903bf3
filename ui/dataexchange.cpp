#include "ui/dataexchange.h"

#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"
#include "ui/templatedialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace {

constexpr int kUnchecked = 0;
constexpr int kChecked = 1;
constexpr int kIndeterminate = 2;
constexpr int kNoRadioChecked = -1;

// A pass that has failed leaves every later control alone.
bool Skip(const DataExchange& dx)
{
    return dx.Failed();
}

} // namespace

DataExchange::DataExchange(TemplateDialog& dialog, bool saveAndValidate)
    : dialog_(dialog)
    , saveAndValidate_(saveAndValidate)
{
}

QWidget* DataExchange::PrepareCtrl(int id)
{
    lastControl_ = dialog_.GetDlgItem(id);
    return lastControl_;
}

void DataExchange::Fail()
{
    failed_ = true;
    if (lastControl_ != nullptr) {
        lastControl_->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(lastControl_))
            edit->selectAll();
    }
}

void DDX_Text(DataExchange& dx, int id, QString& value)
{
    if (Skip(dx))
        return;
    QWidget* control = dx.PrepareCtrl(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        if (dx.SaveAndValidate()) {
            value = edit->text();
        } else {
            edit->setText(value);
        }
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        if (dx.SaveAndValidate()) {
            value = label->text();
        } else {
            label->setText(value);
        }
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        if (dx.SaveAndValidate()) {
            value = button->text();
        } else {
            button->setText(value);
        }
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        if (dx.SaveAndValidate()) {
            value = group->title();
        } else {
            group->setTitle(value);
        }
    }
}

void DDX_Check(DataExchange& dx, int id, int& value)
{
    if (Skip(dx))
        return;
    auto* box = qobject_cast<QCheckBox*>(dx.PrepareCtrl(id));
    if (box == nullptr)
        return;
    if (dx.SaveAndValidate()) {
        switch (box->checkState()) {
        case Qt::Checked:
            value = kChecked;
            break;
        case Qt::PartiallyChecked:
            value = kIndeterminate;
            break;
        default:
            value = kUnchecked;
            break;
        }
        return;
    }
    if (value == kIndeterminate) {
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
    } else {
        box->setCheckState(value == kChecked ? Qt::Checked : Qt::Unchecked);
    }
}

void DDX_Radio(DataExchange& dx, int firstId, int& value)
{
    if (Skip(dx))
        return;
    dx.PrepareCtrl(firstId);
    const QList<QRadioButton*> group = dx.Dialog().RadioGroup(firstId);
    if (group.isEmpty())
        return;
    if (dx.SaveAndValidate()) {
        value = kNoRadioChecked;
        for (int i = 0; i < group.size(); ++i) {
            if (group[i]->isChecked()) {
                value = i;
                break;
            }
        }
        return;
    }
    // An exclusive button group refuses to uncheck its checked button; lift
    // the rule while the state is set.
    QButtonGroup* buttons = group.front()->group();
    const bool exclusive = buttons != nullptr && buttons->exclusive();
    if (buttons != nullptr)
        buttons->setExclusive(false);
    for (int i = 0; i < group.size(); ++i)
        group[i]->setChecked(i == value);
    if (buttons != nullptr)
        buttons->setExclusive(exclusive);
}

void DDX_IPAddress(DataExchange& dx, int id, std::uint32_t& value)
{
    if (Skip(dx))
        return;
    auto* address = qobject_cast<IpAddressEdit*>(dx.PrepareCtrl(id));
    if (address == nullptr)
        return;
    if (dx.SaveAndValidate()) {
        address->GetAddress(value);
    } else {
        address->SetAddress(value);
    }
}

void DDV_MaxChars(DataExchange& dx, const QString& value, int maxChars)
{
    if (Skip(dx))
        return;
    if (!dx.SaveAndValidate()) {
        if (auto* edit = qobject_cast<QLineEdit*>(dx.LastControl()))
            edit->setMaxLength(maxChars);
        return;
    }
    if (value.size() > maxChars) {
        ShowMessageBox(&dx.Dialog(), QStringLiteral("Enter no more than %1 characters.").arg(maxChars), QString(),
            MB_ICONEXCLAMATION);
        dx.Fail();
    }
}
