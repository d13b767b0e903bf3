#ifndef TOOLS_MODULESIM_MACADDRESS_H
#define TOOLS_MODULESIM_MACADDRESS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace modulesim {

// A module's MAC address, six bytes in written order.
struct MacAddress {
    static constexpr std::size_t kSize = 6;
    std::array<std::uint8_t, kSize> bytes{};

    // Strict reading of six groups of one or two hex digits (either case)
    // joined by '-', as the tool writes them in requests. Surrounding
    // spaces are not accepted: the caller trims what its syntax allows.
    static std::optional<MacAddress> parse(std::string_view text);
    // "00-30-11-0A-0B-0C": upper-case, two digits per byte.
    std::string toString() const;

    bool operator==(const MacAddress&) const = default;
};

} // namespace modulesim

#endif
