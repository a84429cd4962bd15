// SPDX-License-Identifier: GPL-3.0-or-later
// Measures loading, formatting and saving a hosts file the way the program
// does at start-up and on SAVE/CLOSE.
//
//   hostsbench [FILE] [--lines N] [--out OUTFILE]
//
// Without FILE it generates an ad-blocking style hosts file of N lines
// (200,000 unless told).
// Prints the times beside their floors (reading the file's bytes; writing
// them, syncing and reading them back), the minor page faults of one run of
// each, and the resident memory per entry; every time is the median of
// several runs.
#include "fileread.h"
#include "filesave.h"
#include "generatedhosts.h"
#include "hostsparser.h"
#include "hostsformatter.h"
#include "largememory.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 7;

// The run's own folder: the generated input, the saved output unless told
// otherwise, and the floors' files. Removed at the end, also on failure.
std::filesystem::path scratch;

void fail(const std::string& message)
{
    std::cerr << "hostsbench: " << message << '\n';
    if (!scratch.empty())
        std::filesystem::remove_all(scratch);
    std::exit(1);
}

long minorFaults()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// The least that reading the file can cost: its bytes read into memory of
// their own, as a program that holds them must, taken as the program takes
// its large memory (on huge pages where it can).
void readFloor(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::size_t>(in.tellg());
    in.seekg(0);
    void* bytes = largememory::allocateLarge(size);
    if (!in.read(static_cast<char*>(bytes), static_cast<std::streamsize>(size)))
        fail("cannot read " + path);
    largememory::releaseLarge(bytes, size);
}

// What `wc -l` does: the file's bytes scanned for line ends through one
// small buffer, from the page cache. No program that keeps the entries can
// beat it; the targets are set as multiples of it.
std::size_t scanFloor(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open " + path);
    static char buffer[128 * 1024];
    std::size_t lines = 0;
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        for (const char* at = buffer; (at = static_cast<const char*>(std::memchr(at, '\n', buffer + got - at))); ++at)
            ++lines;
    ::close(fd);
    return lines;
}

// The least that saving the bytes safely can cost: written to a new file,
// synced, and read back and compared.
void writeFloor(const std::string& path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::string_view left = bytes;
    while (!left.empty()) {
        const ssize_t written = ::write(fd, left.data(), left.size());
        if (written <= 0)
            fail("cannot write " + path);
        left.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        fail("cannot sync " + path);
    const int back = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[1 << 16];
    std::string_view expected = bytes;
    for (ssize_t got; (got = ::read(back, buffer, sizeof buffer)) > 0;) {
        if (!expected.starts_with(std::string_view(buffer, static_cast<std::size_t>(got))))
            fail("read back differs");
        expected.remove_prefix(static_cast<std::size_t>(got));
    }
    ::close(back);
    if (!expected.empty())
        fail("read back is short");
}

std::size_t residentBytes()
{
    std::size_t pages = 0;
    std::size_t resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%zu %zu", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

} // namespace

int main(int argc, char** argv)
{
    std::string input;
    std::string output;
    int lines = 200000;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--out" && i + 1 < argc)
            output = argv[++i];
        else if (argument == "--lines" && i + 1 < argc)
            lines = std::max(1, std::atoi(argv[++i]));
        else if (input.empty() && !argument.starts_with("--"))
            input = argument;
        else
            fail("usage: hostsbench [FILE] [--lines N] [--out OUTFILE]");
    }

    scratch = std::filesystem::temp_directory_path() / ("hostsbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    if (input.empty()) {
        input = (scratch / "generated.hosts").string();
        std::ofstream(input, std::ios::binary) << generatedHostsFile(lines);
    }
    const bool keepOutput = !output.empty();
    if (!keepOutput)
        output = (scratch / "saved.hosts").string();

    // Each reading is freed before the next, outside the timing, as a new
    // process starts on memory that earlier ones gave back. Keeping them all
    // would time how a virtual machine's host backs memory never used before.
    // Read the program's way first, which refuses what is not a regular file:
    // the floor's plain read of a FIFO would wait for a writer for ever.
    {
        HostCollection first;
        std::string header;
        const fileaccess::HostsFileReading reading = fileaccess::readHostsFile(input, first, header);
        if (reading.status != fileaccess::ReadStatus::Complete)
            fail("cannot read " + input + ": " + (reading.reason.empty() ? "no such file" : reading.reason));
    }

    fileaccess::HostsFileReading report;
    std::unique_ptr<HostCollection> loaded;
    std::size_t scannedLines = 0;
    const double scanFloorMs = medianMilliseconds(kRuns, [&] { scannedLines = scanFloor(input); });
    long readFaults = 0;
    const double readFloorMs = medianMilliseconds(kRuns, [&] {
        const long faultsBefore = minorFaults();
        readFloor(input);
        readFaults = minorFaults() - faultsBefore;
    });
    long loadFaults = 0;
    const double loadMs = medianMilliseconds(
        kRuns,
        [&] {
            const long faultsBefore = minorFaults();
            loaded = std::make_unique<HostCollection>();
            std::string header;
            report = fileaccess::readHostsFile(input, *loaded, header);
            loadFaults = minorFaults() - faultsBefore;
        },
        [&] { loaded.reset(); });

    // Resident memory, not the heap's count: room reserved and never touched
    // costs nothing, and large blocks come from mmap, outside the heap.
    const std::size_t residentBefore = residentBytes();
    auto hosts = std::make_unique<HostCollection>();
    std::string header;
    fileaccess::readHostsFile(input, *hosts, header);
    const std::size_t residentAfter = residentBytes();
    const std::size_t entries = hosts->size();

    std::size_t formattedBytes = 0;
    long formatFaults = 0;
    const double formatMs = medianMilliseconds(kRuns, [&] {
        const long faultsBefore = minorFaults();
        formattedBytes += formatHostsFile(header, *hosts).size();
        formatFaults = minorFaults() - faultsBefore;
    });
    if (formattedBytes == 0)
        fail("nothing formatted");

    long saveFaults = 0;
    const double saveMs = medianMilliseconds(kRuns, [&] {
        const long faultsBefore = minorFaults();
        // As SAVE/CLOSE saves: formatted piece by piece as it is written.
        const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(
            output,
            [&](const std::function<void(std::string_view)>& write) { formatHostsFile(header, *hosts, write); });
        saveFaults = minorFaults() - faultsBefore;
        if (!outcome.saved)
            fail("cannot save " + output + ": " + outcome.reason);
    });
    const std::string saved = formatHostsFile(header, *hosts);
    const double writeFloorMs = medianMilliseconds(kRuns,
                                                   [&] { writeFloor((scratch / "floor.hosts").string(), saved); });

    std::filesystem::remove_all(scratch);
    std::printf("scan_floor_ms=%.2f (as wc -l: %zu lines) read_floor_ms=%.2f read_faults=%ld\n"
                "load_ms=%.2f load_ratio=%.2f load_scan_ratio=%.2f load_faults=%ld\n"
                "save_ms=%.2f write_floor_ms=%.2f save_ratio=%.2f save_faults=%ld (format and save; format alone "
                "%.2f ms)\n"
                "format_ms=%.2f format_scan_ratio=%.2f format_faults=%ld\n"
                "entries=%zu duplicates=%zu bytes_per_entry=%.1f\n",
                scanFloorMs, scannedLines, readFloorMs, readFaults, loadMs, loadMs / readFloorMs, loadMs / scanFloorMs,
                loadFaults, saveMs, writeFloorMs, saveMs / writeFloorMs, saveFaults, formatMs, formatMs,
                formatMs / scanFloorMs, formatFaults, entries, report.stats.duplicates,
                entries ? double(residentAfter - residentBefore) / double(entries) : 0.0);
    return 0;
}
