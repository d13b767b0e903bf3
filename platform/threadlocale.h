#ifndef PLATFORM_THREADLOCALE_H
#define PLATFORM_THREADLOCALE_H

#include <cstdint>

namespace platform {

// Windows-style locale identifiers mapped onto POSIX per-thread locales
// (newlocale/uselocale).
//
// An LCID is a 16-bit language ID (primary language in bits 0-9, sub-language
// in bits 10-15) with the sort ID in bits 16-19. Language IDs map to POSIX
// locale names through a fixed table ("de_DE.UTF-8" for 0x0407, "C.UTF-8" for
// the invariant language 0x007F).
//
// A thread starts under the process's global locale, whose LCID is the
// user's default. Setting the user default again returns the thread to the
// global locale; setting another LCID puts a locale of its own in force for
// the thread until the next set or the thread's end.
using Lcid = std::uint32_t;
using LangId = std::uint16_t;

constexpr std::uint16_t kSortDefault = 0;
constexpr LangId kLangInvariant = 0x007F;
constexpr LangId kLangEnglishUs = 0x0409;

constexpr Lcid makeLcid(LangId language, std::uint16_t sort = kSortDefault)
{
    return static_cast<Lcid>(language) | (static_cast<Lcid>(sort & 0xF) << 16);
}

constexpr LangId langIdOf(Lcid lcid)
{
    return static_cast<LangId>(lcid & 0xFFFF);
}

// From the first set of LC_ALL, LC_MESSAGES, LANG (as setlocale resolves
// message language); "C", "POSIX", unset or an unknown name give 0x0409,
// the language of the C locale's texts.
LangId userDefaultLangId();

// The POSIX name for a language ID, or nullptr when the table lacks it.
const char* posixLocaleName(LangId language);

// True when the locale can be put in force: the user default always, others
// when the system has their POSIX locale installed.
bool isLocaleInstalled(Lcid lcid);

Lcid threadLocale();

// False, with the thread's locale unchanged, when lcid is not installed.
bool setThreadLocale(Lcid lcid);

} // namespace platform

#endif // PLATFORM_THREADLOCALE_H
