#ifndef TESTS_DEVICELIST_RECORDBUILDER_H
#define TESTS_DEVICELIST_RECORDBUILDER_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "protocol/qort.h"

namespace devicelist::testing {

// Scan replies for tests, starting as the library leaves a field that the
// module did not name: every byte 0xFF, every Valid byte 0.
class RecordBuilder {
public:
    RecordBuilder()
    {
        std::memset(&record_, 0xFF, sizeof record_);
        record_.ProtocolVersionValid = 0;
        record_.FbTypeValid = 0;
        record_.ModuleVersionValid = 0;
        record_.MacIdValid = 0;
        record_.IpAddrValid = 0;
        record_.SubnetMaskValid = 0;
        record_.GatewayValid = 0;
        record_.DhcpValid = 0;
        record_.PswdValid = 0;
        record_.HostNameValid = 0;
        record_.Dns1Valid = 0;
        record_.Dns2Valid = 0;
    }

    static constexpr std::uint32_t Address(unsigned a, unsigned b, unsigned c, unsigned d)
    {
        return (a << 24) | (b << 16) | (c << 8) | d;
    }

    RecordBuilder& Mac(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e, std::uint8_t f)
    {
        const std::uint8_t mac[QORT_MAC_SIZE] = {a, b, c, d, e, f};
        std::memcpy(record_.MacId, mac, sizeof mac);
        record_.MacIdValid = 1;
        return *this;
    }
    // The MAC bytes without the Valid flag, as in a reply that did not name it.
    RecordBuilder& MacBytesOnly(
        std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e, std::uint8_t f)
    {
        Mac(a, b, c, d, e, f);
        record_.MacIdValid = 0;
        return *this;
    }
    // Last byte only, prefix 00-30-11-00-00.
    RecordBuilder& Mac(std::uint8_t last) { return Mac(0x00, 0x30, 0x11, 0x00, 0x00, last); }
    RecordBuilder& Ip(std::uint32_t value)
    {
        record_.IpAddr = value;
        record_.IpAddrValid = 1;
        return *this;
    }
    RecordBuilder& SubnetMask(std::uint32_t value)
    {
        record_.SubnetMask = value;
        record_.SubnetMaskValid = 1;
        return *this;
    }
    RecordBuilder& Gateway(std::uint32_t value)
    {
        record_.Gateway = value;
        record_.GatewayValid = 1;
        return *this;
    }
    RecordBuilder& Dhcp(std::uint8_t value)
    {
        record_.Dhcp = value;
        record_.DhcpValid = 1;
        return *this;
    }
    RecordBuilder& Version(std::uint8_t major, std::uint8_t minor, std::uint16_t build)
    {
        record_.ModuleVersionMajor = major;
        record_.ModuleVersionMinor = minor;
        record_.ModuleVersionBuild = build;
        record_.ModuleVersionValid = 1;
        return *this;
    }
    RecordBuilder& Type(const std::string& text)
    {
        std::memset(record_.FbType, 0, sizeof record_.FbType);
        std::memcpy(record_.FbType, text.data(), std::min(text.size(), sizeof record_.FbType));
        record_.FbTypeValid = 1;
        return *this;
    }
    RecordBuilder& Valid(std::uint8_t QORT_ModuleScanResponseType::*flag, std::uint8_t value)
    {
        record_.*flag = value;
        return *this;
    }

    QORT_ModuleScanResponseType Build() const { return record_; }
    operator QORT_ModuleScanResponseType() const { return record_; }

private:
    QORT_ModuleScanResponseType record_;
};

} // namespace devicelist::testing

#endif
