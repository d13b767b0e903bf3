#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

class TemplateDialog;

// One data-exchange pass between a dialog's controls and its fields, run by
// TemplateDialog::UpdateData. In the loading direction the DDX_ helpers put
// the fields into the controls; in the saving direction they read the
// controls back and the DDV_ helpers validate. A failed validation tells the
// user, puts the focus on the offending control and stops the pass: the
// helpers after it do nothing, and UpdateData returns false.
class DataExchange {
public:
    DataExchange(TemplateDialog& dialog, bool saveAndValidate);

    bool SaveAndValidate() const { return saveAndValidate_; }
    bool Failed() const { return failed_; }
    TemplateDialog& Dialog() const { return dialog_; }

    // The control with this ID, remembered as the one a following DDV_ helper
    // refers to; nullptr when the dialog has no such control.
    QWidget* PrepareCtrl(int id);
    QWidget* LastControl() const { return lastControl_; }

    // Marks the pass failed and focuses the last prepared control.
    void Fail();

private:
    TemplateDialog& dialog_;
    bool saveAndValidate_;
    bool failed_ = false;
    QWidget* lastControl_ = nullptr;
};

// Text of an edit, a label or a button.
void DDX_Text(DataExchange& dx, int id, QString& value);
// Check box state: 0 unchecked, 1 checked, 2 indeterminate.
void DDX_Check(DataExchange& dx, int id, int& value);
// Radio group that starts at firstId (template order, up to the first
// control that is not a radio button or starts a new group): index of the
// checked button, -1 when none is checked. Loading -1 or an index outside
// the group unchecks them all.
void DDX_Radio(DataExchange& dx, int firstId, int& value);
// IPv4 address control; a blank control saves as 0.
void DDX_IPAddress(DataExchange& dx, int id, std::uint32_t& value);
// Loading: limits the last prepared edit to maxChars characters. Saving:
// refuses a longer value with "Enter no more than N characters.".
void DDV_MaxChars(DataExchange& dx, const QString& value, int maxChars);

// The control as its widget class, or nullptr if it is missing or of
// another class. The control stays owned by the dialog.
template <class Widget>
void DDX_Control(DataExchange& dx, int id, Widget*& control)
{
    control = qobject_cast<Widget*>(dx.PrepareCtrl(id));
}
