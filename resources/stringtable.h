#pragma once

#include <string_view>

// The program's string resources. An unknown ID gives an empty text, as a
// failed string load does; callers treat an empty text as "not there".
std::string_view LoadResourceString(int id);
