#ifndef COMMISSIONING_UTCTIME_H
#define COMMISSIONING_UTCTIME_H

#include <ctime>
#include <string>

namespace commissioning {

// RFC 3339 in UTC, "2026-12-07T15:50:40Z", as the audit log and the watch's
// events write it; empty for a year beyond four digits (no time rather
// than a cut one).
std::string utcTimeText(std::time_t when);

} // namespace commissioning

#endif
