#ifndef DHCP_ADVANCEDOPTIONS_H
#define DHCP_ADVANCEDOPTIONS_H

#include "dhcp/dhcpservercontrol.h"

// The whole of the main window's "Advanced Options" command: runs the
// Advanced Settings dialog showing whether the recovery server runs, then
// starts or stops it as the box says after OK (Cancel changes nothing).
// When the server cannot open its socket the user is told "DHCP server init
// failed"; the server is still marked running, so the box shows checked the
// next time and unchecking it stops it as usual. Returns what changed.
// GUI thread only.
DhcpServerControl::Change RunAdvancedSettings(DhcpServerControl& control);

#endif
