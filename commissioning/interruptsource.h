#ifndef COMMISSIONING_INTERRUPTSOURCE_H
#define COMMISSIONING_INTERRUPTSOURCE_H

// What InterruptedWrites needs of the system: posix/ catches SIGINT,
// SIGTERM, SIGHUP and SIGPIPE, windows/ the console's control events. Not
// for other callers.

namespace commissioning {

// Appends `interrupted` for every open write of every guarded journal; only
// async-signal-safe calls. Called by the handler the source installs.
void recordInterruptedWrites() noexcept;

namespace interruptsource {

// From now on an interruption first calls recordInterruptedWrites(), then
// ends the program as it would have.
void install();
// Puts back what was there before install().
void restore();
// Returns at once unless a handler may still be reading a journal; then
// never (the program ends in a moment, and the journal must live until).
void waitForRunningHandler();

} // namespace interruptsource
} // namespace commissioning

#endif
