// libFuzzer target for what the metrics endpoint reads from outside: the
// web configuration file (YAML, written by a person) and a request's
// Authorization header (sent by anyone who reaches the port). Built and
// run by scripts/fuzz (clang, ASan+UBSan).
#include "reporting/basicauth.h"
#include "reporting/webconfig.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<reporting::WebConfig> config = reporting::parseWebConfig(text, "/etc/sorvinda", error);
    // Either a configuration or a reason, never both or neither.
    if (config.has_value() == !error.empty())
        std::abort();
    if (const auto login = reporting::parseBasicAuthorization(text))
        if (login->user.find(':') != std::string::npos)
            std::abort(); // the name ends at the first colon
    return 0;
}
