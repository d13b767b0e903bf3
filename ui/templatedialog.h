#pragma once

#include "resources/dialogtemplate.h"
#include "resources/resourceids.h"
#include "ui/dataexchange.h"
#include "ui/dialogunits.h"

#include <QDialog>
#include <QList>

#include <functional>
#include <map>
#include <vector>

class QRadioButton;

// A dialog built from one of the program's dialog templates, with the
// life cycle of the dialog framework the program was designed on:
//
//   TemplateDialog(id)  ->  DoModal()  ->  OnInitDialog()   (controls ready)
//                                      ->  modal loop       (buttons -> handlers)
//                                      ->  OnDestroy()      (controls still readable)
//                       <-  IDOK / IDCANCEL / EndDialog's code
//
// The controls are created from the template on first need (GetDlgItem,
// DoModal, Create, UpdateData) at their template rectangles converted from
// dialog units with the template font's metrics, in template order, which is
// also the tab order. A derived class may hand in its own widget for an ID
// with SubstituteControl before that, e.g. a list class of its own for a
// list-view control.
//
// Commands: a click on any button with an ID goes to the handler mapped for
// that ID with MapCommand; unmapped, IDOK calls OnOK and IDCANCEL OnCancel.
// Enter presses the default button (the first default push button of the
// template, or the focused push button); Escape calls OnCancel; the title
// bar's close button calls OnClose, which by default calls OnCancel.
//
// One object serves one modal run, as the dialogs live on their caller's
// stack; a second DoModal reuses the controls with their state.
class TemplateDialog : public QDialog {
    Q_OBJECT

public:
    explicit TemplateDialog(int templateId, QWidget* parent = nullptr);
    ~TemplateDialog() override;

    // Runs the dialog modally; returns the code given to EndDialog (IDOK from
    // the base OnOK, IDCANCEL from the base OnCancel). If OnInitDialog ends
    // the dialog, it is never shown and DoModal returns at once.
    int DoModal();
    // Modeless use: initialises and shows the dialog, then returns. EndDialog
    // hides it; finished(code) reports the end.
    void Create();
    // Ends the modal run (or hides a modeless dialog) with the given code.
    void EndDialog(int result);

    // The control with this ID (the first one, for IDs shared by several
    // controls such as IDC_STATIC), or nullptr.
    QWidget* GetDlgItem(int id);
    template <class Widget>
    Widget* GetDlgItemAs(int id)
    {
        return qobject_cast<Widget*>(GetDlgItem(id));
    }
    // Every control, in template order (one entry per template control).
    QList<QWidget*> Controls();
    // The radio buttons of the group that starts at firstId, in template order.
    QList<QRadioButton*> RadioGroup(int firstId);
    // ID of the button Enter presses while no push button has the focus, 0 if
    // the template has no default button.
    int DefaultButtonId() const;

    // Runs DoDataExchange: false loads the fields into the controls, true
    // saves the controls into the fields and validates. Returns false when a
    // validation failed.
    bool UpdateData(bool saveAndValidate = true);

    void SetWindowText(const QString& text) { setWindowTitle(text); }
    const DialogTemplate& Template() const { return *template_; }
    DialogBaseUnits BaseUnits() const { return units_; }
    QRect MapDialogRect(const DuRect& rect) const { return DialogUnitsToPixels(rect, units_); }

protected:
    // Called once the controls exist, before the dialog is shown. The base
    // version loads the fields into the controls. Return true to put the
    // focus on the first tab stop, false when the override set it.
    virtual bool OnInitDialog();
    // The base version saves and validates the fields, then ends with IDOK.
    virtual void OnOK();
    // The base version ends with IDCANCEL.
    virtual void OnCancel();
    // The title bar's close button; the base version calls OnCancel.
    virtual void OnClose();
    // The modal run has ended; the controls are still there to be read.
    virtual void OnDestroy() { }
    virtual void DoDataExchange(DataExchange& dx);

    // Uses widget for control id; it takes the template's rectangle, text and
    // style. Only before the controls are built; the dialog takes ownership.
    void SubstituteControl(int id, QWidget* widget);
    // Message-map entry: a click on the button with this ID calls handler.
    void MapCommand(int id, std::function<void()> handler);

    void accept() override;
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Control {
        int id;
        const ControlTemplate* source;
        QWidget* widget;
    };

    void EnsureControls();
    QWidget* CreateControl(const ControlTemplate& source);
    void ApplyStyle(QWidget* widget, const ControlTemplate& source);
    void GroupRadioButtons();
    void SetTabOrder();
    void FocusFirstTabStop();
    void OnButtonClicked(int id);
    void ApplyDialogStyle();

    const DialogTemplate* template_;
    DialogBaseUnits units_;
    std::vector<Control> controls_;
    std::map<int, QWidget*> substitutes_;
    std::map<int, std::function<void()>> commands_;
    bool built_ = false;
    bool ended_ = false;
    int result_ = IDCANCEL;
};

// The framework's name for the dialog base.
using CDialog = TemplateDialog;
