#include "modules/winkrule.h"

#include "protocol/qort.h"

bool SupportsWink(std::uint8_t protocolMajor, std::uint8_t protocolMinor)
{
    return protocolMajor > kFirstWinkMajor || (protocolMajor == kFirstWinkMajor && protocolMinor >= kFirstWinkMinor);
}

bool SupportsWink(const QORT_ModuleScanResponseType& module)
{
    return SupportsWink(module.ProtocolVersionMajor, module.ProtocolVersionMinor);
}
