#include "ui/messagebox.h"

#include "ui/appicon.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

const char* const kDefaultMessageBoxCaption = "SorvindaConfig";

namespace {

MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}

QMessageBox::Icon IconOf(unsigned type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

void AddButtons(QMessageBox& box, unsigned type)
{
    const auto add = [&box](QMessageBox::StandardButton b) { box.addButton(b); };
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        add(QMessageBox::Ok);
        add(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNOCANCEL:
        add(QMessageBox::Yes);
        add(QMessageBox::No);
        add(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNO:
        add(QMessageBox::Yes);
        add(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case MB_RETRYCANCEL:
        add(QMessageBox::Retry);
        add(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    default: // MB_OK and anything unknown: one OK button
        add(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
}

// The button MB_DEFBUTTON2 names: the second of the type's buttons.
QMessageBox::StandardButton SecondButton(unsigned type)
{
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return QMessageBox::No;
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
        return QMessageBox::Cancel;
    default:
        return QMessageBox::NoButton;
    }
}

int AnswerOf(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Retry:
        return IDRETRY;
    default:
        return IDOK;
    }
}

int ShowRealBox(const MessageBoxRequest& request)
{
    QMessageBox box(request.parent.data());
    box.setWindowTitle(request.caption);
    box.setWindowIcon(AppIcon());
    // Box texts can carry outside data (a module's name, a version string);
    // never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    box.setIcon(IconOf(request.type));
    AddButtons(box, request.type);
    if (request.DefaultButton() == MB_DEFBUTTON2)
        box.setDefaultButton(SecondButton(request.type));
    box.exec();
    return AnswerOf(box.standardButton(box.clickedButton()));
}

} // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned type)
{
    MessageBoxRequest request;
    request.parent = parent;
    request.text = text;
    request.caption = caption.isEmpty() ? QString::fromLatin1(kDefaultMessageBoxCaption) : caption;
    request.type = type;
    if (Hook())
        return Hook()(request);
    return ShowRealBox(request);
}

int AfxMessageBox(const QString& text, unsigned type)
{
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr)
        owner = QApplication::activeWindow();
    return ShowMessageBox(owner, text, QString(), type);
}

MessageBoxRecorder::MessageBoxRecorder(int answer)
    : answer_(answer)
    , previous_(SetMessageBoxHook([this](const MessageBoxRequest& request) {
        records_.push_back(request);
        return answer_;
    }))
{
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    SetMessageBoxHook(std::move(previous_));
}
