#include "platform/modulepath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kOwnExecutable[] = "/proc/self/exe";

std::optional<std::string> resolved(const char* path)
{
    // realpath with a null buffer allocates exactly what the path needs.
    std::unique_ptr<char, decltype(&std::free)> full(::realpath(path, nullptr), &std::free);
    if (!full)
        return std::nullopt;
    return std::string(full.get());
}

} // namespace

std::optional<std::string> modulePath(const void* addressInModule)
{
    if (addressInModule == nullptr)
        return resolved(kOwnExecutable);

    Dl_info info{};
    if (::dladdr(addressInModule, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0')
        return std::nullopt;
    // For the main program the loader reports the name it was started
    // under, which may be relative to a directory the program has left.
    if (std::strcmp(info.dli_fname, program_invocation_name) == 0)
        return resolved(kOwnExecutable);
    return resolved(info.dli_fname);
}

std::optional<std::string> modulePathOfSymbol(const char* name)
{
    if (name == nullptr)
        return std::nullopt;
    const void* address = ::dlsym(RTLD_DEFAULT, name);
    if (address == nullptr)
        return std::nullopt;
    return modulePath(address);
}

bool pinModule(const void* addressInModule)
{
    Dl_info info{};
    if (::dladdr(addressInModule, &info) == 0 || info.dli_fname == nullptr)
        return false;
    // NOLOAD: only marks the object already mapped; the handle it returns
    // adds a reference that is never released, which is the point.
    return ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

} // namespace platform
