#include "tests/integration/qortsession.h"

#include "tests/support/isolatednetwork.h"
#include "tests/support/waituntil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>

namespace integration {

namespace {

std::mutex recorderMutex;
std::vector<QortSession::Event> recorded;

} // namespace

void QortSession::record(int code)
{
    const auto at = std::chrono::steady_clock::now().time_since_epoch();
    std::lock_guard lock(recorderMutex);
    recorded.push_back({code, std::chrono::duration_cast<std::chrono::nanoseconds>(at).count()});
}

bool QortSession::startOnce()
{
    static const bool started = [] {
        testsupport::requireIsolatedNetwork();
        QORT_RegisterCallBack(&QortSession::record);
        return QORT_Start() == 1;
    }();
    return started;
}

void QortSession::registerRecorder()
{
    QORT_RegisterCallBack(&QortSession::record);
}

void QortSession::reset()
{
    takeAllResponses();
    std::uint8_t mac[QORT_MAC_SIZE];
    while (QORT_GetInvPswdMacId(mac) == 1)
        QORT_RemoveFirstInvPswdMacId();
    std::lock_guard lock(recorderMutex);
    recorded.clear();
}

std::vector<QortSession::Event> QortSession::events()
{
    std::lock_guard lock(recorderMutex);
    return recorded;
}

std::vector<int> QortSession::codes()
{
    std::vector<int> result;
    for (const Event& event : events())
        result.push_back(event.code);
    return result;
}

std::size_t QortSession::count(int code)
{
    std::lock_guard lock(recorderMutex);
    return static_cast<std::size_t>(
        std::count_if(recorded.begin(), recorded.end(), [code](const Event& event) { return event.code == code; }));
}

bool QortSession::waitForCount(int code, std::size_t n, std::chrono::milliseconds timeout)
{
    return testsupport::waitUntil([code, n] { return count(code) >= n; }, timeout);
}

std::vector<QORT_ModuleScanResponseType> QortSession::takeAllResponses()
{
    std::vector<QORT_ModuleScanResponseType> responses;
    QORT_ModuleScanResponseType response;
    while (QORT_GetResponse(&response) == 1)
        responses.push_back(response);
    return responses;
}

std::string macText(const std::uint8_t* mac)
{
    char text[3 * QORT_MAC_SIZE];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::string addressText(std::uint32_t value)
{
    return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "."
        + std::to_string((value >> 8) & 0xFF) + "." + std::to_string(value & 0xFF);
}

QORT_ConfigureRequestType emptyRequest(const std::string& mac)
{
    QORT_ConfigureRequestType request;
    std::memset(&request, 0, sizeof request);
    unsigned bytes[QORT_MAC_SIZE] = {};
    std::sscanf(mac.c_str(), "%x-%x-%x-%x-%x-%x", &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4], &bytes[5]);
    for (std::size_t i = 0; i < QORT_MAC_SIZE; ++i)
        request.MacId[i] = static_cast<std::uint8_t>(bytes[i]);
    request.IpAddr = request.SubnetMask = request.Gateway = QORT_ADDR_NOT_GIVEN;
    request.Dns1 = request.Dns2 = QORT_ADDR_NOT_GIVEN;
    request.Dhcp = 2;
    return request;
}

void setText(char (&field)[QORT_TEXT_FIELD_SIZE], const std::string& text)
{
    std::memset(field, 0, QORT_TEXT_FIELD_SIZE);
    std::memcpy(field, text.data(), std::min(text.size(), std::size_t{QORT_TEXT_FIELD_SIZE - 1}));
}

std::string textField(const char* field, std::uint8_t valid)
{
    if (valid != 1)
        return "<absent>";
    return std::string(field, strnlen(field, QORT_TEXT_FIELD_SIZE));
}

namespace {

template <typename T>
bool allFF(const T& value)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    return std::all_of(bytes, bytes + sizeof value, [](std::uint8_t b) { return b == 0xFF; });
}

} // namespace

std::string describe(const QORT_ModuleScanResponseType& r)
{
    std::ostringstream out;
    const auto field = [&out](const char* name, std::uint8_t valid, bool absentIsFF, auto&& print) {
        if (valid == 1) {
            out << ' ' << name << '=';
            print();
        } else if (valid != 0 || !absentIsFF) {
            out << " !" << name;
        }
    };
    field("pv", r.ProtocolVersionValid, r.ProtocolVersionMajor == 0xFF && r.ProtocolVersionMinor == 0xFF,
        [&] { out << +r.ProtocolVersionMajor << '.' << +r.ProtocolVersionMinor; });
    field("fb", r.FbTypeValid, allFF(r.FbType), [&] { out << textField(r.FbType, 1); });
    field("mv", r.ModuleVersionValid,
        r.ModuleVersionMajor == 0xFF && r.ModuleVersionMinor == 0xFF && r.ModuleVersionBuild == 0xFFFF,
        [&] { out << +r.ModuleVersionMajor << '.' << +r.ModuleVersionMinor << '.' << r.ModuleVersionBuild; });
    field("mac", r.MacIdValid, allFF(r.MacId), [&] { out << macText(r.MacId); });
    field("ip", r.IpAddrValid, allFF(r.IpAddr), [&] { out << addressText(r.IpAddr); });
    field("sn", r.SubnetMaskValid, allFF(r.SubnetMask), [&] { out << addressText(r.SubnetMask); });
    field("gw", r.GatewayValid, allFF(r.Gateway), [&] { out << addressText(r.Gateway); });
    field("dhcp", r.DhcpValid, r.Dhcp == 0xFF, [&] { out << +r.Dhcp; });
    field("pswd", r.PswdValid, r.Pswd == 0xFF, [&] { out << +r.Pswd; });
    field("hn", r.HostNameValid, allFF(r.HostName), [&] { out << textField(r.HostName, 1); });
    field("dns1", r.Dns1Valid, allFF(r.Dns1), [&] { out << addressText(r.Dns1); });
    field("dns2", r.Dns2Valid, allFF(r.Dns2), [&] { out << addressText(r.Dns2); });
    const std::string text = out.str();
    return text.empty() ? text : text.substr(1);
}

} // namespace integration
