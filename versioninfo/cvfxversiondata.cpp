#include "versioninfo/cvfxversiondata.h"

#include <atomic>
#include <cstdio>

namespace {

void printToStandardError(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::atomic<CVFXVersionData::MessageBoxHook> messageBoxHook{&printToStandardError};

} // namespace

CVFXVersionData::CVFXVersionData()
{
    Reset();
}

CVFXVersionData::~CVFXVersionData() = default;

void CVFXVersionData::SetMessageBoxHook(MessageBoxHook hook)
{
    messageBoxHook.store(hook != nullptr ? hook : &printToStandardError);
}

void CVFXVersionData::Show(bool toConsole) const
{
    const std::string text = ToString();
    if (toConsole) {
        std::printf("%s", text.c_str());
        // Show has no way to report a failed write; the caller's own
        // output on the same stream meets the same fault.
        static_cast<void>(std::fflush(stdout));
    } else {
        messageBoxHook.load()(text);
    }
}

void CVFXVersionData::Reset()
{
    m_strFileName.clear();
    m_wFileVersion.fill(0);
    m_wProductVersion.fill(0);
    for (std::string* text : {&m_strFileVersion, &m_strProductVersion, &m_strCompanyName, &m_strFileDescription,
             &m_strInternalName, &m_strLegalCopyright, &m_strOriginalFilename, &m_strProductName, &m_strComments,
             &m_strLegalTrademarks, &m_strPrivateBuild, &m_strSpecialBuild})
        text->clear();
}

bool CVFXVersionData::IsEmpty() const
{
    const std::array<std::uint16_t, 4> zero{};
    if (!m_strFileName.empty() || m_wFileVersion != zero || m_wProductVersion != zero)
        return false;
    for (const std::string* text : {&m_strFileVersion, &m_strProductVersion, &m_strCompanyName, &m_strFileDescription,
             &m_strInternalName, &m_strLegalCopyright, &m_strOriginalFilename, &m_strProductName, &m_strComments,
             &m_strLegalTrademarks, &m_strPrivateBuild, &m_strSpecialBuild})
        if (!text->empty())
            return false;
    return true;
}

void CVFXVersionData::Copy(const CVFXVersionData& other)
{
    m_strFileName = other.m_strFileName;
    m_wFileVersion = other.m_wFileVersion;
    m_wProductVersion = other.m_wProductVersion;
    m_strFileVersion = other.m_strFileVersion;
    m_strProductVersion = other.m_strProductVersion;
    m_strCompanyName = other.m_strCompanyName;
    m_strFileDescription = other.m_strFileDescription;
    m_strInternalName = other.m_strInternalName;
    m_strLegalCopyright = other.m_strLegalCopyright;
    m_strOriginalFilename = other.m_strOriginalFilename;
    m_strProductName = other.m_strProductName;
    m_strComments = other.m_strComments;
    m_strLegalTrademarks = other.m_strLegalTrademarks;
    m_strPrivateBuild = other.m_strPrivateBuild;
    m_strSpecialBuild = other.m_strSpecialBuild;
}

std::string CVFXVersionData::ToString() const
{
    if (IsEmpty())
        return kNoInformationText;
    // The labels are the program's established output, spelling included
    // ("OriginalFileName", "LegalTradeMarks", "Comments" without a colon).
    return "VS_VERSION_INFO for " + m_strFileName + ":\n\n" + "FileVersion: " + m_strFileVersion + "\n"
        + "ProductVersion: " + m_strProductVersion + "\n" + "CompanyName: " + m_strCompanyName + "\n"
        + "FileDescription: " + m_strFileDescription + "\n" + "InternalName: " + m_strInternalName + "\n"
        + "LegalCopyright: " + m_strLegalCopyright + "\n" + "OriginalFileName: " + m_strOriginalFilename + "\n"
        + "ProductName: " + m_strProductName + "\n" + "Comments " + m_strComments + "\n"
        + "LegalTradeMarks: " + m_strLegalTrademarks + "\n" + "PrivateBuild: " + m_strPrivateBuild + "\n"
        + "SpecialBuild: " + m_strSpecialBuild + "\n";
}
