#include "platform/sharedlibrary.h"

#include <windows.h>

namespace platform {

std::optional<SharedLibrary> SharedLibrary::load(const std::filesystem::path& path, std::string& error)
{
    // LOAD_WITH_ALTERED_SEARCH_PATH: a library given with its folder finds
    // the DLLs it needs in that folder too.
    const HMODULE module =
        ::LoadLibraryExW(path.c_str(), nullptr, path.has_parent_path() ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    if (module == nullptr) {
        error = path.string() + " cannot be loaded (Windows error " + std::to_string(::GetLastError()) + ")";
        return std::nullopt;
    }
    return SharedLibrary(static_cast<void*>(module));
}

void* SharedLibrary::symbol(const char* name) const
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string SharedLibrary::fileName(const char* stem, int)
{
    return std::string(stem) + ".dll";
}

std::filesystem::path SharedLibrary::folderFor(const std::filesystem::path& program)
{
    return program.parent_path();
}

} // namespace platform
