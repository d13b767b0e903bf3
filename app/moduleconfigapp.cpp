#include "app/moduleconfigapp.h"

#include "app/moduleconfigdlg.h"

bool CModuleConfigApp::InitInstance() {
  CModuleConfigDlg dlg(nullptr);
  // The result is of no interest: Exit, Close and a refused library all end
  // the program alike.
  dlg.DoModal();
  return false;
}
