#include "commissioning/scanwarnings.h"

#include <algorithm>
#include <set>

namespace commissioning {
namespace {

constexpr std::uint32_t kNoAddress = 0; // 0.0.0.0: a module without an address yet
constexpr std::uint8_t kValid = 1;
constexpr std::uint8_t kDhcpOn = 1;

bool hasAddress(const QORT_ModuleScanResponseType& record)
{
    return record.IpAddrValid == kValid && record.IpAddr != kNoAddress;
}

bool dhcpOn(const QORT_ModuleScanResponseType& record)
{
    return record.DhcpValid == kValid && record.Dhcp == kDhcpOn;
}

// Every IP with the MACs that report it.
std::map<std::uint32_t, std::set<modules::MacAddress>> MacsByIp(const std::vector<QORT_ModuleScanResponseType>& scan)
{
    std::map<std::uint32_t, std::set<modules::MacAddress>> macs;
    for (const QORT_ModuleScanResponseType& record : scan)
        if (hasAddress(record))
            macs[record.IpAddr].insert(modules::macOfRecord(record));
    return macs;
}

bool outsideEverySubnet(const QORT_ModuleScanResponseType& record, const std::vector<AdapterSubnet>& subnets)
{
    return hasAddress(record) && !dhcpOn(record) && !subnetHolding(subnets, record.IpAddr);
}

void addOnce(WarningCodes& codes, const char* code)
{
    if (std::find(codes.begin(), codes.end(), code) == codes.end())
        codes.emplace_back(code);
}

} // namespace

std::map<modules::MacAddress, WarningCodes> scanWarnings(
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets)
{
    const auto macsByIp = MacsByIp(scan);
    std::map<modules::MacAddress, WarningCodes> warnings;
    for (const QORT_ModuleScanResponseType& record : scan) {
        WarningCodes& codes = warnings[modules::macOfRecord(record)];
        if (hasAddress(record) && macsByIp.at(record.IpAddr).size() > 1)
            addOnce(codes, kWarningDuplicateIp);
        if (outsideEverySubnet(record, subnets))
            addOnce(codes, kWarningOtherSubnet);
    }
    return warnings;
}

std::string warningText(const std::string& code)
{
    if (code == kWarningDuplicateIp)
        return "Another module of this scan reports the same IP address.";
    if (code == kWarningOtherSubnet)
        return "The IP address lies in no subnet of this computer: the module cannot be reached by IP from here.";
    return code;
}

} // namespace commissioning
