#pragma once

// The application object: runs the main window as a modal dialog and lets
// the program end as soon as it closes. Holds no data; the QApplication is
// made by main() before it.
class CModuleConfigApp {
public:
    // Always false: the program has no event loop of its own after the
    // dialog, so main() returns once this does.
    bool InitInstance();
};
