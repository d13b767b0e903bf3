#ifndef VERSIONINFO_CVFXVERSIONDATA_H
#define VERSIONINFO_CVFXVERSIONDATA_H

#include <array>
#include <cstdint>
#include <string>

// The version information of one file: the fixed numbers and the twelve
// standard strings of one language and code-page block, as CVFXVersionInfo
// reads them. Texts are UTF-8. A new record is empty.
class CVFXVersionData {
public:
    // Shows a text in a message box with the information icon. The windowed
    // program installs one; without it Show(false) writes to standard error,
    // so that this library needs no widgets. Called on the thread of Show.
    using MessageBoxHook = void (*)(const std::string& text);

    static constexpr char kNoInformationText[] = "No version information is available";

    CVFXVersionData();
    virtual ~CVFXVersionData();
    CVFXVersionData(const CVFXVersionData&) = default;
    CVFXVersionData& operator=(const CVFXVersionData&) = default;

    // toConsole: ToString() to standard output; otherwise to the message box.
    virtual void Show(bool toConsole) const;
    virtual void Reset();
    virtual bool IsEmpty() const;
    virtual void Copy(const CVFXVersionData& other);
    virtual std::string ToString() const;

    // nullptr puts the standard-error default back.
    static void SetMessageBoxHook(MessageBoxHook hook);

    std::string m_strFileName;
    // Most significant word first: 1.3.1.0 is {1, 3, 1, 0}.
    std::array<std::uint16_t, 4> m_wFileVersion{};
    std::array<std::uint16_t, 4> m_wProductVersion{};
    std::string m_strFileVersion;
    std::string m_strProductVersion;
    std::string m_strCompanyName;
    std::string m_strFileDescription;
    std::string m_strInternalName;
    std::string m_strLegalCopyright;
    std::string m_strOriginalFilename;
    std::string m_strProductName;
    std::string m_strComments;
    std::string m_strLegalTrademarks;
    std::string m_strPrivateBuild;
    std::string m_strSpecialBuild;
};

#endif // VERSIONINFO_CVFXVERSIONDATA_H
