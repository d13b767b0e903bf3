#ifndef MODULES_MODULETEXT_H
#define MODULES_MODULETEXT_H

#include <string>
#include <string_view>

// A module's texts (host name, type) are bytes in no declared encoding.
// Newer tools send UTF-8; the modules' own tools read every other byte as
// Windows-1252. Both front ends show a text the same way: as UTF-8 when the
// bytes are valid UTF-8, otherwise each byte as its Windows-1252 character.

namespace modules {

// True when bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). Plain ASCII is UTF-8.
bool isValidUtf8(std::string_view bytes);

// The Unicode character of one Windows-1252 byte; the five bytes that code
// page leaves unassigned (81, 8D, 8F, 90, 9D) stand for the control
// characters of the same number, as Windows reads them.
char32_t windows1252Character(unsigned char byte);

// The text to show, as UTF-8: bytes unchanged when they are valid UTF-8,
// otherwise every byte converted from Windows-1252.
std::string moduleTextToUtf8(std::string_view bytes);

// Whether `utf8` shows exactly the text of `bytes` (moduleTextToUtf8(bytes)
// == utf8): a name the user left as it was goes back as the module's own
// bytes.
bool showsBytes(std::string_view utf8, std::string_view bytes);

} // namespace modules

#endif
