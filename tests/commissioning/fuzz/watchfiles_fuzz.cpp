// libFuzzer target for the files the watch and diff read back: a saved scan
// list (diff) and the watch's state file, which a person, a full disk or
// another program may have cut or edited. Built and run by scripts/fuzz
// (clang, ASan+UBSan).
#include "commissioning/scanview.h"
#include "commissioning/watch.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    commissioning::WatchTracker tracker(2);
    const nlohmann::ordered_json state = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!state.is_discarded() && tracker.restore(state, error)) {
        // A state read back is written again as it was read.
        commissioning::WatchTracker again(2);
        if (!again.restore(tracker.state(), error) || again.state() != tracker.state())
            std::abort();
    }
    const auto view = commissioning::readScanView(text, error);
    if (!view)
        return 0;
    std::vector<nlohmann::ordered_json> scan;
    for (const auto& [mac, module] : *view) {
        if (!commissioning::isMacText(mac))
            std::abort();
        scan.push_back(module);
    }
    // Every module of a scan is known afterwards, each event is one line.
    for (const commissioning::WatchEvent& event : tracker.take(scan, "site", "time"))
        if (event.line().find('\n') != std::string::npos)
            std::abort();
    for (const auto& module : tracker.modules())
        if (view->count(module.mac) != 0 && !module.up)
            std::abort();
    return 0;
}
