#include "protocol/library.h"

namespace qort {

Engine& libraryEngine() noexcept
{
    // Never destroyed: the receive thread may use it until the process ends.
    // An allocation failure while the library loads ends the process, as any
    // failure of the loader would.
    static Engine* const engine = new Engine; // NOLINT(bugprone-unhandled-exception-at-new): see above

    return *engine;
}

namespace {

// Run by the dynamic loader when the library is loaded and unloaded (at
// process exit for a library bound at start-up). Loading never fails: a
// socket that cannot be prepared only makes sends fail later.
__attribute__((constructor)) void loadLibrary()
{
    libraryEngine().setUp();
}

__attribute__((destructor)) void unloadLibrary()
{
    libraryEngine().shutdown();
}

} // namespace

} // namespace qort
