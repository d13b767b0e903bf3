#include "versioninfo/cvfxmodule.h"

#include "platform/modulepath.h"

bool CVFXModule::GetModulePath(std::string& path, const void* /*process*/, const void* module)
{
    path.clear();
    const auto found = platform::modulePath(module);
    if (!found || found->empty())
        return false;
    path = *found;
    return true;
}
