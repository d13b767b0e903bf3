#include "modules/lostreplies.h"

namespace modules {

std::string lostRepliesText(std::uint32_t lost)
{
    if (lost == 0) {
        return {};
    }
    const std::string subject = lost == 1 ? "1 reply was" : std::to_string(lost) + " replies were";
    return subject + " lost: the computer was too busy or its receive buffer too small; scan again, or see README";
}

} // namespace modules
