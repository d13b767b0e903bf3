#pragma once

#include <cstdint>

struct QORT_ModuleScanResponseType;

namespace modules {

// Modules understand the wink request from protocol version 1.10 on. Both
// numbers are compared as unsigned bytes.
constexpr std::uint8_t kFirstWinkMajor = 1;
constexpr std::uint8_t kFirstWinkMinor = 10;

bool supportsWink(std::uint8_t protocolMajor, std::uint8_t protocolMinor);

// The record's Valid byte is deliberately not consulted: a reply without a
// protocol version leaves both bytes 0xFF, and such a module is sent the
// wink. The module version shown in the list plays no part.
bool supportsWink(const QORT_ModuleScanResponseType& module);

} // namespace modules
