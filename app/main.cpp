#include "app/moduleconfigapp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    CModuleConfigApp theApp;
    theApp.InitInstance();
    return 0;
}
