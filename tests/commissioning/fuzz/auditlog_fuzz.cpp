// libFuzzer target for the audit log's reader: undo reads back, from its
// end, a file that other programs, a full disk or a person may have cut or
// edited. Built and
// run by scripts/fuzz (clang, ASan+UBSan).
#include "commissioning/auditlog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the block size: block edges fall everywhere.
    const std::size_t blockSize = 1 + data[0] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const modules::MacAddress mac = {0x00, 0x30, 0x11, 0x00, 0x00, 0x01};
    const commissioning::UndoLookup lookup = commissioning::findUndo(text, mac, blockSize);
    // The same answer as with the blocks undo reads a file in.
    const commissioning::UndoLookup whole = commissioning::findUndo(text, mac);
    if (whole.refusedLine != lookup.refusedLine || whole.values.has_value() != lookup.values.has_value()
        || (whole.values && std::memcmp(&*whole.values, &*lookup.values, sizeof *whole.values) != 0))
        std::abort();
    // A refusal names a line of the text and never comes with values.
    if (lookup.refusal
        && (lookup.values || lookup.refusedLine == 0
            || lookup.refusedLine > 1 + static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'))))
        std::abort();
    const auto& values = lookup.values;
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
