// libFuzzer target for the version-resource reader: the input is read as a
// VS_VERSIONINFO block, as an ELF or PE image, and through the file-level
// API (from a memory file), with the usual look-ups. Built and run by
// scripts/fuzz (clang, ASan+UBSan); the seeds are tests/versioninfo/fuzz/
// seeds and the PE fixtures.
#include "platform/bytesource.h"
#include "platform/executableimage.h"
#include "platform/versionblock.h"
#include "platform/versionfile.h"

#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kPaths[] = {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion",
    "\\StringFileInfo\\040904B0\\CompanyName", "\\StringFileInfo\\040704b0\\CompanyName", "\\K"};

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto root = platform::VersionBlock::rootLength(bytes))
        Require(*root <= size);
    const platform::VersionBlock view(bytes);
    for (const char* path : kPaths)
        if (const auto found = view.find(path))
            Require(found->offset <= size && found->size <= size - found->offset);

    // A block found in an image is whole: its length field is its size.
    if (const auto block = platform::ExecutableImage::readVersionBlock(platform::MemoryByteSource(bytes)))
        Require(block->size() >= 2 && ((*block)[0] | ((*block)[1] << 8)) == block->size());

    static const int file = ::memfd_create("versioninfo-fuzz", 0);
    static const std::string name = "/proc/self/fd/" + std::to_string(file);
    Require(::ftruncate(file, 0) == 0 && ::pwrite(file, data, size, 0) == static_cast<ssize_t>(size));
    const std::uint32_t length = platform::fileVersionInfoSize(name.c_str());
    if (length == 0)
        return 0;
    std::vector<std::uint8_t> buffer(length);
    Require(platform::readFileVersionInfo(name.c_str(), length, buffer.data()));
    for (const char* path : kPaths) {
        void* value = nullptr;
        std::uint32_t valueLength = 0;
        if (platform::queryVersionValue(buffer.data(), path, &value, &valueLength)) {
            const auto* at = static_cast<std::uint8_t*>(value);
            Require(at >= buffer.data() && valueLength <= length && at + valueLength <= buffer.data() + length);
        }
    }
    return 0;
}
