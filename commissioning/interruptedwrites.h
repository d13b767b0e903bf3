#ifndef COMMISSIONING_INTERRUPTEDWRITES_H
#define COMMISSIONING_INTERRUPTEDWRITES_H

#include "commissioning/auditlog.h"

#include <cstddef>

// Writes that a signal cuts short are written down: while one of these
// exists, SIGINT, SIGTERM, SIGHUP and SIGPIPE (Ctrl+C, kill, a closed
// terminal or session, a reader that went away) first append an
// `interrupted` record for every write of its journal that was sent and has
// no outcome yet, then end the program as the signal would have. On Windows
// the console's control events (Ctrl+C, Ctrl+Break, a closed console) do
// the same.
//
// Both front ends keep one beside each journal while writes are out: the
// command line for its one command, the window for its pending write and
// for a plan run, which may overlap. Up to kMaxGuardedJournals at a time; a
// journal beyond them is not guarded (its `sent` records stand, and undo
// reads a write without outcome as one that may have changed the module).

namespace commissioning {

inline constexpr std::size_t kMaxGuardedJournals = 8;

class InterruptedWrites {
public:
    // journal must outlive this.
    explicit InterruptedWrites(WriteJournal& journal);
    ~InterruptedWrites();
    InterruptedWrites(const InterruptedWrites&) = delete;
    InterruptedWrites& operator=(const InterruptedWrites&) = delete;

    // False when every place was taken and this journal is not guarded.
    bool guarded() const { return slot_ < kMaxGuardedJournals; }

private:
    std::size_t slot_ = kMaxGuardedJournals;
};

} // namespace commissioning

#endif
