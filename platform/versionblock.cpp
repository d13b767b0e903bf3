#include "platform/versionblock.h"

#include <algorithm>

namespace platform {

namespace {

std::size_t alignUp(std::size_t offset)
{
    return (offset + VersionBlock::kAlignment - 1) & ~(VersionBlock::kAlignment - 1);
}

char16_t asciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

} // namespace

std::uint16_t VersionBlock::word(std::size_t offset) const
{
    return static_cast<std::uint16_t>(block_[offset] | (block_[offset + 1] << 8));
}

std::optional<std::size_t> VersionBlock::rootLength(std::span<const std::uint8_t> block)
{
    const VersionBlock view(block);
    const auto root = view.parseNode(0, block.size());
    if (!root)
        return std::nullopt;
    return root->end;
}

std::optional<VersionBlock::Node> VersionBlock::parseNode(std::size_t offset, std::size_t limit) const
{
    if (limit > block_.size() || offset > limit || limit - offset < kHeaderSize)
        return std::nullopt;
    const std::size_t length = word(offset);
    if (length < kHeaderSize || length > limit - offset)
        return std::nullopt;

    Node node;
    node.offset = offset;
    node.end = offset + length;
    node.keyOffset = offset + kHeaderSize;

    std::size_t cursor = node.keyOffset;
    for (;;) {
        if (node.end - cursor < sizeof(char16_t))
            return std::nullopt; // key without its NUL inside the node
        if (word(cursor) == 0)
            break;
        cursor += sizeof(char16_t);
        ++node.keyUnits;
    }
    cursor += sizeof(char16_t);

    const std::uint16_t valueLength = word(offset + 2);
    const std::uint16_t type = word(offset + 4);
    node.value.isText = type == kTextType;
    node.value.offset = std::min(alignUp(cursor), node.end);
    const std::size_t declared = node.value.isText ? std::size_t{valueLength} * sizeof(char16_t) : valueLength;
    // Writers differ on whether text lengths count units or bytes; clamping to
    // the node keeps either readable and never reaches past it.
    node.value.size = std::min(declared, node.end - node.value.offset);
    node.childrenOffset = std::min(alignUp(node.value.offset + node.value.size), node.end);
    return node;
}

bool VersionBlock::keyEquals(const Node& node, std::string_view key) const
{
    if (node.keyUnits != key.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto fromBlock = static_cast<char16_t>(word(node.keyOffset + i * sizeof(char16_t)));
        const auto fromPath = static_cast<char16_t>(static_cast<unsigned char>(key[i]));
        if (asciiLower(fromBlock) != asciiLower(fromPath))
            return false;
    }
    return true;
}

std::optional<VersionBlock::Node> VersionBlock::findChild(const Node& parent, std::string_view key) const
{
    std::size_t offset = parent.childrenOffset;
    while (offset < parent.end) {
        const auto child = parseNode(offset, parent.end);
        if (!child)
            return std::nullopt;
        if (keyEquals(*child, key))
            return child;
        offset = alignUp(child->end); // child->end > offset: always moves on
    }
    return std::nullopt;
}

std::optional<VersionBlock::Value> VersionBlock::find(std::string_view path) const
{
    auto node = parseNode(0, block_.size());
    if (!node)
        return std::nullopt;

    bool descended = false;
    while (!path.empty()) {
        const std::size_t start = path.find_first_not_of(kPathSeparator);
        if (start == std::string_view::npos)
            break;
        path.remove_prefix(start);
        const std::size_t stop = path.find(kPathSeparator);
        const std::string_view key = path.substr(0, stop);
        path.remove_prefix(stop == std::string_view::npos ? path.size() : stop);
        node = findChild(*node, key);
        if (!node)
            return std::nullopt;
        descended = true;
    }

    if (descended)
        return node->value;

    const Value& fixed = node->value;
    if (fixed.isText || fixed.size < kFixedInfoSize)
        return std::nullopt;
    const std::uint32_t signature = word(fixed.offset) | (std::uint32_t{word(fixed.offset + 2)} << 16);
    if (signature != kFixedInfoSignature)
        return std::nullopt;
    return Value{fixed.offset, kFixedInfoSize, false};
}

} // namespace platform
