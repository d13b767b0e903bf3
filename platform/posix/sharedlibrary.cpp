#include "platform/sharedlibrary.h"

#include <dlfcn.h>

namespace platform {

namespace {

constexpr const char* kLibraryFolder = "lib";

} // namespace

std::optional<SharedLibrary> SharedLibrary::load(const std::filesystem::path& path, std::string& error)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): no other thread loads libraries while the program starts
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : path.string() + " cannot be loaded";
        return std::nullopt;
    }
    return SharedLibrary(handle);
}

void* SharedLibrary::symbol(const char* name) const
{
    return ::dlsym(handle_, name);
}

std::string SharedLibrary::fileName(const char* stem, int major)
{
    return std::string("lib") + stem + ".so." + std::to_string(major);
}

std::filesystem::path SharedLibrary::folderFor(const std::filesystem::path& program)
{
    return program.parent_path().parent_path() / kLibraryFolder;
}

} // namespace platform
