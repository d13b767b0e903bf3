#include "resources/dialogtemplate.h"

#include "resources/resourceids.h"

#include <array>

namespace {

using namespace ControlStyle;
using K = ControlKind;

// Every dialog of the program uses the same face at 8 points.
constexpr std::string_view kDialogFontFace = "MS Sans Serif";
constexpr int kDialogFontPointSize = 8;

constexpr std::uint32_t kModalDialogStyle = DialogStyle::ModalFrame | DialogStyle::Caption | DialogStyle::SysMenu;

constexpr std::array kAboutControls{
    ControlTemplate{IDC_STATIC, K::StaticIcon, "", {11, 17, 20, 20}, None},
    ControlTemplate{IDC_VERSION, K::StaticText, "Sorvinda Config", {40, 10, 119, 8}, NoPrefix | Group},
    ControlTemplate{IDC_STATIC, K::StaticText, "Copyright (C) 2002-2024 Sorvinda", {40, 25, 167, 8}, Group},
    ControlTemplate{IDOK, K::DefPushButton, "OK", {178, 7, 50, 14}, Group | TabStop},
};

// The Advanced Options, Scan and Wink buttons all carry the default-button
// style; the first of them in template order (Scan) is the dialog's default.
constexpr std::array kMainControls{
    ControlTemplate{IDC_SCAN, K::DefPushButton, "Scan", {310, 165, 50, 14}, TabStop},
    ControlTemplate{IDOK, K::PushButton, "Exit", {370, 165, 50, 14}, TabStop},
    ControlTemplate{IDC_DEVICE_LIST, K::ListView, "", {7, 7, 413, 154}, ReportView | SingleSel | Border | TabStop},
    ControlTemplate{IDC_ADVANCED_OPTIONS, K::DefPushButton, "Advanced Options", {10, 165, 75, 14}, TabStop},
    ControlTemplate{IDC_WINK, K::DefPushButton, "Wink", {250, 165, 50, 14}, TabStop},
    ControlTemplate{IDC_FILE, K::PushButton, "File", {191, 165, 50, 14}, Hidden | Disabled | TabStop},
};

constexpr std::uint32_t kEditStyle = Border | AutoHScroll | TabStop;

constexpr std::array kEthernetConfigControls{
    ControlTemplate{IDOK, K::DefPushButton, "Set", {194, 199, 50, 14}, TabStop},
    ControlTemplate{IDCANCEL, K::PushButton, "Cancel", {250, 199, 50, 14}, TabStop},
    ControlTemplate{IDC_STATIC, K::StaticText, "IP address:", {12, 17, 36, 8}, None},
    ControlTemplate{IDC_IPADDRESS, K::IpAddress, "", {71, 15, 100, 15}, TabStop},
    ControlTemplate{IDC_STATIC, K::StaticText, "Subnet mask:", {11, 40, 44, 8}, None},
    ControlTemplate{IDC_SUBNET_MASK, K::IpAddress, "", {71, 38, 100, 15}, TabStop},
    ControlTemplate{IDC_STATIC, K::StaticText, "Default gateway:", {11, 63, 54, 8}, None},
    ControlTemplate{IDC_GATEWAY, K::IpAddress, "", {71, 61, 100, 15}, TabStop},
    ControlTemplate{IDC_STATIC, K::StaticText, "Primary DNS:", {10, 86, 43, 8}, None},
    ControlTemplate{IDC_DNS1, K::IpAddress, "", {71, 84, 100, 15}, TabStop},
    ControlTemplate{IDC_STATIC, K::StaticText, "Secondary DNS:", {10, 109, 54, 8}, None},
    ControlTemplate{IDC_DNS2, K::IpAddress, "", {71, 107, 100, 15}, TabStop},
    ControlTemplate{IDC_STATIC, K::StaticText, "Hostname:", {10, 132, 35, 8}, None},
    ControlTemplate{IDC_HOSTNAME, K::Edit, "", {71, 130, 100, 14}, kEditStyle},
    ControlTemplate{IDC_STATIC, K::StaticText, "Password:", {10, 155, 34, 8}, None},
    ControlTemplate{IDC_PASSWORD, K::Edit, "", {71, 152, 100, 14}, kEditStyle | Password},
    ControlTemplate{IDC_STATIC, K::StaticText, "New password:", {10, 178, 50, 8}, None},
    ControlTemplate{IDC_NEW_PASSWORD, K::Edit, "", {71, 174, 100, 14}, kEditStyle | Password},
    ControlTemplate{IDC_DHCP_GROUP, K::GroupBox, "DHCP", {190, 15, 91, 52}, None},
    ControlTemplate{IDC_DHCP_ON, K::RadioButton, "On", {200, 30, 25, 10}, Group},
    ControlTemplate{IDC_DHCP_OFF, K::RadioButton, "Off", {200, 48, 25, 10}, None},
    ControlTemplate{IDC_CHANGE_PASSWORD, K::CheckBox, "Change password", {190, 155, 73, 10}, TabStop},
    ControlTemplate{IDC_STATIC, K::GroupBox, "Ethernet configuration", {5, 5, 295, 190}, None},
};

constexpr std::array kAdvancedSettingsControls{
    ControlTemplate{IDOK, K::DefPushButton, "OK", {5, 70, 50, 14}, TabStop},
    ControlTemplate{IDCANCEL, K::PushButton, "Cancel", {130, 70, 50, 14}, TabStop},
    ControlTemplate{IDC_STATIC, K::GroupBox, "Internal DHCP server", {5, 5, 175, 60}, None},
    ControlTemplate{IDC_STATIC, K::StaticText,
        "Warning! Internal DHCP server should only be used to recover modules that have been set to "
        "DHCP by mistake.",
        {10, 15, 165, 30}, None},
    ControlTemplate{IDC_ENABLE_DHCP_SERVER, K::CheckBox, "Enable internal DHCP server", {10, 50, 165, 10}, TabStop},
};

const std::array kDialogTemplates{
    DialogTemplate{IDD_ABOUTBOX, "About Sorvinda Config", kDialogFontFace, kDialogFontPointSize, 235, 55,
        kModalDialogStyle, kAboutControls},
    DialogTemplate{IDD_SORVINDACONFIG_DIALOG, "Sorvinda Config v1.3.1", kDialogFontFace, kDialogFontPointSize, 431, 185,
        DialogStyle::Visible | DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::ThickFrame
            | DialogStyle::MinimizeBox | DialogStyle::MaximizeBox | DialogStyle::AppWindow,
        kMainControls},
    DialogTemplate{IDD_ETHERNET_CONFIG, "Dialog", kDialogFontFace, kDialogFontPointSize, 307, 218, kModalDialogStyle,
        kEthernetConfigControls},
    DialogTemplate{IDD_ADVANCED_SETTINGS, "Advanced Settings", kDialogFontFace, kDialogFontPointSize, 186, 90,
        kModalDialogStyle, kAdvancedSettingsControls},
};

} // namespace

const DialogTemplate* FindDialogTemplate(int id)
{
    for (const DialogTemplate& t : kDialogTemplates) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}
