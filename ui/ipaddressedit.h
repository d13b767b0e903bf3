#pragma once

#include <QFrame>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class QLineEdit;

// Four-field IPv4 address control. The value is an unsigned 32-bit number
// with the first field in the most significant byte (a.b.c.d is
// a<<24 | b<<16 | c<<8 | d).
//
// Each field takes up to three digits; a value above 255 is corrected to 255
// as it is typed. '.' (in a non-empty field) and a third digit move on to the
// next field, Backspace in an empty field (or at its start) moves back, and
// Left/Right cross field borders. Tab leaves the control as a whole. A field
// may be empty; when all four are, the control is blank, and blank fields
// read as 0.
//
// Pasting (Ctrl+V, Shift+Insert, or PasteText) accepts a complete dotted
// address "a.b.c.d" (surrounding white space allowed, each part 1-3 digits
// and at most 255), which fills all four fields, or a single number of 1-3
// digits, which goes into the current field (corrected to 255 if above).
// Anything else is refused and changes nothing: a paste is not typing, and
// a mangled clipboard must not turn into a plausible but wrong address.
class IpAddressEdit : public QFrame {
    Q_OBJECT

public:
    static constexpr int kFieldCount = 4;
    static constexpr int kMaxFieldValue = 255;
    static constexpr int kMaxFieldDigits = 3;

    explicit IpAddressEdit(QWidget* parent = nullptr);

    void SetAddress(std::uint32_t address);
    // Writes the address (blank fields as 0) and returns the number of
    // non-blank fields, 0 for a blank control.
    int GetAddress(std::uint32_t& address) const;
    void ClearAddress();
    bool IsBlank() const;
    // Focus on field 0..3, its text selected.
    void SetFieldFocus(int field);
    // Pastes as described above; returns whether the text was taken.
    bool PasteText(const QString& text);

    QLineEdit* Field(int index) const { return fields_.at(static_cast<std::size_t>(index)); }

    // A dotted address "a.b.c.d" as the control accepts it, or nothing.
    static std::optional<std::uint32_t> ParseDotted(const QString& text);

signals:
    // Any field's text changed, by the user or by a setter.
    void AddressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    int IndexOf(const QObject* field) const;
    bool HandleFieldKey(int index, class QKeyEvent* key);
    void OnFieldEdited(int index);
    void FocusField(int index, bool selectAll, bool cursorAtEnd = false);

    std::array<QLineEdit*, kFieldCount> fields_{};
};

// The control's name on the dialogs' original platform.
using CIPAddressCtrl = IpAddressEdit;
