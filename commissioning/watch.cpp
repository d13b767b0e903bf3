#include "commissioning/watch.h"

namespace commissioning {
namespace {

using Json = nlohmann::ordered_json;

} // namespace

std::string WatchEvent::line() const
{
    const Json object{{"time", time}, {"site", site}, {"event", event}, {"mac", mac}, {"before", before}, {"after", after}};
    // Bytes that are not UTF-8 (a module's host name) become U+FFFD instead
    // of ending the watch.
    return object.dump(-1, ' ', true, Json::error_handler_t::replace);
}

} // namespace commissioning
