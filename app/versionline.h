#pragma once

#include <string>
#include <string_view>

constexpr std::string_view kVersionLinePrefix = "Version: ";

// The About box's line from a product version text such as "1, 3, 1, 0":
// every space is removed (also inside words), then the prefix is added, then
// every comma becomes a full stop - giving "Version: 1.3.1.0". The prefix's
// own space stays because the spaces go before it is added.
std::string FormatVersionLine(std::string_view productVersion);
