// watch in the Windows build: its stop and reopen requests are POSIX
// signals (SIGTERM, SIGHUP) taken by a thread of their own, and its state
// file is replaced with POSIX calls; the Windows counterparts are not
// written yet. diff works there as everywhere.
#include "cli/commands.h"

namespace cli {

int RunWatch(const WatchOptions& options)
{
    static_cast<void>(options);
    Complain("watch runs on Linux only; it is not part of the Windows build");
    return kExitUsage;
}

} // namespace cli
