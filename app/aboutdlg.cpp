#include "app/aboutdlg.h"

#include "app/versionline.h"
#include "resources/resourceids.h"
#include "versioninfo/cvfxversiondata.h"
#include "versioninfo/cvfxversioninfo.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : CDialog(IDD_ABOUTBOX, parent)
{
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(DataExchange& dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_VERSION, m_strVersion);
}

bool CAboutDlg::OnInitDialog()
{
    // The base exchange puts the still empty line into the control, so the
    // template's placeholder text is never seen.
    CDialog::OnInitDialog();

    CVFXVersionData data;
    // The reader switches the thread's locale for its lifetime and puts it
    // back in its destructor, at the end of this function.
    CVFXVersionInfo info(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    if (info.Read(data, nullptr)) {
        m_strVersion = QString::fromStdString(FormatVersionLine(data.m_strProductVersion));
    }
    UpdateData(false);
    return true;
}
