#ifndef TOOLS_MODULESIM_REQUEST_H
#define TOOLS_MODULESIM_REQUEST_H

#include "tools/modulesim/macaddress.h"

#include <string>
#include <string_view>
#include <vector>

namespace modulesim {

// One "key = value;" (or "Password: value;") piece of a Configure request.
// key is upper-cased and trimmed ("IP", "NEW PASSWORD", "PASSWORD");
// value is kept exactly as sent, apart from the one space the tool puts
// behind "Password:" and around " = ".
struct ConfigurePiece {
    std::string key;
    std::string value;
};

// What a datagram sent to a module asks for. Anything the simulator does
// not understand is Other and gets no answer, as a module would do.
struct Request {
    enum class Kind { Scan, Configure, Wink, Other };

    Kind kind = Kind::Other;
    MacAddress target;                  // Configure and Wink
    std::vector<ConfigurePiece> pieces; // Configure only, in the order sent

    // The text ends at the first NUL or at the end of the datagram; the
    // request words ("Module Scan", "Configure:", "To:", "WINK") are matched
    // without regard to case. Never reads outside `datagram`.
    static Request parse(std::string_view datagram);
};

} // namespace modulesim

#endif
