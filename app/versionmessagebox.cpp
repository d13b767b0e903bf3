#include "app/versionmessagebox.h"

#include "ui/messagebox.h"
#include "versioninfo/cvfxversiondata.h"

namespace {

void ShowVersionTextInMessageBox(const std::string& text)
{
    AfxMessageBox(QString::fromStdString(text), MB_ICONINFORMATION);
}

} // namespace

void InstallVersionInfoMessageBox()
{
    CVFXVersionData::SetMessageBoxHook(&ShowVersionTextInMessageBox);
}
