#include "platform/modulepath.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <windows.h>

#include <psapi.h>

namespace platform {

namespace {

// Long paths (\\?\ prefixed, up to 32767 characters) are possible: grow the
// buffer until the whole name fits rather than cutting it.
std::optional<std::string> fileNameOf(HMODULE module)
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            return std::nullopt;
        if (length < name.size()) {
            name.resize(length);
            break;
        }
        name.resize(name.size() * 2);
    }
    const std::filesystem::path reported(name);
    std::error_code error;
    const std::filesystem::path full = std::filesystem::weakly_canonical(reported, error);
    const std::u8string text = (error ? reported : full).u8string();
    return std::string(text.begin(), text.end());
}

HMODULE moduleAt(const void* address, DWORD extraFlags)
{
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | extraFlags;
    if (!::GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), &module))
        return nullptr;
    return module;
}

} // namespace

std::optional<std::string> modulePath(const void* addressInModule)
{
    if (addressInModule == nullptr)
        return fileNameOf(nullptr);
    const HMODULE module = moduleAt(addressInModule, GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    if (module == nullptr)
        return std::nullopt;
    return fileNameOf(module);
}

std::optional<std::string> modulePathOfSymbol(const char* name)
{
    // Windows has no global symbol namespace: look in the program and in
    // every module it has loaded.
    if (name == nullptr)
        return std::nullopt;
    HMODULE modules[1024];
    DWORD needed = 0;
    const HMODULE self = ::GetModuleHandleW(nullptr);
    if (const FARPROC found = ::GetProcAddress(self, name))
        return modulePath(reinterpret_cast<const void*>(found));
    if (!::K32EnumProcessModules(::GetCurrentProcess(), modules, sizeof modules, &needed))
        return std::nullopt;
    const DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), std::size(modules));
    for (DWORD i = 0; i < count; ++i)
        if (const FARPROC found = ::GetProcAddress(modules[i], name))
            return modulePath(reinterpret_cast<const void*>(found));
    return std::nullopt;
}

bool pinModule(const void* addressInModule)
{
    return moduleAt(addressInModule, GET_MODULE_HANDLE_EX_FLAG_PIN) != nullptr;
}

} // namespace platform
