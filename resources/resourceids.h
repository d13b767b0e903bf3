#pragma once

// Numeric identifiers of the program's resources: dialog templates, control
// IDs, strings, icon and menu commands. One value may carry several names
// when controls in different dialogs share it (1004 is the File button of the
// main window and the IP address field of the configuration dialog).

// Standard dialog results and the buttons that produce them.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// A control without an ID of its own (labels, group boxes, pictures).
constexpr int IDC_STATIC = -1;

// Dialog templates.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_SORVINDACONFIG_DIALOG = 102;
constexpr int IDD_ETHERNET_CONFIG = 103;
constexpr int IDD_ADVANCED_SETTINGS = 134;

// Icon 128, the application icon, and string 101, the About menu entry.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDS_ABOUTBOX = 101;

// Command of the About entry; system commands carry flags in their low four
// bits, so it is compared after masking them.
constexpr unsigned IDM_ABOUTBOX = 0x0010;
constexpr unsigned SYSCOMMAND_FLAGS_MASK = 0xFFF0;

// Main window (template 102).
constexpr int IDC_SCAN = 1000;
constexpr int IDC_ADVANCED_OPTIONS = 1001;
constexpr int IDC_DEVICE_LIST = 1002;
constexpr int IDC_WINK = 1003;
constexpr int IDC_FILE = 1004;

// Ethernet configuration dialog (template 103).
constexpr int IDC_IPADDRESS = 1004;
constexpr int IDC_SUBNET_MASK = 1005;
constexpr int IDC_GATEWAY = 1006;
constexpr int IDC_DNS1 = 1007;
constexpr int IDC_DHCP_ON = 1008;
constexpr int IDC_DHCP_OFF = 1009;
constexpr int IDC_PASSWORD = 1010;
constexpr int IDC_NEW_PASSWORD = 1011;
constexpr int IDC_DHCP_GROUP = 1012;
constexpr int IDC_CHANGE_PASSWORD = 1013;
constexpr int IDC_DNS2 = 1014;
constexpr int IDC_HOSTNAME = 1015;

// About box (template 100).
constexpr int IDC_VERSION = 1014;

// Advanced Settings (template 134).
constexpr int IDC_ENABLE_DHCP_SERVER = 1019;
