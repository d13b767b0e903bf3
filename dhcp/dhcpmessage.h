#ifndef DHCP_DHCPMESSAGE_H
#define DHCP_DHCPMESSAGE_H

#include <cstddef>
#include <cstdint>

// One BOOTP/DHCP message (RFC 951, RFC 2131, options of RFC 2132) as the
// recovery server sees it: the fixed fields, the four options it reads, the
// lease time it writes, and the raw datagram. Addresses, xid and secs are
// kept as bytes in wire order. The record owns fixed buffers only, so
// parsing and building never allocate.
class CDhcpMessage {
public:
    // Wire layout, offsets from the start of the UDP payload.
    static constexpr std::size_t kOpOffset = 0;
    static constexpr std::size_t kHtypeOffset = 1;
    static constexpr std::size_t kHlenOffset = 2;
    static constexpr std::size_t kHopsOffset = 3;
    static constexpr std::size_t kXidOffset = 4;
    static constexpr std::size_t kSecsOffset = 8;
    static constexpr std::size_t kFlagsOffset = 10;
    static constexpr std::size_t kCiaddrOffset = 12;
    static constexpr std::size_t kYiaddrOffset = 16;
    static constexpr std::size_t kSiaddrOffset = 20;
    static constexpr std::size_t kGiaddrOffset = 24;
    static constexpr std::size_t kChaddrOffset = 28;
    static constexpr std::size_t kSnameOffset = 44;
    static constexpr std::size_t kFileOffset = 108;
    static constexpr std::size_t kCookieOffset = 236;
    static constexpr std::size_t kFirstOptionOffset = 240;

    static constexpr std::size_t kXidSize = 4;
    static constexpr std::size_t kSecsSize = 2;
    static constexpr std::size_t kFlagsSize = 2;
    static constexpr std::size_t kAddressSize = 4;
    static constexpr std::size_t kChaddrSize = 16;
    static constexpr std::size_t kSnameSize = 64;
    static constexpr std::size_t kFileSize = 128;
    static constexpr std::size_t kCookieSize = 4;
    static constexpr std::size_t kMacSize = 6;

    // Everything before the magic cookie; a shorter datagram is no message.
    static constexpr std::size_t kFixedPartLength = 236;
    // Bytes of the options area (cookie included) kept in `options`.
    static constexpr std::size_t kOptionsKept = 512;
    // Largest datagram the server accepts; longer ones are dropped whole.
    static constexpr std::size_t kWireBufferSize = 2048;
    // Every reply: fixed part, cookie, options, zero padding.
    static constexpr std::size_t kReplyLength = 300;

    static constexpr std::uint8_t kMagicCookie[kCookieSize] = {99, 130, 83, 99};

    static constexpr std::uint8_t kOpRequest = 1;
    static constexpr std::uint8_t kOpReply = 2;

    static constexpr std::uint8_t kOptionPad = 0;
    static constexpr std::uint8_t kOptionSubnetMask = 1;
    static constexpr std::uint8_t kOptionRequestedIp = 50;
    static constexpr std::uint8_t kOptionLeaseTime = 51;
    static constexpr std::uint8_t kOptionMessageType = 53;
    static constexpr std::uint8_t kOptionServerId = 54;
    static constexpr std::uint8_t kOptionEnd = 255;
    static constexpr std::uint8_t kMessageTypeOptionLength = 1;
    static constexpr std::uint8_t kAddressOptionLength = 4;
    static constexpr std::uint8_t kLeaseTimeOptionLength = 4;
    static constexpr std::size_t kLeaseTimeSize = 4;

    static constexpr std::uint8_t kDhcpDiscover = 1;
    static constexpr std::uint8_t kDhcpOffer = 2;
    static constexpr std::uint8_t kDhcpRequest = 3;
    static constexpr std::uint8_t kDhcpAck = 5;
    static constexpr std::uint8_t kDhcpNak = 6;

    CDhcpMessage() = default;
    virtual ~CDhcpMessage() = default;

    // Fills the record from the first `Length` bytes of `wire`. Returns false
    // when the datagram is to be dropped: shorter than the fixed part, longer
    // than the wire buffer (or a negative length), or option 53 of a length
    // other than 1, or option 1, 50 or 54 of a length other than 4. No byte
    // outside wire[0, Length) is read, whatever the length bytes inside say;
    // an option cut off by the datagram's end ends the walk.
    bool Parse();

    // Writes the record into `wire` as a 300-byte message and sets Length
    // to 300 and OptionsLength to 64. flags is always written as zero. The
    // options, each only when its Valid byte is set, come in this order:
    // 53, 1, 54, 51, then the end option and zero padding. With all five
    // they take 22 bytes, so they always fit in the 60 after the cookie.
    void Build();

    // Number of bytes after the fixed part (Length - 236).
    std::int32_t OptionsLength = 0;
    std::int32_t Length = 0;

    std::uint8_t op = 0;
    std::uint8_t htype = 0;
    std::uint8_t hlen = 0;
    std::uint8_t hops = 0;
    std::uint8_t xid[kXidSize] = {};
    std::uint8_t secs[kSecsSize] = {};
    std::uint8_t ciaddr[kAddressSize] = {};
    std::uint8_t yiaddr[kAddressSize] = {};
    std::uint8_t siaddr[kAddressSize] = {};
    std::uint8_t giaddr[kAddressSize] = {};
    std::uint8_t chaddr[kChaddrSize] = {};
    // sname and file are copied as raw bytes; they need not be
    // NUL-terminated, so never treat them as C strings.
    std::uint8_t sname[kSnameSize] = {};
    std::uint8_t file[kFileSize] = {};
    // The first 512 bytes from offset 236 on (magic cookie included); the
    // rest of a longer options area is still walked in `wire`.
    std::uint8_t options[kOptionsKept] = {};
    // The datagram as received, or the reply as built.
    std::uint8_t wire[kWireBufferSize] = {};

    std::uint8_t MsgTypeValid = 0;
    std::uint8_t MsgType = 0;
    std::uint8_t SubnetMaskValid = 0;
    std::uint8_t SubnetMask[kAddressSize] = {};
    std::uint8_t ServerIdValid = 0;
    std::uint8_t ServerId[kAddressSize] = {};
    std::uint8_t RequestedIpValid = 0;
    std::uint8_t RequestedIp[kAddressSize] = {};
    // Option 51 in seconds, bytes in wire order. Written in replies only; a
    // request's option 51 is skipped like any other option, so this slot
    // stays clear after every parse.
    std::uint8_t LeaseTimeValid = 0;
    std::uint8_t LeaseTime[kLeaseTimeSize] = {};

private:
    void ReadFixedPart();
    void ClearOptionSlots();
    bool WalkOptions(std::size_t end);
    std::size_t WriteFixedPart();
    // Writes a four-byte option at `at`; returns the offset after it.
    std::size_t PutOption(std::size_t at, std::uint8_t code, const std::uint8_t (&value)[kAddressSize]);
};

#endif
