// The load-time set-up and the unload step of the shared object (ELF).
#include "protocol/library.h"

namespace qort {

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
