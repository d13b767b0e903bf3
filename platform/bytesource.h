#ifndef PLATFORM_BYTESOURCE_H
#define PLATFORM_BYTESOURCE_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform {

// Random access to the bytes of a file image, with every read checked
// against the image's size. The parsers of executable formats read through
// this interface only, so that a file on disk and a buffer in memory (tests,
// truncated copies) go through exactly the same checks.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies count bytes starting at offset into out. False, with out
    // unspecified, when any of those bytes lies beyond size() or the read
    // fails; never reads outside the image.
    virtual bool readAt(std::uint64_t offset, void* out, std::size_t count) const = 0;
};

// True when [offset, offset + count) lies within an image of size bytes
// (written so that it cannot overflow).
bool fitsInside(std::uint64_t offset, std::size_t count, std::uint64_t size);

// A view of bytes owned by the caller, who keeps them alive and unchanged
// for the source's lifetime.
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes)
        : bytes_(bytes)
    {
    }
    std::uint64_t size() const override { return bytes_.size(); }
    bool readAt(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// A regular file opened read-only; its size is taken once at opening
// (platform/posix: a descriptor; platform/windows: a C run-time descriptor
// read through its HANDLE, so that reads at an offset need no seek). A file
// that shrinks meanwhile makes reads fail, never return stale bytes.
class FileByteSource final : public ByteSource {
public:
    explicit FileByteSource(const std::string& path);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

} // namespace platform

#endif // PLATFORM_BYTESOURCE_H
