#ifndef MODULES_LOSTREPLIES_H
#define MODULES_LOSTREPLIES_H

#include <cstdint>
#include <string>

namespace modules {

// What both front ends say when the library reports that the computer
// dropped replies of the last scan (its receive buffer was full): modules
// may be missing from the list. Empty for 0.
std::string lostRepliesText(std::uint32_t lost);

} // namespace modules

#endif
