#ifndef CLI_ARGUMENTS_H
#define CLI_ARGUMENTS_H

#include "modules/macaddress.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace cli {

// "a.b.c.d": four decimal numbers of 0..255 with one to three digits each,
// nothing before or after. As a<<24 | b<<16 | c<<8 | d.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

// Six two-digit hexadecimal numbers joined by '-' or ':', any case:
// 00-30-11-0A-BC-0F or 00:30:11:0a:bc:0f.
std::optional<modules::MacAddress> ParseMac(std::string_view text);

} // namespace cli

#endif
