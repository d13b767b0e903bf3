#ifndef PLATFORM_EXECUTABLEIMAGE_H
#define PLATFORM_EXECUTABLEIMAGE_H

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/bytesource.h"

namespace platform {

// Finds the version resource (one VS_VERSIONINFO block) in an executable
// file image:
//   ELF (32/64-bit, either byte order): the section ".vs_version_info";
//   PE  (PE32/PE32+): the resource directory (data directory 2), type 16
//       (RT_VERSION), its first name and that name's first language.
// The result is exactly the root node's wLength bytes. Anything malformed -
// truncated headers, offsets or sizes outside the file, a resource tree
// that does not end in a data entry - gives nullopt.
class ExecutableImage {
public:
    static constexpr char kElfVersionSection[] = ".vs_version_info";
    static constexpr std::uint32_t kResourceTypeVersion = 16;

    static std::optional<std::vector<std::uint8_t>> readVersionBlock(const ByteSource& image);

private:
    static std::optional<std::vector<std::uint8_t>> readElf(const ByteSource& image);
    static std::optional<std::vector<std::uint8_t>> readPe(const ByteSource& image);
};

// Reads a VS_VERSIONINFO block that starts at offset and may use at most
// available bytes; checks its root against that space.
std::optional<std::vector<std::uint8_t>> readVersionBlockAt(
    const ByteSource& image, std::uint64_t offset, std::uint64_t available);

} // namespace platform

#endif // PLATFORM_EXECUTABLEIMAGE_H
