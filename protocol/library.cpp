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

} // namespace qort
