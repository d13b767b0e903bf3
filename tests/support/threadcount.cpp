#include "tests/support/threadcount.h"

#include <dirent.h>

namespace testsupport {

std::size_t threadCount()
{
    std::size_t count = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr)
        return 0;
    while (const dirent* entry = ::readdir(tasks))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(tasks);
    return count;
}

} // namespace testsupport
