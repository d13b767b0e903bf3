#pragma once

#include <QString>

// Pictures of the program for the documentation, of one of three views:
//   Main     the main window once the scan's rows have stopped arriving,
//            sorted by IP;
//   Dhcp     the main window once the recovery DHCP server, switched on
//            through Advanced Settings as a user would, has given an
//            address (its summary line names it);
//   Plan     the plan dialog after a run of the plan file `plan` (no
//            password, no conflict confirmed).
// The picture is saved to the file as PNG and the main window ends. Ends
// the process with status 1 when nothing came in time or the file cannot be
// written. Call before the main window runs.
enum class ScreenshotView { Main, Dhcp, Plan };
void ArmScreenshot(const QString& file, ScreenshotView view = ScreenshotView::Main, const QString& plan = {});
