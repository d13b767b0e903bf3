// sorvinda-screenshot FILE: runs SorvindaConfig's main window exactly as the
// program does and saves a picture of it to FILE once the scanned modules
// are listed. For the demo and the documentation; the program itself takes
// nothing from its command line. Like the program it loads libqort and
// scans, so it runs only inside scripts/isolated-net.
#include "app/moduleconfigapp.h"
#include "tools/screenshot/screenshot.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: sorvinda-screenshot FILE.png   (inside scripts/isolated-net, on a display)\n");
        return 2;
    }
    QApplication application(argc, argv);
    ArmScreenshot(QString::fromLocal8Bit(argv[1]));
    CModuleConfigApp theApp;
    theApp.InitInstance();
    return 0;
}
