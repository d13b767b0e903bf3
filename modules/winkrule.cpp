#include "modules/winkrule.h"

#include "protocol/qort.h"

namespace modules {

bool supportsWink(std::uint8_t protocolMajor, std::uint8_t protocolMinor)
{
    return protocolMajor > kFirstWinkMajor || (protocolMajor == kFirstWinkMajor && protocolMinor >= kFirstWinkMinor);
}

bool supportsWink(const QORT_ModuleScanResponseType& module)
{
    return supportsWink(module.ProtocolVersionMajor, module.ProtocolVersionMinor);
}

} // namespace modules
