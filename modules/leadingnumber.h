#ifndef MODULES_LEADINGNUMBER_H
#define MODULES_LEADINGNUMBER_H

#include <string_view>

namespace modules {

// The decimal number at the start of text, read the way the column spec and
// the dotted-address comparison expect (like atoi): leading white space, an
// optional sign, then digits up to the first non-digit. A text without digits
// gives 0. Unlike atoi the result saturates at INT_MAX / INT_MIN instead of
// overflowing, so a 4000-digit group in a module's text stays defined.
// Never reads outside text; text need not be NUL-terminated.
int leadingNumber(std::string_view text);

} // namespace modules

#endif
