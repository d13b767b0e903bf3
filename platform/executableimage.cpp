#include "platform/executableimage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "platform/versionblock.h"

namespace platform {

namespace {

// A VS_VERSIONINFO root's wLength is a 16-bit value: no block is larger.
constexpr std::uint64_t kMaxBlockSize = std::numeric_limits<std::uint16_t>::max();

// Reads fixed-width integers of either byte order through a ByteSource.
class FieldReader {
public:
    FieldReader(const ByteSource& image, bool bigEndian)
        : image_(image)
        , bigEndian_(bigEndian)
    {
    }

    bool u16(std::uint64_t offset, std::uint64_t& out) const { return read(offset, 2, out); }
    bool u32(std::uint64_t offset, std::uint64_t& out) const { return read(offset, 4, out); }
    bool u64(std::uint64_t offset, std::uint64_t& out) const { return read(offset, 8, out); }
    bool word(std::uint64_t offset, unsigned width, std::uint64_t& out) const { return read(offset, width, out); }

private:
    bool read(std::uint64_t offset, unsigned width, std::uint64_t& out) const
    {
        std::array<std::uint8_t, 8> bytes{};
        if (!image_.readAt(offset, bytes.data(), width))
            return false;
        out = 0;
        for (unsigned i = 0; i < width; ++i) {
            const unsigned shift = bigEndian_ ? 8 * (width - 1 - i) : 8 * i;
            out |= std::uint64_t{bytes[i]} << shift;
        }
        return true;
    }

    const ByteSource& image_;
    bool bigEndian_;
};

bool addFits(std::uint64_t offset, std::uint64_t count, std::uint64_t size)
{
    return offset <= size && count <= size - offset;
}

// ---- ELF -----------------------------------------------------------------

constexpr std::uint8_t kElfMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr std::uint64_t kElfClassOffset = 4;
constexpr std::uint64_t kElfDataOffset = 5;
constexpr std::uint8_t kElfClass32 = 1;
constexpr std::uint8_t kElfClass64 = 2;
constexpr std::uint8_t kElfDataLittle = 1;
constexpr std::uint8_t kElfDataBig = 2;
constexpr std::uint64_t kElfSectionTypeNoBits = 8;
constexpr std::uint64_t kElfSectionIndexExtended = 0xFFFF; // SHN_XINDEX
// Guards the walk over a section table whose count comes from the file.
constexpr std::uint64_t kElfMaxSections = 1u << 20;

struct ElfLayout {
    unsigned addressWidth; // 4 or 8
    std::uint64_t shoffOffset;
    std::uint64_t shentsizeOffset;
    std::uint64_t shnumOffset;
    std::uint64_t shstrndxOffset;
    std::uint64_t headerSize; // bytes of one section header we read
    std::uint64_t shTypeOffset;
    std::uint64_t shOffsetOffset;
    std::uint64_t shSizeOffset;
    std::uint64_t shLinkOffset;
};

constexpr ElfLayout kElf32{4, 0x20, 0x2E, 0x30, 0x32, 40, 4, 16, 20, 24};
constexpr ElfLayout kElf64{8, 0x28, 0x3A, 0x3C, 0x3E, 64, 4, 24, 32, 40};

struct ElfSection {
    std::uint64_t nameOffset = 0;
    std::uint64_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t link = 0;
};

bool readElfSection(const FieldReader& in, const ElfLayout& layout, std::uint64_t headerOffset, ElfSection& out)
{
    return in.u32(headerOffset, out.nameOffset) && in.u32(headerOffset + layout.shTypeOffset, out.type)
        && in.word(headerOffset + layout.shOffsetOffset, layout.addressWidth, out.offset)
        && in.word(headerOffset + layout.shSizeOffset, layout.addressWidth, out.size)
        && in.u32(headerOffset + layout.shLinkOffset, out.link);
}

bool elfNameIs(const ByteSource& image, const ElfSection& strings, std::uint64_t nameOffset, const char* wanted)
{
    const std::uint64_t wantedSize = std::strlen(wanted) + 1; // with its NUL
    if (strings.type == kElfSectionTypeNoBits || !addFits(nameOffset, wantedSize, strings.size))
        return false;
    std::array<char, sizeof(ExecutableImage::kElfVersionSection)> name{};
    if (wantedSize > name.size() || !image.readAt(strings.offset + nameOffset, name.data(), wantedSize))
        return false;
    return std::memcmp(name.data(), wanted, wantedSize) == 0;
}

// ---- PE ------------------------------------------------------------------

constexpr std::uint64_t kDosMagic = 0x5A4D;          // "MZ"
constexpr std::uint64_t kDosNewHeaderPointer = 0x3C; // e_lfanew
constexpr std::uint64_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr std::uint64_t kCoffHeaderOffset = 4;       // after the signature
constexpr std::uint64_t kCoffSectionCount = 2;
constexpr std::uint64_t kCoffOptionalHeaderSize = 16;
constexpr std::uint64_t kOptionalHeaderOffset = 24; // signature + COFF header
constexpr std::uint64_t kPe32Magic = 0x10B;
constexpr std::uint64_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kPe32DirectoryCount = 92;
constexpr std::uint64_t kPe32Directories = 96;
constexpr std::uint64_t kPe32PlusDirectoryCount = 108;
constexpr std::uint64_t kPe32PlusDirectories = 112;
constexpr std::uint64_t kResourceDirectoryIndex = 2;
constexpr std::uint64_t kDataDirectorySize = 8;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kSectionVirtualAddress = 12;
constexpr std::uint64_t kSectionRawSize = 16;
constexpr std::uint64_t kSectionRawPointer = 20;
constexpr std::uint64_t kResourceNamedCount = 12;
constexpr std::uint64_t kResourceIdCount = 14;
constexpr std::uint64_t kResourceDirectoryHeaderSize = 16;
constexpr std::uint64_t kResourceEntrySize = 8;
constexpr std::uint64_t kResourceDataEntrySize = 16;
constexpr std::uint64_t kResourceHighBit = 0x80000000u; // name is a string / target is a sub-directory

struct PeSections {
    std::uint64_t tableOffset = 0;
    std::uint64_t count = 0;
};

// Maps an RVA to a file offset and the bytes of raw data that follow it in
// its section.
bool rvaToFile(const FieldReader& in, const PeSections& sections, std::uint64_t rva, std::uint64_t& fileOffset,
    std::uint64_t& available)
{
    for (std::uint64_t i = 0; i < sections.count; ++i) {
        const std::uint64_t header = sections.tableOffset + i * kSectionHeaderSize;
        std::uint64_t address = 0, rawSize = 0, rawPointer = 0;
        if (!in.u32(header + kSectionVirtualAddress, address) || !in.u32(header + kSectionRawSize, rawSize)
            || !in.u32(header + kSectionRawPointer, rawPointer))
            return false;
        if (rva >= address && rva - address < rawSize) {
            fileOffset = rawPointer + (rva - address);
            available = rawSize - (rva - address);
            return true;
        }
    }
    return false;
}

// One step down the resource tree: the entry chosen at this level, as an
// offset from the start of the resource directory.
struct ResourceEntry {
    std::uint64_t target = 0;
    bool isDirectory = false;
};

// Entries are read only inside the resource directory's bytes (base, limit).
std::optional<ResourceEntry> pickEntry(const FieldReader& in, std::uint64_t base, std::uint64_t limit,
    std::uint64_t directory, std::optional<std::uint64_t> wantedId)
{
    std::uint64_t named = 0, ids = 0;
    if (!addFits(directory, kResourceDirectoryHeaderSize, limit)
        || !in.u16(base + directory + kResourceNamedCount, named) || !in.u16(base + directory + kResourceIdCount, ids))
        return std::nullopt;
    const std::uint64_t entries = directory + kResourceDirectoryHeaderSize;
    for (std::uint64_t i = 0; i < named + ids; ++i) {
        const std::uint64_t entry = entries + i * kResourceEntrySize;
        std::uint64_t name = 0, target = 0;
        if (!addFits(entry, kResourceEntrySize, limit) || !in.u32(base + entry, name)
            || !in.u32(base + entry + 4, target))
            return std::nullopt;
        if (wantedId && ((name & kResourceHighBit) != 0 || name != *wantedId))
            continue;
        return ResourceEntry{target & ~kResourceHighBit, (target & kResourceHighBit) != 0};
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<std::uint8_t>> readVersionBlockAt(
    const ByteSource& image, std::uint64_t offset, std::uint64_t available)
{
    if (!addFits(offset, 0, image.size()))
        return std::nullopt;
    available = std::min({available, image.size() - offset, kMaxBlockSize});
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(available));
    if (!image.readAt(offset, bytes.data(), bytes.size()))
        return std::nullopt;
    const auto length = VersionBlock::rootLength(bytes);
    if (!length)
        return std::nullopt;
    bytes.resize(*length);
    return bytes;
}

std::optional<std::vector<std::uint8_t>> ExecutableImage::readVersionBlock(const ByteSource& image)
{
    std::array<std::uint8_t, sizeof(kElfMagic)> magic{};
    if (!image.readAt(0, magic.data(), magic.size()))
        return std::nullopt;
    if (std::equal(magic.begin(), magic.end(), kElfMagic))
        return readElf(image);
    if ((magic[0] | (magic[1] << 8)) == kDosMagic)
        return readPe(image);
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ExecutableImage::readElf(const ByteSource& image)
{
    std::uint8_t elfClass = 0, elfData = 0;
    if (!image.readAt(kElfClassOffset, &elfClass, 1) || !image.readAt(kElfDataOffset, &elfData, 1))
        return std::nullopt;
    if ((elfClass != kElfClass32 && elfClass != kElfClass64) || (elfData != kElfDataLittle && elfData != kElfDataBig))
        return std::nullopt;
    const ElfLayout& layout = elfClass == kElfClass32 ? kElf32 : kElf64;
    const FieldReader in(image, elfData == kElfDataBig);

    std::uint64_t tableOffset = 0, entrySize = 0, count = 0, namesIndex = 0;
    if (!in.word(layout.shoffOffset, layout.addressWidth, tableOffset) || !in.u16(layout.shentsizeOffset, entrySize)
        || !in.u16(layout.shnumOffset, count) || !in.u16(layout.shstrndxOffset, namesIndex))
        return std::nullopt;
    if (tableOffset == 0 || entrySize < layout.headerSize)
        return std::nullopt;

    // Files with very many sections keep the real count and string-table
    // index in section 0.
    ElfSection first;
    if (!readElfSection(in, layout, tableOffset, first))
        return std::nullopt;
    if (count == 0)
        count = first.size;
    if (namesIndex == kElfSectionIndexExtended)
        namesIndex = first.link;
    if (count > kElfMaxSections || namesIndex >= count || count > image.size() / entrySize)
        return std::nullopt;

    ElfSection names;
    if (!readElfSection(in, layout, tableOffset + namesIndex * entrySize, names))
        return std::nullopt;

    for (std::uint64_t i = 0; i < count; ++i) {
        ElfSection section;
        if (!readElfSection(in, layout, tableOffset + i * entrySize, section))
            return std::nullopt;
        if (section.type == kElfSectionTypeNoBits || !elfNameIs(image, names, section.nameOffset, kElfVersionSection))
            continue;
        if (!addFits(section.offset, section.size, image.size()))
            return std::nullopt;
        return readVersionBlockAt(image, section.offset, section.size);
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ExecutableImage::readPe(const ByteSource& image)
{
    const FieldReader in(image, false);
    std::uint64_t peOffset = 0, signature = 0;
    if (!in.u32(kDosNewHeaderPointer, peOffset) || !in.u32(peOffset, signature) || signature != kPeSignature)
        return std::nullopt;

    const std::uint64_t coff = peOffset + kCoffHeaderOffset;
    std::uint64_t sectionCount = 0, optionalSize = 0, magic = 0;
    if (!in.u16(coff + kCoffSectionCount, sectionCount) || !in.u16(coff + kCoffOptionalHeaderSize, optionalSize))
        return std::nullopt;
    const std::uint64_t optional = peOffset + kOptionalHeaderOffset;
    if (!in.u16(optional, magic))
        return std::nullopt;

    std::uint64_t countField = 0, directories = 0;
    if (magic == kPe32Magic) {
        countField = kPe32DirectoryCount;
        directories = kPe32Directories;
    } else if (magic == kPe32PlusMagic) {
        countField = kPe32PlusDirectoryCount;
        directories = kPe32PlusDirectories;
    } else {
        return std::nullopt;
    }
    std::uint64_t directoryCount = 0;
    const std::uint64_t resourceDirectory = directories + kResourceDirectoryIndex * kDataDirectorySize;
    if (!in.u32(optional + countField, directoryCount) || directoryCount <= kResourceDirectoryIndex
        || resourceDirectory + kDataDirectorySize > optionalSize)
        return std::nullopt;
    std::uint64_t resourceRva = 0, resourceSize = 0;
    if (!in.u32(optional + resourceDirectory, resourceRva) || !in.u32(optional + resourceDirectory + 4, resourceSize)
        || resourceRva == 0)
        return std::nullopt;

    const PeSections sections{optional + optionalSize, sectionCount};
    std::uint64_t base = 0, available = 0;
    if (!rvaToFile(in, sections, resourceRva, base, available))
        return std::nullopt;
    const std::uint64_t limit = std::min(resourceSize, available);

    // Type, name, language: a fixed depth of three, so a directory entry that
    // points back up the tree cannot make this walk loop.
    const auto type = pickEntry(in, base, limit, 0, kResourceTypeVersion);
    if (!type || !type->isDirectory)
        return std::nullopt;
    const auto name = pickEntry(in, base, limit, type->target, std::nullopt);
    if (!name || !name->isDirectory)
        return std::nullopt;
    const auto language = pickEntry(in, base, limit, name->target, std::nullopt);
    if (!language || language->isDirectory || !addFits(language->target, kResourceDataEntrySize, limit))
        return std::nullopt;

    std::uint64_t dataRva = 0, dataSize = 0;
    if (!in.u32(base + language->target, dataRva) || !in.u32(base + language->target + 4, dataSize))
        return std::nullopt;
    std::uint64_t dataOffset = 0, dataAvailable = 0;
    if (!rvaToFile(in, sections, dataRva, dataOffset, dataAvailable) || dataSize > dataAvailable)
        return std::nullopt;
    return readVersionBlockAt(image, dataOffset, dataSize);
}

} // namespace platform
