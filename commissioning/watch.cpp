#include "commissioning/watch.h"

#include "commissioning/scanview.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#endif

namespace commissioning {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kModulesName = "modules";
constexpr const char* kRecordName = "record";
constexpr const char* kMissedName = "missed";
// More missed scans than any --missing-after: a count read back stays an int.
constexpr std::int64_t kMaxMissed = std::int64_t{1} << 30;

constexpr const char* kIpName = "ip";
constexpr const char* kNoAddress = "0.0.0.0"; // a module without an address yet shares nothing

// The module's IP as its record writes it; empty when it has none.
std::string AddressOf(const Json& record)
{
    const auto ip = record.find(kIpName);
    if (ip == record.end() || !ip->is_string() || *ip == kNoAddress)
        return {};
    return ip->get<std::string>();
}

#ifndef _WIN32
std::string Failed(const std::string& what, const std::filesystem::path& file)
{
    return what + " " + file.string() + ": " + std::generic_category().message(errno);
}

bool WriteAll(int descriptor, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(descriptor, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}
#endif

} // namespace

std::string WatchEvent::line() const
{
    const Json object{
        {"time", time}, {"site", site}, {"event", event}, {"mac", mac}, {"before", before}, {"after", after}};
    // Bytes that are not UTF-8 (a module's host name) become U+FFFD instead
    // of ending the watch.
    return object.dump(-1, ' ', true, Json::error_handler_t::replace);
}

WatchTracker::WatchTracker(int missingAfter)
    : missingAfter_(std::max(missingAfter, 1))
{
}

std::vector<WatchEvent> WatchTracker::take(
    const std::vector<Json>& scan, const std::string& site, const std::string& time)
{
    std::map<std::string, const Json*> answered;
    for (const Json& record : scan) {
        const auto mac = record.find(kMacName);
        if (mac != record.end() && mac->is_string() && isMacText(mac->get_ref<const std::string&>()))
            answered.emplace(mac->get<std::string>(), &record);
    }
    std::vector<WatchEvent> events;
    const auto add = [&](const char* event, const std::string& mac, const Json& before, const Json& after) {
        events.push_back({time, site, event, mac, before, after});
    };
    // The known set after this scan first: sharing is judged on it.
    std::map<std::string, Json> before; // the earlier record of each module that answered
    std::vector<std::pair<std::string, Json>> missing;
    for (const auto& [mac, record] : answered) {
        Known& module = known_[mac];
        if (!module.record.is_null())
            before.emplace(mac, module.record);
        module.record = *record;
        module.missed = 0;
    }
    for (auto module = known_.begin(); module != known_.end();) {
        if (answered.count(module->first) != 0 || ++module->second.missed < missingAfter_) {
            ++module;
            continue;
        }
        missing.emplace_back(module->first, std::move(module->second.record));
        module = known_.erase(module);
    }
    const std::vector<std::string> sharing = updateSharing();

    for (const auto& [mac, module] : known_) {
        const auto earlier = before.find(mac);
        const bool answeredNow = answered.count(mac) != 0;
        if (answeredNow) {
            if (earlier == before.end())
                add(kEventNew, mac, nullptr, module.record);
            else if (!changedFields(earlier->second, module.record).empty())
                add(kEventChanged, mac, earlier->second, module.record);
        }
        if (std::find(sharing.begin(), sharing.end(), mac) != sharing.end())
            // A silent module that a newcomer now shares with: its last answer on both sides.
            add(kEventDuplicateIp, mac,
                !answeredNow ? module.record : (earlier != before.end() ? earlier->second : Json(nullptr)),
                module.record);
    }
    for (const auto& [mac, record] : missing)
        add(kEventMissing, mac, record, nullptr);
    return events;
}

std::vector<std::string> WatchTracker::updateSharing()
{
    std::map<std::string, int> holders; // IP -> known modules with it
    for (const auto& [mac, module] : known_)
        if (const std::string ip = AddressOf(module.record); !ip.empty())
            ++holders[ip];
    std::vector<std::string> began;
    for (auto& [mac, module] : known_) {
        const std::string ip = AddressOf(module.record);
        const bool shares = !ip.empty() && holders[ip] > 1;
        if (shares && !module.sharing)
            began.push_back(mac);
        module.sharing = shares;
    }
    return began;
}

std::vector<WatchedModule> WatchTracker::modules() const
{
    std::vector<WatchedModule> list;
    list.reserve(known_.size());
    for (const auto& [mac, module] : known_)
        list.push_back({mac, module.record, module.missed == 0});
    return list;
}

Json WatchTracker::state() const
{
    Json list = Json::array();
    for (const auto& [mac, module] : known_)
        list.push_back({{kMacName, mac}, {kRecordName, module.record}, {kMissedName, module.missed}});
    return {{kModulesName, std::move(list)}};
}

bool WatchTracker::restore(const Json& state, std::string& error)
{
    known_.clear();
    if (!state.is_object() || !state.contains(kModulesName) || !state[kModulesName].is_array()) {
        error = "no list of modules";
        return false;
    }
    for (const Json& entry : state[kModulesName]) {
        const bool valid = entry.is_object() && entry.contains(kMacName) && entry[kMacName].is_string()
            && isMacText(entry[kMacName].get_ref<const std::string&>()) && entry.contains(kRecordName)
            && entry[kRecordName].is_object() && entry.contains(kMissedName) && entry[kMissedName].is_number_integer()
            && entry[kMissedName].get<std::int64_t>() >= 0 && entry[kMissedName].get<std::int64_t>() < kMaxMissed;
        if (!valid) {
            known_.clear();
            error = "an entry is not a module";
            return false;
        }
        known_[entry[kMacName].get<std::string>()] =
            Known{entry[kRecordName], static_cast<int>(entry[kMissedName].get<std::int64_t>()), false};
    }
    // Sharing that was reported before the restart is not news after it.
    updateSharing();
    return true;
}

#ifndef _WIN32
std::optional<std::string> appendWholeLine(int descriptor, const std::string& line)
{
    const off_t start = ::lseek(descriptor, 0, SEEK_END);
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t count = ::write(descriptor, line.data() + written, line.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            const std::string reason =
                count < 0 ? std::generic_category().message(errno) : std::string("nothing was written");
            if (start >= 0 && written > 0 && ::ftruncate(descriptor, start) != 0)
                return reason + "; the torn line could not be cut off: " + std::generic_category().message(errno);
            return reason;
        }
        written += static_cast<std::size_t>(count);
    }
    return std::nullopt;
}

std::optional<std::string> replaceFileAtomically(const std::filesystem::path& file, const std::string& text)
{
    std::filesystem::path temporary = file;
    temporary += ".new";
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return Failed("cannot create", temporary);
    const bool written = WriteAll(descriptor, text) && ::fsync(descriptor) == 0;
    const std::string writeError = written ? std::string() : Failed("cannot write", temporary);
    if (::close(descriptor) != 0 && written)
        return Failed("cannot write", temporary);
    if (!written) {
        ::unlink(temporary.c_str());
        return writeError;
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const std::string renameError = Failed("cannot replace", file);
        ::unlink(temporary.c_str());
        return renameError;
    }
    // The rename itself is durable only once the folder is synced.
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor < 0)
        return Failed("cannot sync", folder);
    const bool synced = ::fsync(folderDescriptor) == 0;
    const std::string syncError = synced ? std::string() : Failed("cannot sync", folder);
    ::close(folderDescriptor);
    return synced ? std::nullopt : std::optional<std::string>(syncError);
}
#endif

} // namespace commissioning
