#ifndef PLATFORM_TEXTESCAPE_H
#define PLATFORM_TEXTESCAPE_H

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Bytes from outside (a datagram, a module's host name, a version string
// read from a file) written to a terminal or a log line in an escaped form
// that never contains a control byte, a newline or a bare quote, so such
// text can neither drive the terminal nor break a line apart: printable
// ASCII stays as it is, except '"' -> \" and '\' -> \\; every other byte
// (NUL included) becomes \xNN with two upper-case digits. The module
// simulator's log, sorvinda's text output and sorvinda-verinfo all use it.
// escapeBytes and unescapeBytes are inverse: unescapeBytes(escapeBytes(b)) == b.
std::string escapeBytes(std::string_view bytes);

// Text from outside shown to a person - on a terminal, in the scan table,
// in a CSV cell, in a message box - where a quote or a backslash is harmless
// (CSV quoting takes care of quotes): every byte outside printable ASCII
// (control bytes, DEL, and bytes of 128 or more) becomes \xNN as above;
// '"' and '\' stay as they are. Not reversible, so only for display.
std::string escapeControlBytes(std::string_view bytes);

// Reads the escaped form back, and also the shorthands \n, \r, \t and \0
// that people type on a command line (--raw-reply). Empty on a malformed
// escape (a trailing '\', an unknown letter, fewer than two hex digits).
std::optional<std::string> unescapeBytes(std::string_view text);

} // namespace platform

#endif
