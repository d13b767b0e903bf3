#ifndef TOOLS_MODULESIM_TEXTESCAPE_H
#define TOOLS_MODULESIM_TEXTESCAPE_H

#include <optional>
#include <string>
#include <string_view>

namespace modulesim {

// The simulator's output is one line per event, so datagram bytes are
// written in an escaped form that never contains a newline or a bare quote:
// printable ASCII stays as it is, except '"' -> \" and '\' -> \\;
// every other byte (NUL included) becomes \xNN with two upper-case digits.
// escapeBytes and unescapeBytes are inverse: unescapeBytes(escapeBytes(b)) == b.
std::string escapeBytes(std::string_view bytes);

// Reads the escaped form back, and also the shorthands \n, \r, \t and \0
// that people type on a command line (--raw-reply). Empty on a malformed
// escape (a trailing '\', an unknown letter, fewer than two hex digits).
std::optional<std::string> unescapeBytes(std::string_view text);

} // namespace modulesim

#endif
