#include "modules/columntexts.h"

#include <cstdio>
#include <cstring>

#include "modules/macaddress.h"

namespace modules {
namespace {

// Longest possible results, terminator included: "255.255.255.255", and
// three 10-digit numbers with two dots.
constexpr std::size_t kAddressTextSize = 16;
constexpr std::size_t kVersionTextSize = 33;

constexpr std::uint8_t kDhcpOnValue = 1;

std::string AddressOrNotAvailable(std::uint8_t valid, std::uint32_t address)
{
    return valid != 0 ? formatDottedAddress(address) : kNotAvailableText;
}

std::string DhcpText(const QORT_ModuleScanResponseType& record)
{
    if (record.DhcpValid == 0) {
        return kNotAvailableText;
    }
    // Only exactly 1 means on; a module reporting neither state shows "Off".
    return record.Dhcp == kDhcpOnValue ? kDhcpOnText : kDhcpOffText;
}

std::string VersionText(const QORT_ModuleScanResponseType& record)
{
    if (record.ModuleVersionValid == 0) {
        return kNotAvailableText;
    }
    return formatModuleVersion(record.ModuleVersionMajor, record.ModuleVersionMinor, record.ModuleVersionBuild);
}

std::string TypeText(const QORT_ModuleScanResponseType& record)
{
    if (record.FbTypeValid == 0) {
        return kNotAvailableText;
    }
    // The field arrives from the network: a record whose text fills all 128
    // bytes without a terminator must not lead the read into the next field.
    return std::string(record.FbType, strnlen(record.FbType, sizeof record.FbType));
}

std::string MacText(const QORT_ModuleScanResponseType& record)
{
    return record.MacIdValid != 0 ? formatMac(macOfRecord(record)) : kNotAvailableText;
}

} // namespace

std::string formatDottedAddress(std::uint32_t address)
{
    char text[kAddressTextSize];
    // Every field is masked to 0..255, so the text always fits.
    static_cast<void>(std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFFu, (address >> 16) & 0xFFu,
        (address >> 8) & 0xFFu, address & 0xFFu));
    return text;
}

std::string formatModuleVersion(unsigned major, unsigned minor, unsigned build)
{
    char text[kVersionTextSize];
    // Sized for the widest three numbers; a cut text is still a valid one.
    static_cast<void>(std::snprintf(text, sizeof text, "%u.%02u.%u", major, minor, build));
    return text;
}

DeviceColumnTexts formatColumnTexts(const QORT_ModuleScanResponseType& record)
{
    DeviceColumnTexts texts;
    texts[kColumnIp] = AddressOrNotAvailable(record.IpAddrValid, record.IpAddr);
    texts[kColumnSubnetMask] = AddressOrNotAvailable(record.SubnetMaskValid, record.SubnetMask);
    texts[kColumnGateway] = AddressOrNotAvailable(record.GatewayValid, record.Gateway);
    texts[kColumnDhcp] = DhcpText(record);
    texts[kColumnVersion] = VersionText(record);
    texts[kColumnType] = TypeText(record);
    texts[kColumnMac] = MacText(record);
    return texts;
}

} // namespace modules
