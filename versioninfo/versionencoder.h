#ifndef VERSIONINFO_VERSIONENCODER_H
#define VERSIONINFO_VERSIONENCODER_H

#include <cstdint>
#include <string>
#include <vector>

#include "versioninfo/versiondeclaration.h"

namespace versioninfo {

// Writes a declaration as a VS_VERSIONINFO block, byte for byte as the
// resource compilers write it: root "VS_VERSION_INFO" with the 52-byte
// VS_FIXEDFILEINFO (signature 0xFEEF04BD, structure version 1.0, date 0);
// blocks with wType 1 and no value; text values with wType 1, wValueLength
// in UTF-16 units including the terminating NUL (added unless the text
// already ends in one); binary values with wType 0 and wValueLength in
// bytes. Every node starts on a 32-bit boundary; a node's wLength ends with
// its last child, not counting the padding after it.
class VersionEncoder {
public:
    static constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
    static constexpr std::uint32_t kFixedInfoStructVersion = 0x00010000u;
    static constexpr std::uint16_t kFixedInfoSize = 52;
    static constexpr char16_t kRootKey[] = u"VS_VERSION_INFO";

    // Empty when the block would exceed the 16-bit wLength of a node.
    static std::vector<std::uint8_t> encode(const VersionDeclaration& declaration);

    // A C translation unit that places block in the ELF section
    // .vs_version_info of whatever it is linked into.
    static std::string toCSource(const std::vector<std::uint8_t>& block, const std::string& origin);
};

} // namespace versioninfo

#endif // VERSIONINFO_VERSIONENCODER_H
