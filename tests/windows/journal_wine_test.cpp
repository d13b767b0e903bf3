// The audit log's Windows file code (commissioning/windows/auditfile.cpp)
// under wine: where forUser() puts the log, a record after a cut last line,
// what the writer refuses the reader refuses, records of writers at once.
// What the log holds and how undo reads it is the same code on every
// system and is tested on Linux (tests/commissioning); the command line's
// records of a real write, its undo and Ctrl+C are run-wine-tests' steps.
// SORVINDA_LINKED_FOLDER (set by run-wine-tests): a folder that is a
// symbolic link on the Linux side, which wine shows as a reparse point
// (wine cannot make a Windows link itself: CreateSymbolicLinkW does nothing).
#include "commissioning/auditlog.h"
#include "modules/macaddress.h"
#include "tests/support/auditrefusal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace commissioning;

constexpr std::uint8_t kValidByte = 1;
constexpr std::uint8_t kDhcpLeftOut = 2;
constexpr std::uintmax_t kCutBytes = 30; // a record cut in its last member
constexpr std::uint32_t kBeforeIp = 0x0A00000A;
constexpr std::uint32_t kAfterIp = 0x0A000014;

QORT_ModuleScanResponseType Scanned(std::uint8_t macLast, std::uint32_t ip)
{
    QORT_ModuleScanResponseType record{};
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, 0x00, 0x00, macLast};
    std::copy(std::begin(mac), std::end(mac), record.MacId);
    record.MacIdValid = kValidByte;
    record.IpAddr = ip;
    record.IpAddrValid = kValidByte;
    return record;
}

QORT_ConfigureRequestType Sending(std::uint8_t macLast, std::uint32_t ip, const std::string& hostName)
{
    QORT_ConfigureRequestType request{};
    const QORT_ModuleScanResponseType module = Scanned(macLast, 0);
    std::copy(std::begin(module.MacId), std::end(module.MacId), request.MacId);
    request.IpAddr = ip;
    request.SubnetMask = request.Gateway = request.Dns1 = request.Dns2 = QORT_ADDR_NOT_GIVEN;
    request.Dhcp = kDhcpLeftOut;
    hostName.copy(request.HostName, sizeof request.HostName - 1);
    return request;
}

AuditEntry Write(std::uint8_t macLast, const std::string& hostName, WriteResult result)
{
    return {"sorvinda", Scanned(macLast, kBeforeIp), Sending(macLast, kAfterIp, hostName), result};
}

std::string Text(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The file without its last count bytes, as a full disk or a crash leaves it.
void Cut(const fs::path& file, std::uintmax_t count)
{
    const std::string text = Text(file);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text.substr(0, text.size() - count);
}

class Folder {
public:
    Folder()
        : root_(fs::temp_directory_path() / ("journal-wine-test-" + std::to_string(::GetCurrentProcessId())))
    {
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

// forUser() takes %LOCALAPPDATA%; the folders up to the log are created
// at the first record.
TEST(AuditFile, TheUsersLogIsUnderLocalAppDataWithItsFoldersCreated)
{
    Folder folder;
    const fs::path deep = folder.root() / "Local App Data" / "two levels";
    const struct {
        const char* what;
        std::string localAppData; // empty: unset
        fs::path file;            // empty: no place
    } rows[] = {
        {"missing folders, names with spaces", deep.string(), deep / "sorvinda" / "audit.jsonl"},
        {"unset", "", fs::path()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(::_putenv_s("LOCALAPPDATA", row.localAppData.c_str()), 0);
        const AuditLog log = AuditLog::forUser();
        EXPECT_EQ(log.file(), row.file);
        const std::optional<std::string> error = log.append(Write(1, "plc-2", WriteResult::Verified));
        if (row.file.empty()) {
            ASSERT_TRUE(error.has_value());
            EXPECT_NE(error->find("LOCALAPPDATA is not set"), std::string::npos) << *error;
            continue;
        }
        ASSERT_EQ(error, std::nullopt);
        const std::vector<std::string> lines = Lines(Text(row.file));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(nlohmann::json::parse(lines[0])["result"], "verified");
        EXPECT_EQ(Text(row.file).back(), '\n');
    }
}

// A cut last line never swallows the next record, by every way a record
// is written: a single record, the journal's `sent`, and `interrupted` from
// the console control handler's thread.
TEST(AuditFile, ARecordAfterACutLineStartsOnItsOwnLine)
{
    Folder folder;
    const fs::path file = folder.root() / "sorvinda" / "audit.jsonl";
    const AuditLog log(file);
    const struct {
        const char* what;
        std::function<void(WriteJournal&)> first; // the record that gets cut
        std::function<void(WriteJournal&)> next;
        const char* nextResult;
    } rows[] = {
        {"AuditLog::append",
            [&](WriteJournal&) { ASSERT_EQ(log.append(Write(1, "a", WriteResult::Verified)), std::nullopt); },
            [&](WriteJournal&) { EXPECT_EQ(log.append(Write(2, "b", WriteResult::Refused)), std::nullopt); },
            "refused"},
        {"WriteJournal::sent",
            [&](WriteJournal&) { ASSERT_EQ(log.append(Write(1, "a", WriteResult::Verified)), std::nullopt); },
            [&](WriteJournal& journal) {
                std::optional<std::string> error;
                journal.sent(Write(2, "b", WriteResult::Sent), error);
                EXPECT_EQ(error, std::nullopt);
            },
            "sent"},
        {"WriteJournal::recordInterrupted, on another thread",
            [&](WriteJournal& journal) {
                std::optional<std::string> error;
                journal.sent(Write(2, "b", WriteResult::Sent), error);
                ASSERT_EQ(error, std::nullopt);
            },
            [&](WriteJournal& journal) { std::thread([&] { journal.recordInterrupted(); }).join(); }, "interrupted"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(file.parent_path());
        WriteJournal journal(log);
        row.first(journal);
        const std::string whole = Text(file);
        Cut(file, kCutBytes);
        row.next(journal);
        const std::string text = Text(file);
        const std::vector<std::string> lines = Lines(text);
        ASSERT_EQ(lines.size(), 2u) << text;
        EXPECT_EQ(lines[0], whole.substr(0, whole.size() - kCutBytes));
        EXPECT_EQ(nlohmann::json::parse(lines[1])["result"], row.nextResult) << text;
        EXPECT_EQ(text.back(), '\n');
        // The cut line is the newest that may be module 2's: undo refuses at it.
        if (std::string(row.nextResult) != "interrupted")
            continue;
        Cut(file, kCutBytes);
        const UndoLookup lookup = log.findUndo(modules::macOfRecord(Scanned(2, 0)));
        EXPECT_TRUE(lookup.refusal.has_value());
        EXPECT_EQ(lookup.refusedLine, 2u);
    }
}

// What the writer refuses, the reader refuses, with the same reason; the
// file a link leads to is left alone.
TEST(AuditFile, WriterAndReaderRefuseTheSameFiles)
{
    Folder folder;
    const std::string record = R"({"mac":"00-30-11-00-00-01","before":{"ip":"10.0.0.7"},"result":"verified"})"
                               "\n";
    const fs::path plain = folder.root() / "sorvinda" / "audit.jsonl";
    const char* linked = std::getenv("SORVINDA_LINKED_FOLDER");
    const struct {
        const char* what;
        fs::path file;
        std::function<void()> plant;
        const char* refusal; // in both sentences; empty: accepted
    } rows[] = {
        {"a plain file", plain,
            [&] {
                fs::create_directories(plain.parent_path());
                std::ofstream(plain, std::ios::binary) << record;
            },
            ""},
        {"a folder in place of the file", plain, [&] { fs::create_directories(plain); }, "is not a regular file"},
        {"a file in place of the folder", plain,
            [&] { std::ofstream(plain.parent_path(), std::ios::binary) << record; }, "is no folder"},
        {"a symbolic link as the folder", fs::path(linked == nullptr ? "" : linked) / "audit.jsonl", [] {},
            "is a symbolic link"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NE(row.file.parent_path(), fs::path()) << "SORVINDA_LINKED_FOLDER is not set (run-wine-tests sets it)";
        fs::remove_all(plain.parent_path());
        row.plant();
        const std::string before = Text(row.file);
        const AuditLog log(row.file);
        const UndoLookup lookup = log.findUndo(modules::macOfRecord(Scanned(1, 0)));
        const std::optional<std::string> written = log.append(Write(1, "plc-2", WriteResult::Sent));
        testsupport::ExpectReaderAndWriterAgree(lookup, written, row.refusal);
        if (*row.refusal == '\0' || !lookup.refusal || !written)
            continue;
        EXPECT_EQ(Text(row.file), before) << "the file is left as it was";
    }
}

// Programs writing at once (here threads, each opening the log for its
// record as a program does) lose no record and interleave none.
TEST(AuditFile, RecordsOfWritersAtOnceStayWhole)
{
    constexpr int kWriters = 4;
    constexpr int kRecordsEach = 100;
    Folder folder;
    const AuditLog log(folder.root() / "sorvinda" / "audit.jsonl");
    std::vector<std::thread> writers;
    std::vector<int> failures(kWriters, 0);
    for (int writer = 0; writer < kWriters; ++writer)
        writers.emplace_back([&, writer] {
            for (int i = 0; i < kRecordsEach; ++i)
                if (log.append(Write(static_cast<std::uint8_t>(writer), "w" + std::to_string(i), WriteResult::Sent)))
                    ++failures[static_cast<std::size_t>(writer)];
        });
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(std::count(failures.begin(), failures.end(), 0), kWriters);
    const std::vector<std::string> lines = Lines(Text(log.file()));
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kWriters * kRecordsEach));
    std::size_t whole = 0;
    for (const std::string& line : lines)
        whole += nlohmann::json::accept(line) ? 1 : 0;
    EXPECT_EQ(whole, lines.size());
}

} // namespace
