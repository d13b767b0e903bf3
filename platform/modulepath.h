#ifndef PLATFORM_MODULEPATH_H
#define PLATFORM_MODULEPATH_H

#include <optional>
#include <string>

namespace platform {

// Full path of a loaded module. addressInModule null: the program's own
// executable (/proc/self/exe; on Windows GetModuleFileNameW). Otherwise the shared object (or executable)
// that the dynamic loader mapped that address from, as dladdr reports it,
// made absolute and free of symbolic links. nullopt when the loader knows no
// module at that address or the path cannot be resolved. Paths are not cut
// to any fixed length: a cut path would name another file.
std::optional<std::string> modulePath(const void* addressInModule = nullptr);

// Full path of the loaded module that defines the global symbol name, as the
// dynamic loader resolves it for the program (dlsym with RTLD_DEFAULT, then
// dladdr). nullopt when no loaded module defines it.
std::optional<std::string> modulePathOfSymbol(const char* name);

// Keeps the module that contains addressInModule loaded until the process
// ends: a later unload request (dlclose, FreeLibrary) only releases its
// handle. For a library whose own thread may be running its code when the
// program asks to unload it. False when the loader knows no such module.
// POSIX: dlopen with RTLD_NODELETE; Windows: GetModuleHandleExW with
// GET_MODULE_HANDLE_EX_FLAG_PIN.
bool pinModule(const void* addressInModule);

} // namespace platform

#endif // PLATFORM_MODULEPATH_H
