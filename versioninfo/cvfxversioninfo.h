#ifndef VERSIONINFO_CVFXVERSIONINFO_H
#define VERSIONINFO_CVFXVERSIONINFO_H

#include <cstddef>
#include <cstdint>

#include "platform/threadlocale.h"
#include "versioninfo/cvfxversiondata.h"

// Reads a file's version resource into a CVFXVersionData: the fixed numbers
// and the twelve strings of the one block named by the reader's language and
// code page (the translation table is not consulted).
//
// Lifetime: a short-lived object on one thread. For its whole life the
// thread runs under the reader's language when that locale is installed
// (see platform/threadlocale.h); the destructor puts the thread's previous
// locale back, so it must run on the thread that made the reader.
class CVFXVersionInfo {
public:
    static constexpr std::uint32_t kCodePageUnicode = 1200;   // 0x04B0
    static constexpr std::uint16_t kLanguageEnglishUs = 1033; // 0x0409
    static constexpr std::size_t kStringSize = 256;           // at most 255 bytes and a NUL
    static constexpr std::size_t kPathSize = 256;

    CVFXVersionInfo(std::uint32_t codePage, std::uint16_t language);
    virtual ~CVFXVersionInfo();
    CVFXVersionInfo(const CVFXVersionInfo&) = delete;
    CVFXVersionInfo& operator=(const CVFXVersionInfo&) = delete;

    // Null or blank fileName: the program's own executable. data is reset
    // first, so it is empty after any failure. Missing strings are no failure.
    bool Read(CVFXVersionData& data, const char* fileName);

    std::uint32_t GetInfoSize(const char* fileName) const;
    bool GetInfo(const char* fileName, std::uint32_t size, void* buffer) const;

    // Copies "\StringFileInfo\<language><codepage>\<key>" (lower-case hex)
    // from block, a buffer filled by GetInfo, into out: zero-filled first, at
    // most outSize - 1 bytes kept, cut back to a whole UTF-8 character.
    bool QueryString(void* block, const char* key, char* out, std::size_t outSize) const;

    std::uint16_t m_wLanguage;
    std::uint32_t m_dwCodePage;
    platform::Lcid m_lcidSaved;
    platform::Lcid m_lcidUsed;
};

#endif // VERSIONINFO_CVFXVERSIONINFO_H
