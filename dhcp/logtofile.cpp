#include "dhcp/logtofile.h"

#include <cstdarg>
#include <cstdio>

bool LogToFile(const char* path, const char* format, ...)
{
    char line[kLogToFileLineSize];
    va_list values;
    va_start(values, format);
    // A trace line longer than the buffer is cut, which is all a trace needs.
    static_cast<void>(std::vsnprintf(line, sizeof line, format, values));
    va_end(values);

    std::FILE* file = std::fopen(path, "a");
    if (file == nullptr)
        return false;
    const bool written = std::fprintf(file, "%s", line) >= 0;
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}
