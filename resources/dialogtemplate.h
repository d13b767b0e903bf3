#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// Dialog templates as data: the dialogs' layout in dialog units, their
// controls in template order (which is also the tab order) and the style
// bits the dialogs rely on. ui/ turns a template into widgets; nothing here
// depends on a toolkit.

enum class ControlKind {
    PushButton,
    DefPushButton, // the dialog's default button: Enter presses it
    CheckBox,      // automatic: a click toggles it
    RadioButton,   // automatic: a click checks it and unchecks its group
    GroupBox,
    StaticText,
    StaticIcon, // shows icon IDR_MAINFRAME at its natural size
    Edit,
    IpAddress, // four-field IPv4 address control
    ListView,
};

// Control style bits.
namespace ControlStyle {
constexpr std::uint32_t None = 0;
constexpr std::uint32_t Disabled = 1u << 0;
constexpr std::uint32_t Hidden = 1u << 1;
constexpr std::uint32_t TabStop = 1u << 2;
constexpr std::uint32_t Group = 1u << 3; // starts a group (radio buttons)
constexpr std::uint32_t Border = 1u << 4;
constexpr std::uint32_t ReadOnly = 1u << 5;
constexpr std::uint32_t Password = 1u << 6; // edit shows placeholder characters
constexpr std::uint32_t AutoHScroll = 1u << 7;
constexpr std::uint32_t NoPrefix = 1u << 8; // '&' is shown, not a mnemonic
constexpr std::uint32_t ReportView = 1u << 9;
constexpr std::uint32_t SingleSel = 1u << 10;
} // namespace ControlStyle

// Dialog style bits.
namespace DialogStyle {
constexpr std::uint32_t None = 0;
constexpr std::uint32_t Caption = 1u << 0;
constexpr std::uint32_t SysMenu = 1u << 1;
constexpr std::uint32_t ModalFrame = 1u << 2; // fixed size
constexpr std::uint32_t ThickFrame = 1u << 3; // sizing border: resizable
constexpr std::uint32_t MinimizeBox = 1u << 4;
constexpr std::uint32_t MaximizeBox = 1u << 5;
constexpr std::uint32_t Visible = 1u << 6;
constexpr std::uint32_t AppWindow = 1u << 7; // shown on the task bar
} // namespace DialogStyle

// A rectangle in dialog units: x and width in quarters of the font's average
// character width, y and height in eighths of its height.
struct DuRect {
    int x;
    int y;
    int cx;
    int cy;
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string_view text;
    DuRect rect;
    std::uint32_t style;
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    std::string_view fontFace;
    int fontPointSize;
    int cx; // client size in dialog units
    int cy;
    std::uint32_t style;
    std::span<const ControlTemplate> controls;
};

// The template with the given ID, or nullptr when the program has none.
const DialogTemplate* FindDialogTemplate(int id);
