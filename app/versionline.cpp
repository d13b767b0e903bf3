#include "app/versionline.h"

#include <algorithm>

std::string FormatVersionLine(std::string_view productVersion)
{
    std::string version(productVersion);
    std::erase(version, ' ');
    std::string line = std::string(kVersionLinePrefix) + version;
    std::replace(line.begin(), line.end(), ',', '.');
    return line;
}
