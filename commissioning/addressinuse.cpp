#include "commissioning/addressinuse.h"

#include "commissioning/arppacket.h"

#include <algorithm>
#include <future>

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

// The part of the check that needs no network: a final use, or the subnet
// whose adapter the network is to be asked on.
struct FirstLook {
    std::optional<AddressUse> use;
    AdapterSubnet subnet;
};

FirstLook lookBeforeAsking(std::uint32_t ip, const modules::MacAddress& module,
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets,
    const std::vector<AdapterSubnet>& computer)
{
    if (ip == kNoAddress)
        return {AddressUse{}, {}};
    if (const auto other = moduleAt(ip, module, scan))
        return {AddressUse{true, *other, true, {}, {}}, {}};
    // Every address of this computer, a second one or a /32 too, before
    // the subnet: a /32 is in no subnet the network could be asked on.
    if (const std::optional<std::string> adapter = adapterWithAddress(subnets, computer, ip))
        return {AddressUse{true, adapterMac(*adapter).value_or(modules::MacAddress{}), false, {}, *adapter}, {}};
    const std::optional<AdapterSubnet> subnet = subnetHolding(subnets, ip);
    if (!subnet)
        return {AddressUse{false, {}, false,
                    "no adapter of this computer is in the address's subnet: the network was not asked"},
            {}};
    return {std::nullopt, *subnet};
}

AddressUse useFromAnswer(std::uint32_t ip, const modules::MacAddress& module,
    const std::vector<QORT_ModuleScanResponseType>& scan, const NetworkAnswer& answer)
{
    if (!answer.problem.empty())
        return {false, {}, false, answer.problem};
    if (!answer.holder || *answer.holder == module)
        return {};
    const QORT_ModuleScanResponseType* holderModule = moduleWithMac(*answer.holder, scan);
    if (holderModule != nullptr && holderModule->IpAddrValid == kValid && holderModule->IpAddr != ip)
        return {};
    return {true, *answer.holder, holderModule != nullptr, {}};
}

using AskerFunction = NetworkAnswer (*)(const AdapterSubnet&, std::uint32_t, std::chrono::milliseconds);
using BatchFunction = std::vector<NetworkAnswer> (*)(const std::vector<AddressQuestion>&, std::chrono::milliseconds);

struct SystemAsker {
    AskerFunction one;
    BatchFunction all;
};

const SystemAsker kSystemAskers[] = {
    {askNetwork, askAllNetwork},
    {askByArpProbe, askAllByArpProbe},
    {askNeighbourTable, askAllNeighbourTable},
};

} // namespace

AddressUse checkAddressInUse(std::uint32_t ip, const modules::MacAddress& module,
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets,
    const NetworkAsker& ask, std::chrono::milliseconds bound, const std::vector<AdapterSubnet>& computer)
{
    const FirstLook look = lookBeforeAsking(ip, module, scan, subnets, computer);
    if (look.use)
        return *look.use;
    return useFromAnswer(ip, module, scan, ask(look.subnet, ip, bound));
}

std::vector<AddressUse> checkAddressesInUse(const std::vector<AddressTarget>& targets,
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets,
    const NetworkBatchAsker& askAll, std::chrono::milliseconds bound, const std::vector<AdapterSubnet>& computer)
{
    std::vector<AddressUse> uses(targets.size());
    std::vector<AddressQuestion> questions;
    std::vector<std::size_t> asking; // the target of each question
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const FirstLook look = lookBeforeAsking(targets[i].ip, targets[i].module, scan, subnets, computer);
        if (look.use) {
            uses[i] = *look.use;
        } else {
            questions.push_back({look.subnet, targets[i].ip});
            asking.push_back(i);
        }
    }
    if (questions.empty())
        return uses;
    std::vector<NetworkAnswer> answers = askAll(questions, bound);
    answers.resize(questions.size(), {std::nullopt, "the network gave no answer for this address"});
    for (std::size_t q = 0; q < questions.size(); ++q) {
        const AddressTarget& target = targets[asking[q]];
        uses[asking[q]] = useFromAnswer(target.ip, target.module, scan, answers[q]);
    }
    return uses;
}

NetworkBatchAsker batchAsker(const NetworkAsker& ask)
{
    if (const AskerFunction* function = ask.target<AskerFunction>())
        for (const SystemAsker& system : kSystemAskers)
            if (*function == system.one)
                return system.all;
    return [ask](const std::vector<AddressQuestion>& questions, std::chrono::milliseconds bound) {
        std::vector<std::future<NetworkAnswer>> pending;
        pending.reserve(questions.size());
        for (const AddressQuestion& question : questions)
            pending.push_back(std::async(std::launch::async, ask, question.subnet, question.ip, bound));
        std::vector<NetworkAnswer> answers;
        answers.reserve(questions.size());
        for (std::future<NetworkAnswer>& answer : pending)
            answers.push_back(answer.get());
        return answers;
    };
}

std::string holderText(const AddressUse& use)
{
    if (!use.computerAdapter.empty())
        return "this computer (" + use.computerAdapter + ")";
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
