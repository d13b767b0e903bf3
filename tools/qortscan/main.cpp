// sorvinda-qortscan: the smallest complete user of libqort. Registers a
// callback, starts the library, broadcasts one scan, collects replies for a
// while and prints one line per module with the columns of the device list.
//
// The callback only counts: it runs on the library's receive thread with
// the library lock held, so the records are taken afterwards on the main
// thread, as the windowed program does.
#include "protocol/qort.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

namespace {

constexpr auto kDefaultCollectTime = std::chrono::milliseconds(1500);
constexpr long kMaxCollectMs = 60000;
constexpr int kExitUsage = 2;
constexpr int kExitNotIsolated = 3;
constexpr const char* kNotReported = "N/A";

std::atomic<int> repliesQueued{0};

void onLibraryEvent(int code)
{
    if (code == QORT_CB_RESPONSE)
        repliesQueued.fetch_add(1, std::memory_order_relaxed);
}

std::string addressText(std::uint32_t address, std::uint8_t valid)
{
    if (valid == 0)
        return kNotReported;
    char text[16];
    std::snprintf(
        text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

// A module's text goes to a terminal: control bytes become '?', so a
// hostile reply cannot send escape sequences to it.
std::string printableText(const char* field, std::uint8_t valid)
{
    if (valid == 0)
        return kNotReported;
    std::string text(field, strnlen(field, QORT_TEXT_FIELD_SIZE));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = '?';
    return text;
}

std::string dhcpText(const QORT_ModuleScanResponseType& r)
{
    if (r.DhcpValid == 0)
        return kNotReported;
    return r.Dhcp == 1 ? "On" : "Off";
}

std::string versionText(const QORT_ModuleScanResponseType& r)
{
    if (r.ModuleVersionValid == 0)
        return kNotReported;
    char text[24];
    std::snprintf(text, sizeof text, "%u.%02u.%u", r.ModuleVersionMajor, r.ModuleVersionMinor, r.ModuleVersionBuild);
    return text;
}

std::string macText(const QORT_ModuleScanResponseType& r)
{
    if (r.MacIdValid == 0)
        return kNotReported;
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", r.MacId[0], r.MacId[1], r.MacId[2], r.MacId[3],
        r.MacId[4], r.MacId[5]);
    return text;
}

void printRow(const std::string& ip, const std::string& sn, const std::string& gw, const std::string& dhcp,
    const std::string& version, const std::string& type, const std::string& mac)
{
    std::printf("%-15s  %-15s  %-15s  %-4s  %-9s  %-16s  %s\n", ip.c_str(), sn.c_str(), gw.c_str(), dhcp.c_str(),
        version.c_str(), type.c_str(), mac.c_str());
}

void printModule(const QORT_ModuleScanResponseType& r)
{
    printRow(addressText(r.IpAddr, r.IpAddrValid), addressText(r.SubnetMask, r.SubnetMaskValid),
        addressText(r.Gateway, r.GatewayValid), dhcpText(r), versionText(r), printableText(r.FbType, r.FbTypeValid),
        macText(r));
}

void printUsage()
{
    std::puts("Usage: sorvinda-qortscan [--wait MS] [--real-network]\n"
              "Broadcasts one module scan on UDP port 3250 and lists the modules that\n"
              "answer within MS milliseconds (default 1500).\n"
              "It runs inside scripts/isolated-net (SORVINDA_ISOLATED=1); --real-network\n"
              "lets it scan the network it is really attached to.");
}

} // namespace

int main(int argc, char** argv)
{
    auto collectTime = kDefaultCollectTime;
    bool realNetwork = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--wait" && i + 1 < argc) {
            char* end = nullptr;
            const long ms = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || ms < 0 || ms > kMaxCollectMs) {
                std::fprintf(stderr, "sorvinda-qortscan: --wait needs 0..%ld\n", kMaxCollectMs);
                return kExitUsage;
            }
            collectTime = std::chrono::milliseconds(ms);
        } else if (option == "--real-network") {
            realNetwork = true;
        } else {
            printUsage();
            return option == "--help" ? 0 : kExitUsage;
        }
    }
    const char* isolated = std::getenv("SORVINDA_ISOLATED");
    if (!realNetwork && (isolated == nullptr || std::strcmp(isolated, "1") != 0)) {
        std::fputs("sorvinda-qortscan: refusing to broadcast outside scripts/isolated-net; "
                   "give --real-network to scan the real network\n",
            stderr);
        return kExitNotIsolated;
    }

    QORT_RegisterCallBack(onLibraryEvent);
    if (QORT_Start() != 1 || QORT_SendModuleScan() != 1) {
        std::fputs("sorvinda-qortscan: the library could not send (is UDP port 3250 free?)\n", stderr);
        return 1;
    }
    std::this_thread::sleep_for(collectTime);

    printRow("IP", "SN", "GW", "DHCP", "Version", "Type", "MAC");
    int modules = 0;
    QORT_ModuleScanResponseType response;
    while (QORT_GetResponse(&response) == 1) {
        printModule(response);
        ++modules;
    }
    std::printf("%d module%s answered\n", modules, modules == 1 ? "" : "s");
    QORT_RegisterCallBack(nullptr);
    return 0;
}
