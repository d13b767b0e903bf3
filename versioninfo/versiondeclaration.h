#ifndef VERSIONINFO_VERSIONDECLARATION_H
#define VERSIONINFO_VERSIONDECLARATION_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace versioninfo {

// A version resource as declared in resources/*.version: the VERSIONINFO
// statement of a Windows resource script, so that the same text can be fed
// to a resource compiler for comparison.
//
//   1 VERSIONINFO
//    FILEVERSION 1,1,2,0          (up to four numbers; missing ones are 0)
//    PRODUCTVERSION 1,1,2,0
//    FILEFLAGSMASK 0x3fL  FILEFLAGS 0x0L  FILEOS 0x4L  FILETYPE 0x2L  FILESUBTYPE 0x0L
//   BEGIN
//       BLOCK "StringFileInfo"
//       BEGIN
//           BLOCK "040904B0"
//           BEGIN
//               VALUE "FileVersion", "1, 1, 2, 0"
//           END
//       END
//       BLOCK "VarFileInfo"
//       BEGIN
//           VALUE "Translation", 0x409, 1200
//       END
//   END
//
// Understood: decimal and 0x numbers with an optional L suffix (a number
// with L is 32 bits wide in a VALUE, otherwise 16), strings with the escapes
// \" \\ \n \r \t \0 \xHH and "" for a quote, BEGIN/END or braces, // and /* */
// comments. Strings are UTF-8 and become UTF-16. Anything else is an error
// with its line number: a declaration the encoder does not fully understand
// must not silently produce a different resource.
struct VersionDeclaration {
    struct Node {
        enum class Kind { Block, Text, Binary };
        Kind kind = Kind::Block;
        std::u16string key;
        std::u16string text;              // Text: without the terminating NUL
        std::vector<std::uint8_t> binary; // Binary: little-endian numbers
        std::vector<Node> children;       // Block
    };

    std::array<std::uint16_t, 4> fileVersion{};
    std::array<std::uint16_t, 4> productVersion{};
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOs = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::vector<Node> children;

    // nullopt with a message ("line N: ...") in error when text is not a
    // declaration of the form above.
    static std::optional<VersionDeclaration> parse(std::string_view text, std::string& error);
};

} // namespace versioninfo

#endif // VERSIONINFO_VERSIONDECLARATION_H
