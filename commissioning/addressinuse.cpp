#include "commissioning/addressinuse.h"

#include "commissioning/arppacket.h"

#include <algorithm>

namespace commissioning {
namespace {

constexpr std::uint8_t kValid = 1;
constexpr std::uint32_t kNoAddress = 0;

std::optional<modules::MacAddress> moduleAt(
    std::uint32_t ip, const modules::MacAddress& module, const std::vector<QORT_ModuleScanResponseType>& scan)
{
    for (const QORT_ModuleScanResponseType& record : scan) {
        const modules::MacAddress mac = modules::macOfRecord(record);
        if (mac != module && record.IpAddrValid == kValid && record.IpAddr == ip)
            return mac;
    }
    return std::nullopt;
}

const QORT_ModuleScanResponseType* moduleWithMac(
    const modules::MacAddress& mac, const std::vector<QORT_ModuleScanResponseType>& scan)
{
    const auto found = std::find_if(scan.begin(), scan.end(),
        [&mac](const QORT_ModuleScanResponseType& record) { return modules::macOfRecord(record) == mac; });
    return found == scan.end() ? nullptr : &*found;
}

} // namespace

AddressUse checkAddressInUse(std::uint32_t ip, const modules::MacAddress& module,
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets,
    const NetworkAsker& ask, std::chrono::milliseconds bound)
{
    if (ip == kNoAddress)
        return {};
    if (const auto other = moduleAt(ip, module, scan))
        return {true, *other, true, {}};
    const std::optional<AdapterSubnet> subnet = subnetHolding(subnets, ip);
    if (!subnet)
        return {false, {}, false, "no adapter of this computer is in the address's subnet: the network was not asked"};
    if (subnet->address == ip)
        return {true, adapterMac(subnet->adapter).value_or(modules::MacAddress{}), false,
            "the address is this computer's own, on " + subnet->adapter};
    const NetworkAnswer answer = ask(*subnet, ip, bound);
    if (!answer.problem.empty())
        return {false, {}, false, answer.problem};
    if (!answer.holder || *answer.holder == module)
        return {};
    const QORT_ModuleScanResponseType* holderModule = moduleWithMac(*answer.holder, scan);
    if (holderModule != nullptr && holderModule->IpAddrValid == kValid && holderModule->IpAddr != ip)
        return {};
    return {true, *answer.holder, holderModule != nullptr, {}};
}

std::string holderText(const AddressUse& use)
{
    return (use.holderIsModule ? "module " : "") + modules::formatMac(use.holder);
}

std::optional<modules::MacAddress> arpHolder(
    const std::uint8_t* packet, std::size_t size, std::uint32_t ip, const modules::MacAddress& own)
{
    if (size < arp::kSize || arp::read16(packet + arp::kHardwareType) != arp::kEthernet
        || arp::read16(packet + arp::kProtocolType) != arp::kIpv4 || packet[arp::kHardwareLength] != arp::kMacLength
        || packet[arp::kProtocolLength] != arp::kIpLength)
        return std::nullopt;
    modules::MacAddress sender{};
    std::copy_n(packet + arp::kSenderMac, sender.size(), sender.begin());
    const std::uint32_t senderIp = arp::read32(packet + arp::kSenderIp);
    // RFC 5227: another host probing for the same address claims it too.
    const bool otherProbe = senderIp == kNoAddress && arp::read16(packet + arp::kOperation) == arp::kRequest
        && arp::read32(packet + arp::kTargetIp) == ip;
    if (sender == own || (senderIp != ip && !otherProbe))
        return std::nullopt;
    return sender;
}

} // namespace commissioning
