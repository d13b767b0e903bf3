// The holders of a port as the window and the command line name them
// (shared by the Linux and the Windows port-holder lookups).
#include "diagnostics/portholders.h"

#include "platform/textescape.h"

namespace diagnostics {

std::string describeProcesses(const std::vector<ProcessInfo>& processes)
{
    std::string text;
    for (const ProcessInfo& process : processes) {
        if (!text.empty())
            text += ", ";
        // Any user may name a process: its name must not forge a line or
        // drive the terminal.
        text += platform::escapeControlBytes(process.name) + " (process ID " + std::to_string(process.pid) + ")";
    }
    return text;
}

} // namespace diagnostics
