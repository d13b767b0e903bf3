#ifndef CLI_INTERRUPTEDWRITES_H
#define CLI_INTERRUPTEDWRITES_H

#include "commissioning/auditlog.h"

// Writes that a signal cuts short are written down: while one of these
// exists, SIGINT, SIGTERM, SIGHUP and SIGPIPE (Ctrl+C, kill, a closed
// terminal, a reader that went away) first append an `interrupted` record
// for every write of the journal that was sent and has no outcome yet, then
// end the program as the signal would have. At most one exists at a time.

namespace cli {

class InterruptedWrites {
public:
    // journal must outlive this.
    explicit InterruptedWrites(commissioning::WriteJournal& journal);
    ~InterruptedWrites();
    InterruptedWrites(const InterruptedWrites&) = delete;
    InterruptedWrites& operator=(const InterruptedWrites&) = delete;
};

} // namespace cli

#endif
