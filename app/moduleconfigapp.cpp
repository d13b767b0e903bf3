#include "app/moduleconfigapp.h"

#include "app/moduleconfigdlg.h"
#include "app/versionmessagebox.h"

bool CModuleConfigApp::InitInstance()
{
    InstallVersionInfoMessageBox();
    CModuleConfigDlg dlg(nullptr);
    // The result is of no interest: Exit, Close and a refused library all end
    // the program alike.
    dlg.DoModal();
    return false;
}
