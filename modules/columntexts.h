#ifndef MODULES_COLUMNTEXTS_H
#define MODULES_COLUMNTEXTS_H

#include <array>
#include <cstdint>
#include <string>

#include "protocol/qort.h"

namespace modules {

// Column indexes are fixed for the whole program: the configure flow and the
// wink command read the MAC from column kColumnMac.
enum DeviceColumn : int {
    kColumnIp = 0,
    kColumnSubnetMask = 1,
    kColumnGateway = 2,
    kColumnDhcp = 3,
    kColumnVersion = 4,
    kColumnType = 5,
    kColumnMac = 6,
};
inline constexpr int kDeviceColumnCount = 7;

// Shown for every field whose Valid byte is 0.
inline constexpr const char* kNotAvailableText = "N/A";
inline constexpr const char* kDhcpOnText = "On";
inline constexpr const char* kDhcpOffText = "Off";

using DeviceColumnTexts = std::array<std::string, kDeviceColumnCount>;

// The seven texts of one scan reply, index = DeviceColumn.
DeviceColumnTexts formatColumnTexts(const QORT_ModuleScanResponseType& record);

// a.b.c.d from a value holding a in its most significant byte.
std::string formatDottedAddress(std::uint32_t address);

// "%u.%02u.%u": version 1.2.3 shows as 1.02.3.
std::string formatModuleVersion(unsigned major, unsigned minor, unsigned build);

} // namespace modules

#endif
