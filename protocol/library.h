#ifndef PROTOCOL_LIBRARY_H
#define PROTOCOL_LIBRARY_H

#include "protocol/engine.h"

namespace qort {

// The one engine of the process. Set up when the shared object is loaded,
// shut down (threads stopped, socket closed) when it is unloaded. The object
// itself is never destroyed: other threads of a program that is exiting may
// still call in, and then meet a stopped engine rather than freed memory.
Engine& libraryEngine() noexcept;

} // namespace qort

#endif
