#ifndef PLATFORM_WINDOWS_ADAPTERADDRESSES_H
#define PLATFORM_WINDOWS_ADAPTERADDRESSES_H

#include "platform/networkadapters.h"

#include <vector>

namespace platform::windows {

// Every IPv4 address of every adapter as GetAdaptersAddresses lists them
// (adapters without one appear once with hasIpv4 false). Empty when the
// list cannot be read.
std::vector<InterfaceRecord> adapterRecords();

} // namespace platform::windows

#endif
