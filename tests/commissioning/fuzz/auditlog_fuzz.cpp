// libFuzzer target for the audit log's reader: undo reads back a file that
// other programs, a full disk or a person may have cut or edited. Built and
// run by scripts/fuzz (clang, ASan+UBSan).
#include "commissioning/auditlog.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const modules::MacAddress mac = {0x00, 0x30, 0x11, 0x00, 0x00, 0x01};
    const auto values = commissioning::findUndoValues(text, mac);
    if (!values)
        return 0;
    // Undo values name the module asked for and hold a terminated host name.
    if (std::memcmp(values->MacId, mac.data(), mac.size()) != 0 || values->MacIdValid != 1)
        std::abort();
    if (values->HostNameValid == 1 && std::memchr(values->HostName, 0, sizeof values->HostName) == nullptr)
        std::abort();
    const QORT_ConfigureRequestType request = commissioning::undoRequest(*values, *values);
    if (request.Password[0] != '\0' || std::memchr(request.HostName, 0, sizeof request.HostName) == nullptr)
        std::abort();
    return 0;
}
