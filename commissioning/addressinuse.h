#ifndef COMMISSIONING_ADDRESSINUSE_H
#define COMMISSIONING_ADDRESSINUSE_H

#include "commissioning/adaptersubnets.h"
#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Before a write that changes a module's IP: is the new address already
// held by another device? Asked of the scan first, then of the network on
// the adapter whose subnet holds the address.
//
// Front ends, before sending a Configure whose IP differs from the scan's:
//   const auto use = commissioning::checkAddressInUse(request.IpAddr,
//       modules::macOfRecord(found), scanRecords, commissioning::usableAdapterSubnets());
//   if (use.inUse) refuse or ask: "address A is in use by " + holderText(use)

namespace commissioning {

// How long the network is given to answer. A host on the segment answers
// an ARP request within milliseconds; nobody answering costs exactly this,
// well under a second.
inline constexpr std::chrono::milliseconds kAddressAnswerBound{300};

// What the network said about an address on one adapter.
struct NetworkAnswer {
    std::optional<modules::MacAddress> holder; // nothing: nobody answered within the bound
    std::string problem;                       // not empty: the network could not be asked
};

// Sends an RFC 5227 ARP probe (sender IP 0.0.0.0, so no host's table
// learns anything) out of the adapter and waits up to bound for a reply, or
// for another host probing for the same address. Needs CAP_NET_RAW; without
// it the answer's problem says so.
NetworkAnswer askByArpProbe(const AdapterSubnet& subnet, std::uint32_t ip, std::chrono::milliseconds bound);

// Makes the kernel resolve the address (an empty UDP datagram to the
// discard port: the kernel sends the ARP request) and reads its neighbour
// table over rtnetlink until an entry with a MAC appears or bound has
// passed. Works for an ordinary user. An entry the kernel still holds from
// the last minutes (stale) counts as an answer.
NetworkAnswer askNeighbourTable(const AdapterSubnet& subnet, std::uint32_t ip, std::chrono::milliseconds bound);

// The ARP probe when the process may send one, the neighbour table otherwise.
NetworkAnswer askNetwork(const AdapterSubnet& subnet, std::uint32_t ip, std::chrono::milliseconds bound);

using NetworkAsker = std::function<NetworkAnswer(const AdapterSubnet&, std::uint32_t, std::chrono::milliseconds)>;

struct AddressUse {
    bool inUse = false;
    modules::MacAddress holder{};
    bool holderIsModule = false;      // the holder is a module of the scan
    std::string note;                 // why the network was not asked, or could not be
    std::string computerAdapter = {}; // not empty: the address is this computer's own, on this adapter
};

// In use when another module of the scan reports ip, when it is an address
// of this computer (any of subnets or of computer: every adapter's, see
// computerAddresses()), or when another device answers for it on the
// adapter whose subnet holds it. The module's own MAC answering is no
// conflict, nor is an answer naming a module that this scan shows at
// another address (the entry is older than the module's move).
AddressUse checkAddressInUse(std::uint32_t ip, const modules::MacAddress& module,
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets,
    const NetworkAsker& ask = askNetwork, std::chrono::milliseconds bound = kAddressAnswerBound,
    const std::vector<AdapterSubnet>& computer = computerAddresses());

// Many addresses at once (a plan): every question is sent first, then the
// answers are awaited together, so the whole batch costs one bound, never
// one per address.
struct AddressQuestion {
    AdapterSubnet subnet;
    std::uint32_t ip = 0;
};
// One answer per question, in question order.
using NetworkBatchAsker =
    std::function<std::vector<NetworkAnswer>(const std::vector<AddressQuestion>&, std::chrono::milliseconds)>;
std::vector<NetworkAnswer> askAllByArpProbe(
    const std::vector<AddressQuestion>& questions, std::chrono::milliseconds bound);
std::vector<NetworkAnswer> askAllNeighbourTable(
    const std::vector<AddressQuestion>& questions, std::chrono::milliseconds bound);
// The ARP probes when the process may send them, the neighbour table otherwise.
std::vector<NetworkAnswer> askAllNetwork(
    const std::vector<AddressQuestion>& questions, std::chrono::milliseconds bound);
// The batch form of ask: askNetwork, askByArpProbe and askNeighbourTable
// map to the functions above; any other asker is called for every question
// at the same time, each call on a thread of its own.
NetworkBatchAsker batchAsker(const NetworkAsker& ask);

// An address a module is to take.
struct AddressTarget {
    std::uint32_t ip = 0;
    modules::MacAddress module{};
};
// checkAddressInUse for every target, the network asked once for all of them.
std::vector<AddressUse> checkAddressesInUse(const std::vector<AddressTarget>& targets,
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets,
    const NetworkBatchAsker& askAll = askAllNetwork, std::chrono::milliseconds bound = kAddressAnswerBound,
    const std::vector<AdapterSubnet>& computer = computerAddresses());

// "module 00-30-11-00-00-02", "this computer (eth0)" or
// "00-1B-21-0A-BC-0F", for "address A is in use by ...".
std::string holderText(const AddressUse& use);

// The MAC of a network adapter (nothing when it has none or cannot be read).
std::optional<modules::MacAddress> adapterMac(const std::string& adapter);

// The pure readers of what the network sends back (fuzzed):
// an ARP packet (from its hardware-type field on) that shows another
// device than own holding ip: a reply from ip, or a probe for ip.
std::optional<modules::MacAddress> arpHolder(
    const std::uint8_t* packet, std::size_t size, std::uint32_t ip, const modules::MacAddress& own);

// One receive of an rtnetlink neighbour dump: the MAC an entry for ip on
// ifindex holds, and whether the dump ended.
struct NeighbourDumpPart {
    std::optional<modules::MacAddress> holder;
    bool done = false;
};
// Every entry with a MAC somebody answered with, of every adapter: the
// batch form's reading of one receive.
struct NeighbourEntry {
    unsigned ifindex = 0;
    std::uint32_t ip = 0;
    modules::MacAddress mac{};
};
struct NeighbourDump {
    std::vector<NeighbourEntry> entries;
    bool done = false;
};
NeighbourDump readNeighbourEntries(const std::uint8_t* data, std::size_t size);
NeighbourDumpPart readNeighbourDump(const std::uint8_t* data, std::size_t size, unsigned ifindex, std::uint32_t ip);

} // namespace commissioning

#endif
