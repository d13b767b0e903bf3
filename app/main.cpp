#include "app/moduleconfigapp.h"

#include <QApplication>

namespace {

// The installed desktop entry's name without ".desktop" (SORVINDA_APP_ID in
// packaging/CMakeLists.txt). Wayland compositors match a window to its entry,
// and so to its icon and name, by this.
constexpr const char* kDesktopFileName = "org.sorvinda.SorvindaConfig";

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    CModuleConfigApp theApp;
    theApp.InitInstance();
    return 0;
}
