#pragma once

#include <QString>

// A picture of the main window for the documentation: the demo script sets
// SORVINDA_SCREENSHOT=FILE and runs the program on a virtual display. Once
// the scan's rows have stopped arriving, the list is sorted by its IP
// column, the window is saved to FILE as PNG and the program ends. Without
// the variable nothing of this runs.
constexpr const char* kScreenshotVariable = "SORVINDA_SCREENSHOT";

// Arms the capture when the variable is set; call before the main window
// runs. Ends the process with status 1 when no rows arrived in time or the
// file cannot be written.
void ArmScreenshotFromEnvironment();
