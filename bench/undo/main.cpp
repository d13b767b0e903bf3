// bench_undo [MEGABYTES] [FOLDER]: writes an audit log of MEGABYTES
// (default 200) of records of many modules under FOLDER (default /tmp),
// then times undo's lookup of one module, each in a child process so that
// its peak resident memory is its own:
//   newest   the module's last record is the log's last line (undo right
//            after a change),
//   oldest   its only record is the log's first line (the whole log read
//            back to front),
// each with the file in the page cache (warm) and dropped from it (cold).
// Opens no socket and loads no libqort.
#include "commissioning/auditlog.h"
#include "modules/macaddress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kBytesPerMegabyte = 1024 * 1024;
constexpr std::uint64_t kDefaultMegabytes = 200;
constexpr int kModules = 5000;
constexpr std::size_t kWriteChunk = 1 << 20;

std::string Record(unsigned module, const char* result)
{
    char line[512];
    std::snprintf(line, sizeof line,
        R"({"time":"2026-12-07T21:00:00Z","user":"tech","program":"sorvinda","mac":"00-30-11-00-%02X-%02X",)"
        R"("before":{"ip":"192.168.%u.%u","mask":"255.255.0.0","gateway":"0.0.0.0","dns1":"0.0.0.0",)"
        R"("dns2":"0.0.0.0","dhcp":false,"hostname":"module-%06u"},"after":{"ip":"192.168.20.%u","mask":)"
        R"("255.255.0.0","dhcp":false,"hostname":"m%u"},"result":"%s"})"
        "\n",
        (module >> 8) & 0xFF, module & 0xFF, 10 + module / 250, module % 250 + 1, module, module % 250 + 1, module,
        result);
    return line;
}

// The log: the target module (number 0) first or last, everything else
// modules 1..kModules in turn, a `sent` and a `verified` record per write.
// The number of lines written.
std::uint64_t WriteLog(const std::filesystem::path& file, std::uint64_t bytes, bool targetLast)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string chunk;
    std::uint64_t written = 0, lines = 0;
    const auto flush = [&] {
        lines += static_cast<std::uint64_t>(std::count(chunk.begin(), chunk.end(), '\n'));
        if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
            std::exit(1);
        written += chunk.size();
        chunk.clear();
    };
    if (!targetLast)
        chunk += Record(0, "sent") + Record(0, "verified");
    for (unsigned n = 0; written + chunk.size() < bytes; ++n) {
        const unsigned module = 1 + n % kModules;
        chunk += Record(module, "sent") + Record(module, "verified");
        if (chunk.size() >= kWriteChunk)
            flush();
    }
    if (targetLast)
        chunk += Record(0, "sent") + Record(0, "verified");
    flush();
    ::fsync(fd);
    ::close(fd);
    return lines;
}

void DropFromCache(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// One lookup in a child: wall time, the child's CPU time (user and system:
// what the lookup costs when other programs share the cores) and its peak
// resident memory.
void Measure(const char* name, const commissioning::AuditLog& log, bool lookUp = true)
{
    const modules::MacAddress target = {0x00, 0x30, 0x11, 0x00, 0x00, 0x00};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!lookUp)
            ::_exit(0);
        const commissioning::UndoLookup lookup = log.findUndo(target);
        ::_exit(lookup.values && !lookup.refusal ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const auto cpuMs = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    std::printf("%-14s %9.1f ms (CPU %7.1f ms)  peak resident %6ld KiB  %s\n", name, ms,
        cpuMs(usage.ru_utime) + cpuMs(usage.ru_stime), usage.ru_maxrss,
        !lookUp                                             ? "(no lookup: what a child of this program starts with)"
            : WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "found"
                                                            : "NOT FOUND");
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : kDefaultMegabytes;
    const std::filesystem::path folder = argc > 2 ? argv[2] : "/tmp";
    const std::filesystem::path file = folder / ("bench-undo-" + std::to_string(::getpid()) + ".jsonl");
    const commissioning::AuditLog log(file);
    Measure("baseline", log, false);
    for (const bool targetLast : {true, false}) {
        const std::uint64_t lines = WriteLog(file, megabytes * kBytesPerMegabyte, targetLast);
        std::printf("log of %.1f MB, %llu lines, the module's record %s\n",
            static_cast<double>(std::filesystem::file_size(file)) / kBytesPerMegabyte,
            static_cast<unsigned long long>(lines), targetLast ? "last (newest)" : "first (oldest)");
        Measure("warm", log);
        DropFromCache(file);
        Measure("cold", log);
    }
    std::filesystem::remove(file);
    return 0;
}
