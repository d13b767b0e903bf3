// Windows has thread locales of its own: the identifiers are used as they
// are, with no mapping onto POSIX names.
#include "platform/threadlocale.h"

#include <windows.h>

namespace platform {

LangId userDefaultLangId()
{
    return ::GetUserDefaultLangID();
}

// Windows has no POSIX locale names.
const char* posixLocaleName(LangId)
{
    return nullptr;
}

bool isLocaleInstalled(Lcid lcid)
{
    return ::IsValidLocale(lcid, LCID_INSTALLED) != FALSE;
}

Lcid threadLocale()
{
    return ::GetThreadLocale();
}

bool setThreadLocale(Lcid lcid)
{
    return isLocaleInstalled(lcid) && ::SetThreadLocale(lcid) != FALSE;
}

} // namespace platform
