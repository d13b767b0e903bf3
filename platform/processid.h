#ifndef PLATFORM_PROCESSID_H
#define PLATFORM_PROCESSID_H

#include <cstdint>

namespace platform {

// The calling process's ID. A child made by fork() inherits its parent's
// objects (their memory and descriptors) but gets an ID of its own, so
// comparing the ID an object recorded with this one tells the two apart.
std::uint64_t currentProcessId();

} // namespace platform

#endif
