#include "platform/versionfile.h"

#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "platform/bytesource.h"
#include "platform/executableimage.h"
#include "platform/versionblock.h"

namespace platform {

namespace {

// Each UTF-16 code unit becomes at most 3 UTF-8 bytes (a surrogate pair, two
// units, becomes 4). A text value at block offset o of b bytes is converted
// at conversion offset 2*o: it needs at most 1.5*b + 1 bytes, and the next
// value starts at least one 6-byte header later, so conversions never
// overlap. Room of twice the block plus the last NUL covers every value.
constexpr std::size_t kConversionFactor = 2;

std::size_t alignedBlockSize(std::size_t blockSize)
{
    return (blockSize + VersionBlock::kAlignment - 1) & ~(VersionBlock::kAlignment - 1);
}

std::size_t bufferSizeFor(std::size_t blockSize)
{
    return alignedBlockSize(blockSize) + kConversionFactor * blockSize + 1;
}

std::optional<std::vector<std::uint8_t>> loadBlock(const char* fileName)
{
    if (fileName == nullptr || *fileName == '\0')
        return std::nullopt;
    const FileByteSource file(fileName);
    if (!file.isOpen())
        return std::nullopt;
    return ExecutableImage::readVersionBlock(file);
}

void appendUtf8(std::uint32_t codePoint, std::uint8_t*& out)
{
    if (codePoint < 0x80) {
        *out++ = static_cast<std::uint8_t>(codePoint);
    } else if (codePoint < 0x800) {
        *out++ = static_cast<std::uint8_t>(0xC0 | (codePoint >> 6));
        *out++ = static_cast<std::uint8_t>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *out++ = static_cast<std::uint8_t>(0xE0 | (codePoint >> 12));
        *out++ = static_cast<std::uint8_t>(0x80 | ((codePoint >> 6) & 0x3F));
        *out++ = static_cast<std::uint8_t>(0x80 | (codePoint & 0x3F));
    } else {
        *out++ = static_cast<std::uint8_t>(0xF0 | (codePoint >> 18));
        *out++ = static_cast<std::uint8_t>(0x80 | ((codePoint >> 12) & 0x3F));
        *out++ = static_cast<std::uint8_t>(0x80 | ((codePoint >> 6) & 0x3F));
        *out++ = static_cast<std::uint8_t>(0x80 | (codePoint & 0x3F));
    }
}

// Converts UTF-16LE units up to the first NUL; returns the bytes written
// including the terminating NUL.
std::uint32_t convertToUtf8(std::span<const std::uint8_t> text, std::uint8_t* out)
{
    constexpr std::uint32_t kReplacement = 0xFFFD;
    std::uint8_t* const start = out;
    const std::size_t units = text.size() / sizeof(char16_t);
    auto unitAt = [&](std::size_t i) { return static_cast<std::uint32_t>(text[2 * i] | (text[2 * i + 1] << 8)); };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = unitAt(i);
        if (unit == 0)
            break;
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < units && unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) <= 0xDFFF) {
            appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00), out);
            ++i;
        } else if (high || low) {
            appendUtf8(kReplacement, out);
        } else {
            appendUtf8(unit, out);
        }
    }
    *out++ = 0;
    return static_cast<std::uint32_t>(out - start);
}

} // namespace

std::uint32_t fileVersionInfoSize(const char* fileName)
{
    const auto block = loadBlock(fileName);
    return block ? static_cast<std::uint32_t>(bufferSizeFor(block->size())) : 0;
}

bool readFileVersionInfo(const char* fileName, std::uint32_t size, void* buffer)
{
    if (buffer == nullptr)
        return false;
    const auto block = loadBlock(fileName);
    if (!block || size < bufferSizeFor(block->size()))
        return false;
    std::memset(buffer, 0, bufferSizeFor(block->size()));
    std::memcpy(buffer, block->data(), block->size());
    return true;
}

bool queryVersionValue(void* buffer, const char* path, void** value, std::uint32_t* length)
{
    if (buffer == nullptr || path == nullptr || value == nullptr || length == nullptr)
        return false;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    // The root's wLength was checked against the file when the buffer was
    // filled; it bounds every read below.
    const std::size_t blockSize = bytes[0] | (bytes[1] << 8);
    const std::span<const std::uint8_t> block(bytes, blockSize);
    const auto found = VersionBlock(block).find(path);
    if (!found)
        return false;
    if (!found->isText) {
        *value = bytes + found->offset;
        *length = static_cast<std::uint32_t>(found->size);
        return true;
    }
    std::uint8_t* converted = bytes + alignedBlockSize(blockSize) + kConversionFactor * found->offset;
    *length = convertToUtf8(block.subspan(found->offset, found->size), converted);
    *value = converted;
    return true;
}

} // namespace platform
