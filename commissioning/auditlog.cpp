#include "commissioning/auditlog.h"

#include "commissioning/addressfields.h"
#include "commissioning/auditfile.h"
#include "commissioning/utctime.h"
#include "modules/columntexts.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace commissioning {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::uint8_t kDhcpLeftOut = 0xFF;
constexpr unsigned kDottedParts = 4;
constexpr unsigned kDottedPartDigits = 3;
constexpr unsigned kByteMax = 255;
constexpr unsigned kBitsPerByte = 8;

// Member names shared by the writer and the reader.
constexpr const char* kMac = "mac";
constexpr const char* kBefore = "before";
constexpr const char* kResult = "result";

constexpr const char* kDhcp = "dhcp";
constexpr const char* kHostName = "hostname";

std::string fieldText(const char (&field)[QORT_TEXT_FIELD_SIZE])
{
    return std::string(field, ::strnlen(field, QORT_TEXT_FIELD_SIZE));
}

void storeFieldText(char (&field)[QORT_TEXT_FIELD_SIZE], const std::string& text)
{
    std::memset(field, 0, QORT_TEXT_FIELD_SIZE);
    std::memcpy(field, text.data(), std::min(text.size(), std::size_t{QORT_TEXT_FIELD_SIZE - 1}));
}

Json reportedValues(const QORT_ModuleScanResponseType& record)
{
    Json values = Json::object();
    for (const AddressField& member : kAddressFields)
        if (record.*member.valid == kValid)
            values[member.name] = modules::formatDottedAddress(record.*member.value);
    if (record.DhcpValid == kValid && (record.Dhcp == kOn || record.Dhcp == kOff))
        values[kDhcp] = record.Dhcp == kOn;
    if (record.HostNameValid == kValid)
        values[kHostName] = fieldText(record.HostName);
    return values;
}

Json sentValues(const QORT_ConfigureRequestType& request)
{
    Json values = Json::object();
    for (const AddressField& member : kAddressFields)
        if (request.*member.sent != QORT_ADDR_NOT_GIVEN)
            values[member.name] = modules::formatDottedAddress(request.*member.sent);
    if (request.Dhcp == kOn || request.Dhcp == kOff)
        values[kDhcp] = request.Dhcp == kOn;
    values[kHostName] = fieldText(request.HostName);
    return values;
}

// "a.b.c.d", each part 0-255 in decimal without leading zeros, as the scan's
// JSON writes an address; anything else is no address.
std::optional<std::uint32_t> ParseDotted(const Json& value)
{
    if (!value.is_string())
        return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    const char* at = text.data();
    const char* const end = at + text.size();
    std::uint32_t address = 0;
    for (unsigned part = 0; part < kDottedParts; ++part) {
        if (part > 0 && (at == end || *at++ != '.'))
            return std::nullopt;
        unsigned byte = 0;
        const auto [next, error] = std::from_chars(at, end, byte);
        const auto digits = static_cast<unsigned>(next - at);
        if (error != std::errc{} || digits == 0 || digits > kDottedPartDigits || byte > kByteMax
            || (digits > 1 && *at == '0'))
            return std::nullopt;
        address = address << kBitsPerByte | byte;
        at = next;
    }
    if (at != end)
        return std::nullopt;
    return address;
}

QORT_ModuleScanResponseType emptyRecord(const modules::MacAddress& mac)
{
    // As the library leaves fields a module did not name: all bytes 0xFF.
    QORT_ModuleScanResponseType record;
    std::memset(&record, 0xFF, sizeof record);
    record.ProtocolVersionValid = record.FbTypeValid = record.ModuleVersionValid = record.PswdValid = 0;
    record.IpAddrValid = record.SubnetMaskValid = record.GatewayValid = record.Dns1Valid = record.Dns2Valid = 0;
    record.DhcpValid = record.HostNameValid = 0;
    std::copy(mac.begin(), mac.end(), record.MacId);
    record.MacIdValid = kValid;
    return record;
}

// A `before` object back into a record; nothing when a member is of the
// wrong kind, so that undo never writes a value it made up.
std::optional<QORT_ModuleScanResponseType> recordOfValues(const Json& values, const modules::MacAddress& mac)
{
    if (!values.is_object())
        return std::nullopt;
    QORT_ModuleScanResponseType record = emptyRecord(mac);
    for (const AddressField& member : kAddressFields) {
        if (!values.contains(member.name))
            continue;
        const std::optional<std::uint32_t> address = ParseDotted(values[member.name]);
        if (!address)
            return std::nullopt;
        record.*member.value = *address;
        record.*member.valid = kValid;
    }
    if (values.contains(kDhcp)) {
        if (!values[kDhcp].is_boolean())
            return std::nullopt;
        record.Dhcp = values[kDhcp].get<bool>() ? kOn : kOff;
        record.DhcpValid = kValid;
    }
    if (values.contains(kHostName)) {
        if (!values[kHostName].is_string()
            || values[kHostName].get_ref<const std::string&>().size() >= QORT_TEXT_FIELD_SIZE)
            return std::nullopt;
        storeFieldText(record.HostName, values[kHostName].get_ref<const std::string&>());
        record.HostNameValid = kValid;
    }
    return record;
}

constexpr std::size_t kBlockSize = kUndoBlockSize;
// A record is well under a kilobyte; a longer line is none of ours.
constexpr std::size_t kLongestLine = std::size_t{64} * 1024;
constexpr std::size_t kMacTextSize = sizeof "00-30-11-00-00-01" - 1;
constexpr std::string_view kMacMember = R"("mac":")";

// Where bytes of the log come from: the file, or a text already read.
class LogBytes {
public:
    virtual ~LogBytes() = default;
    virtual std::uint64_t size() const = 0;
    virtual bool read(std::uint64_t offset, char* out, std::size_t size) const = 0;
};

class TextBytes final : public LogBytes {
public:
    explicit TextBytes(std::string_view text)
        : text_(text)
    {
    }
    std::uint64_t size() const override { return text_.size(); }
    bool read(std::uint64_t offset, char* out, std::size_t size) const override
    {
        std::memcpy(out, text_.data() + offset, size);
        return true;
    }

private:
    std::string_view text_;
};

class FileBytes final : public LogBytes {
public:
    explicit FileBytes(int fd)
        : fd_(fd)
        , size_(auditfile::fileSize(fd))
    {
    }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, char* out, std::size_t size) const override
    {
        return auditfile::readAt(fd_, offset, out, size);
    }

private:
    int fd_;
    std::uint64_t size_;
};

// The MAC a line names in its "mac" member, found by its text: what a cut
// or damaged line still tells about whose it is.
std::optional<std::string_view> namedMac(std::string_view line)
{
    const std::size_t at = line.find(kMacMember);
    if (at == std::string_view::npos || line.size() < at + kMacMember.size() + kMacTextSize + 1)
        return std::nullopt;
    const std::string_view mac = line.substr(at + kMacMember.size(), kMacTextSize);
    if (line[at + kMacMember.size() + kMacTextSize] != '"' || !modules::parseMacText(mac))
        return std::nullopt;
    return mac;
}

bool isBlank(std::string_view line)
{
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Takes the log's lines newest first and decides which record undo uses.
class UndoDecision {
public:
    explicit UndoDecision(const modules::MacAddress& mac)
        : mac_(mac)
        , macText_(modules::formatMac(mac))
    {
    }
    // False once decided: a record found, or a line that stops undo.
    bool take(std::string_view line, std::uint64_t start)
    {
        // Too long to be a record, and how much of it was kept depends on
        // the blocks: refused whatever it holds.
        if (line.size() > kLongestLine)
            return refuse(start, "is too long to be a record and may hide one of module " + macText_);
        if (isBlank(line))
            return true;
        // A line whose "mac" member names another module is that module's,
        // read or cut: passed over without parsing it, which keeps a long
        // log of other modules quick to read.
        const std::optional<std::string_view> named = namedMac(line);
        if (named && *named != macText_)
            return true;
        const Json record = Json::parse(line.begin(), line.end(), nullptr, false);
        if (record.is_discarded() || !record.is_object() || !record.contains(kMac) || !record[kMac].is_string()) {
            // Any line that names no other module may be this module's
            // `sent` record.
            return refuse(start, "cannot be read and may be a record of module " + macText_);
        }
        if (record[kMac] != macText_)
            return true;
        std::optional<QORT_ModuleScanResponseType> values;
        if (record.contains(kBefore))
            values = recordOfValues(record[kBefore], mac_);
        if (!values || !record.contains(kResult) || !record[kResult].is_string())
            return refuse(start, "a record of module " + macText_ + " whose values cannot be read");
        const std::string& result = record[kResult].get_ref<const std::string&>();
        // Nothing left for these; the `sent` record they close changed nothing either.
        if (result == resultText(WriteResult::Refused) || result == resultText(WriteResult::InvalidPassword)) {
            skipSent_ = true;
            return true;
        }
        if (result == resultText(WriteResult::Sent) && skipSent_) {
            skipSent_ = false;
            return true;
        }
        lookup_.values = values;
        return false;
    }
    UndoLookup& lookup() { return lookup_; }
    std::uint64_t refusedAt() const { return refusedAt_; }

private:
    bool refuse(std::uint64_t start, std::string why)
    {
        refusedAt_ = start;
        lookup_.refusal = std::move(why);
        return false;
    }

    modules::MacAddress mac_;
    std::string macText_;
    bool skipSent_ = false;
    UndoLookup lookup_;
    std::uint64_t refusedAt_ = 0;
};

// Hands decision the lines of bytes from the last to the first, reading
// one block at a time; of a line longer than kLongestLine only its first
// kLongestLine + 1 bytes read are kept (the decision refuses it anyway).
void readLinesBackwards(const LogBytes& bytes, UndoDecision& decision, std::size_t blockSize)
{
    std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, bytes.size())), '\0');
    std::string line; // the newest line not yet handed over, as far as read
    bool lineTooLong = false;
    std::uint64_t end = bytes.size();
    while (end > 0) {
        const std::uint64_t start = end > blockSize ? end - blockSize : 0;
        const auto size = static_cast<std::size_t>(end - start);
        if (!bytes.read(start, block.data(), size)) {
            decision.take("\x01", start); // unreadable bytes: as an unreadable line
            return;
        }
        const std::string_view read(block.data(), size);
        std::size_t lineEnd = size;
        for (std::size_t i = lineEnd == 0 ? std::string_view::npos : read.rfind('\n', lineEnd - 1);
             i != std::string_view::npos; i = i == 0 ? std::string_view::npos : read.rfind('\n', i - 1)) {
            const std::string_view inBlock = read.substr(i + 1, lineEnd - i - 1);
            // A line within the block is read where it lies; only one that
            // goes on into the next block is copied together.
            std::string_view whole = inBlock;
            if (!line.empty() || lineTooLong) {
                if (!lineTooLong)
                    line.insert(0, inBlock);
                whole = line;
            }
            if (!decision.take(whole, start + i + 1))
                return;
            line.clear();
            lineTooLong = false;
            lineEnd = i;
        }
        if (!lineTooLong) {
            line.insert(0, block, 0, lineEnd);
            if (line.size() > kLongestLine) {
                line.resize(kLongestLine + 1);
                lineTooLong = true;
            }
        }
        end = start;
    }
    decision.take(line, 0);
}

// The 1-based number of the line that starts at offset.
std::uint64_t lineNumberAt(const LogBytes& bytes, std::uint64_t offset)
{
    std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, offset)), '\0');
    std::uint64_t newlines = 0;
    for (std::uint64_t at = 0; at < offset; at += kBlockSize) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, offset - at));
        if (!bytes.read(at, block.data(), size))
            break;
        const std::string_view read(block.data(), size);
        newlines += static_cast<std::uint64_t>(std::count(read.begin(), read.end(), '\n'));
    }
    return newlines + 1;
}

UndoLookup lookUp(
    const LogBytes& bytes, const modules::MacAddress& mac, const std::string& name, std::size_t blockSize = kBlockSize)
{
    UndoDecision decision(mac);
    readLinesBackwards(bytes, decision, std::max<std::size_t>(blockSize, 1));
    UndoLookup lookup = std::move(decision.lookup());
    if (lookup.refusal) {
        lookup.refusedLine = lineNumberAt(bytes, decision.refusedAt());
        lookup.refusal = name + ":" + std::to_string(lookup.refusedLine) + ": " + *lookup.refusal
            + "; undo does not go back to older records: repair or remove that line";
    }
    return lookup;
}

// RFC 3339 of when, written over the 20 characters at out: plain
// arithmetic, so that a signal handler may call it. Nothing for a year
// beyond four digits.
void writeUtcTime(std::time_t when, char* out) noexcept
{
    constexpr std::int64_t kSecondsPerDay = 86400;
    constexpr std::int64_t kDaysPer400Years = 146097;
    constexpr std::int64_t kDaysFrom0000To1970 = 719468;
    std::int64_t days = when / kSecondsPerDay;
    std::int64_t seconds = when % kSecondsPerDay;
    if (seconds < 0) {
        seconds += kSecondsPerDay;
        --days;
    }
    // Days to a civil date, with years that start in March.
    const std::int64_t shifted = days + kDaysFrom0000To1970;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - (kDaysPer400Years - 1)) / kDaysPer400Years;
    const std::int64_t dayOfEra = shifted - era * kDaysPer400Years;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 0 || year > 9999)
        return;
    const auto put = [&out](std::size_t at, std::int64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
    };
    put(0, year, 4);
    put(5, month, 2);
    put(8, day, 2);
    put(11, seconds / 3600, 2);
    put(14, seconds / 60 % 60, 2);
    put(17, seconds % 60, 2);
}

// A record's line starts {"time":" (auditLine), then the 20 characters of
// its time.
constexpr std::size_t kTimeOffset = sizeof R"({"time":")" - 1;

// Open writes' states: a write leaves kOpen exactly once, by its outcome or
// by a signal, and that one appends its closing record.
constexpr int kOpen = 0;
constexpr int kClosed = 1;

} // namespace

const char* resultText(WriteResult result)
{
    switch (result) {
    case WriteResult::Verified:
        return "verified";
    case WriteResult::NotVerified:
        return "not-verified";
    case WriteResult::InvalidPassword:
        return "invalid-password";
    case WriteResult::NoAnswer:
        return "no-answer";
    case WriteResult::Refused:
        return "refused";
    case WriteResult::Sent:
        return "sent";
    case WriteResult::Interrupted:
        return "interrupted";
    }
    return "unknown";
}

std::string auditLine(const AuditEntry& entry, std::time_t when, const std::string& user)
{
    modules::MacAddress mac{};
    std::copy(std::begin(entry.sent.MacId), std::end(entry.sent.MacId), mac.begin());
    Json line = Json::object();
    line["time"] = utcTimeText(when);
    line["user"] = user;
    line["program"] = entry.program;
    line[kMac] = modules::formatMac(mac);
    line[kBefore] = reportedValues(entry.before);
    line["after"] = sentValues(entry.sent);
    line[kResult] = resultText(entry.result);
    // Bytes that are not UTF-8 (a host name) become U+FFFD instead of
    // losing the line.
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

UndoLookup findUndo(std::string_view text, const modules::MacAddress& mac, std::size_t blockSize)
{
    return lookUp(TextBytes(text), mac, "line", blockSize);
}

QORT_ConfigureRequestType undoRequest(
    const QORT_ModuleScanResponseType& values, const QORT_ModuleScanResponseType& current)
{
    QORT_ConfigureRequestType request{};
    std::copy(std::begin(values.MacId), std::end(values.MacId), request.MacId);
    for (const AddressField& member : kAddressFields)
        request.*member.sent = values.*member.valid == kValid ? values.*member.value : QORT_ADDR_NOT_GIVEN;
    request.Dhcp = values.DhcpValid == kValid ? values.Dhcp : kDhcpLeftOut;
    if (values.HostNameValid == kValid)
        storeFieldText(request.HostName, fieldText(values.HostName));
    else if (current.HostNameValid == kValid)
        storeFieldText(request.HostName, fieldText(current.HostName));
    return request;
}

std::optional<std::string> AuditLog::append(const AuditEntry& entry) const
{
    return append(std::vector<AuditEntry>{entry});
}

std::optional<std::string> AuditLog::append(const std::vector<AuditEntry>& entries) const
{
    if (entries.empty())
        return std::nullopt;
    if (!file_.is_absolute())
        return auditfile::unplacedReason();
    std::string error;
    const int fd = auditfile::openForAppend(file_, error);
    if (fd < 0)
        return error;
    const std::time_t now = std::time(nullptr);
    const std::string user = auditfile::userName();
    std::string lines;
    for (const AuditEntry& entry : entries)
        lines += auditLine(entry, now, user) + "\n";
    auto failed = auditfile::appendText(fd, lines, file_);
    auditfile::closeFile(fd);
    return failed;
}

UndoLookup AuditLog::findUndo(const modules::MacAddress& mac) const
{
    std::string error;
    const int fd = file_.is_absolute() ? auditfile::openForReading(file_, error) : -1;
    if (fd < 0) {
        UndoLookup lookup;
        if (!error.empty())
            lookup.refusal = error;
        return lookup;
    }
    UndoLookup lookup = lookUp(FileBytes(fd), mac, file_.string());
    auditfile::closeFile(fd);
    return lookup;
}

std::optional<QORT_ModuleScanResponseType> AuditLog::undoValues(const modules::MacAddress& mac) const
{
    UndoLookup lookup = findUndo(mac);
    if (lookup.refusal)
        return std::nullopt;
    return lookup.values;
}

struct WriteJournal::Open {
    AuditEntry entry;            // without passwords
    std::string interruptedLine; // "\n" + its `interrupted` record + "\n", the time written when it is used
    std::atomic<int> state{kOpen};
    Open* older = nullptr;
};

WriteJournal::WriteJournal(AuditLog log)
    : log_(std::move(log))
    , user_(auditfile::userName())
{
}

WriteJournal::~WriteJournal()
{
    for (Open* open = newest_.load(); open != nullptr;) {
        Open* older = open->older;
        delete open;
        open = older;
    }
    if (fd_ >= 0)
        auditfile::closeFile(fd_);
}

std::optional<std::string> WriteJournal::appendLines(const std::string& lines)
{
    if (fd_ < 0) {
        if (!log_.file().is_absolute())
            return auditfile::unplacedReason();
        std::string error;
        fd_ = auditfile::openForAppend(log_.file(), error);
        if (fd_ < 0)
            return error;
    }
    return auditfile::appendText(fd_, lines, log_.file());
}

WriteJournal::Ticket WriteJournal::sent(const AuditEntry& entry, std::optional<std::string>& error)
{
    return sent(std::vector<AuditEntry>{entry}, error).front();
}

std::vector<WriteJournal::Ticket> WriteJournal::sent(
    const std::vector<AuditEntry>& entries, std::optional<std::string>& error)
{
    std::vector<Ticket> tickets;
    std::vector<Open*> opened;
    std::string lines;
    const std::time_t now = std::time(nullptr);
    for (const AuditEntry& entry : entries) {
        auto open = std::make_unique<Open>();
        open->entry = entry;
        std::memset(open->entry.sent.Password, 0, sizeof open->entry.sent.Password);
        std::memset(open->entry.sent.NewPassword, 0, sizeof open->entry.sent.NewPassword);
        open->entry.result = WriteResult::Sent;
        lines += auditLine(open->entry, now, user_) + "\n";
        AuditEntry interrupted = open->entry;
        interrupted.result = WriteResult::Interrupted;
        open->interruptedLine = "\n" + auditLine(interrupted, 0, user_) + "\n";
        opened.push_back(open.release());
    }
    error = appendLines(lines);
    // Open once the `sent` records are on disk; a signal before that finds
    // nothing to close.
    for (Open* open : opened) {
        open->older = newest_.load(std::memory_order_relaxed);
        newest_.store(open, std::memory_order_release);
        tickets.push_back(Ticket(open));
    }
    return tickets;
}

std::optional<std::string> WriteJournal::finish(const Ticket& ticket, WriteResult outcome)
{
    return finish({{ticket, outcome}});
}

std::optional<std::string> WriteJournal::finish(const std::vector<std::pair<Ticket, WriteResult>>& outcomes)
{
    std::string lines;
    std::vector<Open*> closing;
    const std::time_t now = std::time(nullptr);
    for (const auto& [ticket, outcome] : outcomes) {
        Open* open = ticket.open_;
        if (open == nullptr || open->state.load(std::memory_order_acquire) != kOpen)
            continue;
        AuditEntry entry = open->entry;
        entry.result = outcome;
        lines += auditLine(entry, now, user_) + "\n";
        closing.push_back(open);
    }
    if (lines.empty())
        return std::nullopt;
    // Written first, closed after: a signal in between appends
    // `interrupted` as well, which names the same values; never neither.
    auto error = appendLines(lines);
    for (Open* open : closing)
        open->state.store(kClosed, std::memory_order_release);
    return error;
}

void WriteJournal::recordInterrupted() noexcept
{
    // fd_ is set before the first write is published (release, acquire).
    Open* const newest = newest_.load(std::memory_order_acquire);
    if (newest == nullptr || fd_ < 0)
        return;
    const std::time_t now = auditfile::timeNowFromSignal();
    bool appended = false;
    for (Open* open = newest; open != nullptr; open = open->older) {
        int expected = kOpen;
        if (!open->state.compare_exchange_strong(expected, kClosed, std::memory_order_acq_rel))
            continue;
        std::string& line = open->interruptedLine;
        writeUtcTime(now, line.data() + 1 + kTimeOffset);
        auditfile::appendFromSignal(fd_, line.data(), line.size());
        appended = true;
    }
    if (appended)
        auditfile::flushFromSignal(fd_);
}

} // namespace commissioning
