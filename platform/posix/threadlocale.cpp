#include "platform/threadlocale.h"

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <string_view>

namespace platform {

namespace {

struct LocaleName {
    LangId language;
    const char* name;
};

// The languages of the common Windows installations. The first entry of a
// primary language is its default when a name gives only the language.
constexpr std::array kLocaleNames{
    LocaleName{0x0409, "en_US"},
    LocaleName{0x0809, "en_GB"},
    LocaleName{0x0C09, "en_AU"},
    LocaleName{0x1009, "en_CA"},
    LocaleName{0x0407, "de_DE"},
    LocaleName{0x0807, "de_CH"},
    LocaleName{0x0C07, "de_AT"},
    LocaleName{0x040C, "fr_FR"},
    LocaleName{0x080C, "fr_BE"},
    LocaleName{0x0C0C, "fr_CA"},
    LocaleName{0x100C, "fr_CH"},
    LocaleName{0x0410, "it_IT"},
    LocaleName{0x0C0A, "es_ES"},
    LocaleName{0x080A, "es_MX"},
    LocaleName{0x0413, "nl_NL"},
    LocaleName{0x0813, "nl_BE"},
    LocaleName{0x0416, "pt_BR"},
    LocaleName{0x0816, "pt_PT"},
    LocaleName{0x041D, "sv_SE"},
    LocaleName{0x0406, "da_DK"},
    LocaleName{0x0414, "nb_NO"},
    LocaleName{0x040B, "fi_FI"},
    LocaleName{0x0415, "pl_PL"},
    LocaleName{0x0405, "cs_CZ"},
    LocaleName{0x040E, "hu_HU"},
    LocaleName{0x0419, "ru_RU"},
    LocaleName{0x041F, "tr_TR"},
    LocaleName{0x0408, "el_GR"},
    LocaleName{0x0411, "ja_JP"},
    LocaleName{0x0412, "ko_KR"},
    LocaleName{0x0804, "zh_CN"},
    LocaleName{0x0404, "zh_TW"},
    LocaleName{kLangInvariant, "C"},
};

constexpr char kUtf8Suffix[] = ".UTF-8";

// What a thread has put in force. The destructor runs at thread exit and
// hands the thread back to the global locale before freeing its own.
struct ThreadState {
    bool changed = false;
    Lcid lcid = 0;
    locale_t owned = static_cast<locale_t>(nullptr);

    ~ThreadState() { release(); }

    void release()
    {
        if (owned != static_cast<locale_t>(nullptr)) {
            ::uselocale(LC_GLOBAL_LOCALE);
            ::freelocale(owned);
            owned = static_cast<locale_t>(nullptr);
        }
    }
};

thread_local ThreadState threadState;

Lcid userDefaultLcid()
{
    return makeLcid(userDefaultLangId());
}

locale_t openLocale(Lcid lcid)
{
    const char* base = posixLocaleName(langIdOf(lcid));
    if (base == nullptr)
        return static_cast<locale_t>(nullptr);
    const std::string name = std::string(base) + kUtf8Suffix;
    return ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
}

LangId langIdFromName(std::string_view name)
{
    name = name.substr(0, name.find_first_of(".@"));
    if (name == "C" || name == "POSIX")
        return kLangEnglishUs;
    for (const auto& entry : kLocaleNames)
        if (name == entry.name)
            return entry.language;
    const std::string_view language = name.substr(0, name.find('_'));
    for (const auto& entry : kLocaleNames) {
        const std::string_view candidate(entry.name);
        if (candidate.substr(0, candidate.find('_')) == language)
            return entry.language;
    }
    return kLangEnglishUs;
}

} // namespace

const char* posixLocaleName(LangId language)
{
    for (const auto& entry : kLocaleNames)
        if (entry.language == language)
            return entry.name;
    return nullptr;
}

LangId userDefaultLangId()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in this program changes its environment once it runs.
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return langIdFromName(value);
    }
    return kLangEnglishUs;
}

bool isLocaleInstalled(Lcid lcid)
{
    if (lcid == userDefaultLcid())
        return true;
    const locale_t probe = openLocale(lcid);
    if (probe == static_cast<locale_t>(nullptr))
        return false;
    ::freelocale(probe);
    return true;
}

Lcid threadLocale()
{
    return threadState.changed ? threadState.lcid : userDefaultLcid();
}

bool setThreadLocale(Lcid lcid)
{
    if (lcid == userDefaultLcid()) {
        threadState.release();
        threadState.changed = true;
        threadState.lcid = lcid;
        return true;
    }
    const locale_t next = openLocale(lcid);
    if (next == static_cast<locale_t>(nullptr))
        return false;
    ::uselocale(next);
    if (threadState.owned != static_cast<locale_t>(nullptr))
        ::freelocale(threadState.owned);
    threadState.owned = next;
    threadState.changed = true;
    threadState.lcid = lcid;
    return true;
}

} // namespace platform
