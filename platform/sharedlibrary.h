#ifndef PLATFORM_SHAREDLIBRARY_H
#define PLATFORM_SHAREDLIBRARY_H

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// A shared library loaded at run time (dlopen / LoadLibraryW). It stays
// loaded until the process ends: this object never unloads it.
class SharedLibrary {
public:
    // Nothing, and error says why, when it cannot be loaded.
    static std::optional<SharedLibrary> load(const std::filesystem::path& path, std::string& error);
    // The exported function or object of that name; null when there is none.
    void* symbol(const char* name) const;

    // How this system names version `major` of library `stem`:
    // "libqort.so.1" (ELF, by its SONAME) or "qort.dll" (Windows).
    static std::string fileName(const char* stem, int major);
    // Where a program's own libraries are installed, seen from the
    // program's file: "../lib" beside "bin" on Linux, the program's own
    // folder on Windows (where the loader looks first).
    static std::filesystem::path folderFor(const std::filesystem::path& program);

private:
    explicit SharedLibrary(void* handle)
        : handle_(handle)
    {
    }
    void* handle_ = nullptr;
};

} // namespace platform

#endif
