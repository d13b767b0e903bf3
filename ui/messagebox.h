#pragma once

#include "resources/resourceids.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

// Message boxes with the button and icon flags of the dialogs' original
// platform. Every box goes through one function, so tests can put a hook in
// front of it: the hook sees the request and answers in place of the user,
// and no window is shown.

// Buttons (low four bits of the type).
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_YESNOCANCEL = 0x03;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_RETRYCANCEL = 0x05;
constexpr unsigned MB_TYPEMASK = 0x0F;
// Icons (next four bits).
constexpr unsigned MB_ICONHAND = 0x10;
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_ICONASTERISK = MB_ICONINFORMATION;
constexpr unsigned MB_ICONMASK = 0xF0;
// The second button is the default one (Enter answers No in a Yes/No box).
constexpr unsigned MB_DEFBUTTON2 = 0x100;
constexpr unsigned MB_DEFMASK = 0xF00;

// Answers besides IDOK and IDCANCEL.
constexpr int IDRETRY = 4;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The caption of a box whose caller gives none: the application's name.
extern const char* const kDefaultMessageBoxCaption;

struct MessageBoxRequest {
    QPointer<QWidget> parent; // owner window; may be null
    QString text;
    QString caption; // already defaulted
    unsigned type = MB_OK;

    unsigned Buttons() const { return type & MB_TYPEMASK; }
    unsigned Icon() const { return type & MB_ICONMASK; }
    unsigned DefaultButton() const { return type & MB_DEFMASK; }
};

// Answers a request instead of showing a box; returns the button ID.
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;

// Installs a hook (an empty one restores the real boxes); returns the one it
// replaces. GUI thread only.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Shows a modal box owned by parent and returns the pressed button's ID.
// An empty caption becomes the default caption. Escape answers IDCANCEL when
// the box has a Cancel button, otherwise the only or the negative button.
int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned type);

// A box owned by the active modal dialog (or the active window), with the
// default caption.
int AfxMessageBox(const QString& text, unsigned type = MB_OK);

// Test helper: while it lives, every box is recorded and answered with
// Answer() instead of being shown. Restores the previous hook when it dies.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = IDOK);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<MessageBoxRequest>& Records() const { return records_; }
    int Count() const { return static_cast<int>(records_.size()); }
    void Clear() { records_.clear(); }
    int Answer() const { return answer_; }
    void SetAnswer(int answer) { answer_ = answer; }

private:
    std::vector<MessageBoxRequest> records_;
    int answer_;
    MessageBoxHook previous_;
};
