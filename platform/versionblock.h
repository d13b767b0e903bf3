#ifndef PLATFORM_VERSIONBLOCK_H
#define PLATFORM_VERSIONBLOCK_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace platform {

// Read-only view of one VS_VERSIONINFO block, the version resource format
// of Windows executables (also what our ELF files carry).
//
// Wire facts. Every node is: WORD wLength (the node with its children, not
// counting padding after the last child), WORD wValueLength (in UTF-16 code
// units for text values, wType 1; in bytes for binary values, wType 0), WORD
// wType, the NUL-terminated UTF-16LE key, padding to a 32-bit boundary
// (counted from the start of the block), the value, padding, the children.
// All numbers are little-endian. The root's key is "VS_VERSION_INFO" and its
// value is the 52-byte VS_FIXEDFILEINFO.
//
// Nothing inside the block is trusted: every length is checked against the
// bytes of its parent and of the block, so a hostile block yields "not
// found", never a read outside the span. Siblings advance by at least one
// header, so walking cannot loop.
class VersionBlock {
public:
    static constexpr std::size_t kHeaderSize = 6;
    static constexpr std::size_t kAlignment = 4;
    static constexpr std::size_t kFixedInfoSize = 52;
    static constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
    static constexpr std::uint16_t kTextType = 1;
    static constexpr std::uint16_t kBinaryType = 0;
    static constexpr char kPathSeparator = '\\';

    struct Value {
        std::size_t offset = 0; // from the start of the block
        std::size_t size = 0;   // in bytes, within the block
        bool isText = false;    // UTF-16LE text (wType 1)
    };

    // block: the bytes of the root node, kept alive by the caller.
    explicit VersionBlock(std::span<const std::uint8_t> block)
        : block_(block)
    {
    }

    // The root node's wLength when it describes a well-formed root that fits
    // in block; nullopt otherwise.
    static std::optional<std::size_t> rootLength(std::span<const std::uint8_t> block);

    // Looks up a value by path: "\" (or "") is the root's fixed information,
    // present only with its full size and signature; "\A\B" descends into the
    // child with key A, then B. Keys compare case-insensitively for ASCII
    // letters; path bytes are taken as Latin-1 code points.
    std::optional<Value> find(std::string_view path) const;

private:
    struct Node {
        std::size_t offset = 0;
        std::size_t end = 0; // offset + wLength
        std::size_t keyOffset = 0;
        std::size_t keyUnits = 0; // without the NUL
        Value value;
        std::size_t childrenOffset = 0;
    };

    std::optional<Node> parseNode(std::size_t offset, std::size_t limit) const;
    std::optional<Node> findChild(const Node& parent, std::string_view key) const;
    bool keyEquals(const Node& node, std::string_view key) const;
    std::uint16_t word(std::size_t offset) const;

    std::span<const std::uint8_t> block_;
};

} // namespace platform

#endif // PLATFORM_VERSIONBLOCK_H
