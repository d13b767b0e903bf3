#ifndef VERSIONINFO_CVFXMODULE_H
#define VERSIONINFO_CVFXMODULE_H

#include <string>

class CVFXModule {
public:
    // Fills path with the full path of a loaded module and returns true.
    // process: kept for callers written for processes; only the current
    // process is supported, and the argument takes no part. module: an
    // address inside the module wanted, or null for the program's own
    // executable. On failure path is empty.
    static bool GetModulePath(std::string& path, const void* process = nullptr, const void* module = nullptr);
};

#endif // VERSIONINFO_CVFXMODULE_H
