#include "modules/ethernetconfigfields.h"

#include <algorithm>
#include <cstring>

namespace modules {

void storeConfigText(ConfigText& field, std::string_view text)
{
    const std::size_t length = std::min(text.size(), kConfigTextMaxChars);
    std::memset(field, 0, kConfigTextSize);
    std::memcpy(field, text.data(), length);
}

std::string_view configTextView(const ConfigText& field)
{
    return {field, ::strnlen(field, kConfigTextSize)};
}

} // namespace modules
