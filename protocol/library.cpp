#include "protocol/library.h"

#include <new>

namespace qort {

Engine& libraryEngine() noexcept
{
    // Never destroyed: the receive thread, and other threads of a program
    // that is exiting, may use it until the process ends. It lives in the
    // library's own static storage rather than on the heap, so that a
    // library that is unloaded (never started: a started one stays loaded)
    // takes it along; the unload step has given back what it held.
    alignas(Engine) static unsigned char storage[sizeof(Engine)];
    static Engine* const engine = new (storage) Engine;
    return *engine;
}

} // namespace qort
