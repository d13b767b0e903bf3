#pragma once

#include <QString>

// A picture of the main window for the documentation. Once the scan's rows
// have stopped arriving, the list is sorted by its IP column, the window is
// saved to the file as PNG and the main window ends. Ends the process with
// status 1 when no rows arrived in time or the file cannot be written.
// Call before the main window runs.
void ArmScreenshot(const QString& file);
