#include "app/moduleconfigapp.h"
#include "app/screenshot.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  ArmScreenshotFromEnvironment();
  CModuleConfigApp theApp;
  theApp.InitInstance();
  return 0;
}
