#ifndef TESTS_DEVICELIST_RECORDS_H
#define TESTS_DEVICELIST_RECORDS_H

// Scan replies for the device list, configure and window tests.

#include "protocol/qort.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace testrecords {

constexpr std::uint32_t Address(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return (a << 24) | (b << 16) | (c << 8) | d;
}

// Starts as the library leaves a field the module did not name: every byte
// 0xFF, every Valid byte 0.
class Record {
public:
    using R = QORT_ModuleScanResponseType;
    Record()
    {
        std::memset(&r_, 0xFF, sizeof r_);
        r_.ProtocolVersionValid = r_.FbTypeValid = r_.ModuleVersionValid = r_.MacIdValid = r_.IpAddrValid = 0;
        r_.SubnetMaskValid = r_.GatewayValid = r_.DhcpValid = r_.PswdValid = r_.HostNameValid = 0;
        r_.Dns1Valid = r_.Dns2Valid = 0;
    }
    Record& Mac(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e, std::uint8_t f)
    {
        const std::uint8_t mac[QORT_MAC_SIZE] = {a, b, c, d, e, f};
        std::memcpy(r_.MacId, mac, sizeof mac);
        return Valid(&R::MacIdValid, 1);
    }
    Record& Mac(std::uint8_t last) { return Mac(0x00, 0x30, 0x11, 0x00, 0x00, last); }
    // The bytes without the Valid flag, as in a reply that did not name them.
    Record& MacBytesOnly(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e, std::uint8_t f)
    {
        return Mac(a, b, c, d, e, f).Valid(&R::MacIdValid, 0);
    }
    Record& Ip(std::uint32_t v) { return Set(&R::IpAddr, v, &R::IpAddrValid); }
    Record& Mask(std::uint32_t v) { return Set(&R::SubnetMask, v, &R::SubnetMaskValid); }
    Record& Gateway(std::uint32_t v) { return Set(&R::Gateway, v, &R::GatewayValid); }
    Record& Dns1(std::uint32_t v) { return Set(&R::Dns1, v, &R::Dns1Valid); }
    Record& Dns2(std::uint32_t v) { return Set(&R::Dns2, v, &R::Dns2Valid); }
    Record& Dhcp(std::uint8_t v) { return Set(&R::Dhcp, v, &R::DhcpValid); }
    Record& Pswd(std::uint8_t v) { return Set(&R::Pswd, v, &R::PswdValid); }
    Record& Protocol(std::uint8_t major, std::uint8_t minor)
    {
        r_.ProtocolVersionMajor = major;
        r_.ProtocolVersionMinor = minor;
        return Valid(&R::ProtocolVersionValid, 1);
    }
    Record& Version(std::uint8_t major, std::uint8_t minor, std::uint16_t build)
    {
        r_.ModuleVersionMajor = major;
        r_.ModuleVersionMinor = minor;
        r_.ModuleVersionBuild = build;
        return Valid(&R::ModuleVersionValid, 1);
    }
    Record& Type(const std::string& text) { return Text(r_.FbType, sizeof r_.FbType, text, &R::FbTypeValid); }
    Record& HostName(const std::string& text) { return Text(r_.HostName, sizeof r_.HostName, text, &R::HostNameValid); }
    Record& Valid(std::uint8_t R::*flag, std::uint8_t value)
    {
        r_.*flag = value;
        return *this;
    }
    operator QORT_ModuleScanResponseType() const { return r_; }

private:
    template <class T>
    Record& Set(T R::*field, T value, std::uint8_t R::*valid)
    {
        r_.*field = value;
        return Valid(valid, 1);
    }
    // Zero-filled; a text that fills the field keeps no terminator.
    Record& Text(char* field, std::size_t size, const std::string& text, std::uint8_t R::*valid)
    {
        std::memset(field, 0, size);
        std::memcpy(field, text.data(), std::min(text.size(), size));
        return Valid(valid, 1);
    }
    R r_;
};

} // namespace testrecords

#endif
