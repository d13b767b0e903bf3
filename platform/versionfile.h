#ifndef PLATFORM_VERSIONFILE_H
#define PLATFORM_VERSIONFILE_H

#include <cstdint>

namespace platform {

// The three version-information operations of the program, over files in
// ELF or PE format (see ExecutableImage for where the block is found).
//
// Buffer contract. fileVersionInfoSize() reports the size of a buffer that
// holds the file's VS_VERSIONINFO block followed by room for converting its
// texts; readFileVersionInfo() fills such a buffer; queryVersionValue() looks
// values up in it and returns pointers into it, valid while the buffer lives
// and is not refilled.
//
// Text values are UTF-16 in the block. A query of a text value converts it to
// UTF-8 (the character set of this platform's locales; unpaired surrogates
// become U+FFFD) into the buffer's conversion room, ending at the value's
// first NUL, and reports its length in bytes including the terminating NUL
// (at least 1, also for an empty or unterminated value). Binary values
// ("\", "\VarFileInfo\Translation") are returned in place with their length
// in bytes.

// 0 when the file cannot be read or carries no well-formed version block.
std::uint32_t fileVersionInfoSize(const char* fileName);

// False when size is smaller than fileVersionInfoSize() reports (nothing is
// then written past size) or the block cannot be read.
bool readFileVersionInfo(const char* fileName, std::uint32_t size, void* buffer);

// path: "\" for the fixed information (VS_FIXEDFILEINFO, 52 bytes),
// "\VarFileInfo\Translation", "\StringFileInfo\<block>\<key>"; keys compare
// case-insensitively. buffer must have been filled by readFileVersionInfo().
bool queryVersionValue(void* buffer, const char* path, void** value, std::uint32_t* length);

} // namespace platform

#endif // PLATFORM_VERSIONFILE_H
