// sorvinda-screenshot [--dhcp | --plan PLAN.csv] FILE: runs SorvindaConfig's
// main window exactly as the program does and saves a picture to FILE once
// the scanned modules are listed: of the main window, of the main window
// once the recovery DHCP server has given an address (--dhcp), or of the
// plan dialog after a run of PLAN.csv (--plan). For the demo and the
// documentation; the program itself takes nothing from its command line.
// Like the program it loads libqort and scans, so it runs only inside
// scripts/isolated-net.
#include "app/moduleconfigapp.h"
#include "tools/screenshot/screenshot.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    ScreenshotView view = ScreenshotView::Main;
    QString plan;
    int next = 1;
    if (argc == 3 && std::strcmp(argv[1], "--dhcp") == 0) {
        view = ScreenshotView::Dhcp;
        next = 2;
    } else if (argc == 4 && std::strcmp(argv[1], "--plan") == 0) {
        view = ScreenshotView::Plan;
        plan = QString::fromLocal8Bit(argv[2]);
        next = 3;
    }
    if (argc != next + 1 || std::strcmp(argv[next], "--help") == 0) {
        std::fprintf(stderr,
            "usage: sorvinda-screenshot [--dhcp | --plan PLAN.csv] FILE.png"
            "   (inside scripts/isolated-net, on a display)\n");
        return 2;
    }
    QApplication application(argc, argv);
    ArmScreenshot(QString::fromLocal8Bit(argv[next]), view, plan);
    CModuleConfigApp theApp;
    theApp.InitInstance();
    return 0;
}
