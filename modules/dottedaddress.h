#ifndef MODULES_DOTTEDADDRESS_H
#define MODULES_DOTTEDADDRESS_H

#include <cstdint>
#include <optional>
#include <string_view>

namespace modules {

// True when text holds only the digits 0-9 and ".", with exactly three ".".
// Group lengths and values are not checked: "..." and "300.1.1.1" pass, so do
// groups of any number of digits.
bool isDottedAddress(std::string_view text);

// Orders two dotted texts by numeric address value: -1, 0 or 1.
// The numbers are read alternately, a1 b1 a2 b2 a3 b3 a4 b4, each like atoi;
// the first one above 255 ends the comparison and makes its own text the
// smaller one. Otherwise each number's low 8 bits build a 32-bit value
// a1.a2.a3.a4, and the values are compared.
// Reads neither text past its end: a text with fewer than three "." simply
// has nothing left to read (its remaining numbers are 0). Neither text needs
// a terminator.
int compareDottedAddresses(std::string_view a, std::string_view b);

// The strict form people type and files hold: "a.b.c.d", four decimal
// numbers of 0..255 with one to three digits each, nothing before or after.
// As a<<24 | b<<16 | c<<8 | d.
std::optional<std::uint32_t> parseDottedAddress(std::string_view text);

} // namespace modules

#endif
