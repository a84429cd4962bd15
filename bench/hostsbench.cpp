// SPDX-License-Identifier: GPL-3.0-or-later
// Measures loading, formatting and saving a hosts file the way the program
// does at start-up and on SAVE/CLOSE.
//
//   hostsbench [FILE] [--lines N] [--out OUTFILE]
//
// Without FILE it generates an ad-blocking style hosts file of N lines
// (200,000 unless told).
// Prints one line; every time is the median of several runs.
#include "fileread.h"
#include "filesave.h"
#include "generatedhosts.h"
#include "hostsreader.h"
#include "hostswriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 7;

void fail(const std::string& message)
{
    std::cerr << "hostsbench: " << message << '\n';
    std::exit(1);
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

    const auto scratch = std::filesystem::temp_directory_path() / ("hostsbench-" + std::to_string(::getpid()));
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
    fileaccess::ReadReport report;
    std::unique_ptr<HostCollection> loaded;
    const double loadMs = medianMilliseconds(
        kRuns,
        [&] {
            loaded = std::make_unique<HostCollection>();
            std::string header;
            report = fileaccess::readHostsFile(input, *loaded, header);
        },
        [&] { loaded.reset(); });
    if (report.status != fileaccess::ReadStatus::Complete)
        fail("cannot read " + input + ": " + report.reason);

    // Resident memory, not the heap's count: room reserved and never touched
    // costs nothing, and large blocks come from mmap, outside the heap.
    const std::size_t residentBefore = residentBytes();
    auto hosts = std::make_unique<HostCollection>();
    std::string header;
    fileaccess::readHostsFile(input, *hosts, header);
    const std::size_t residentAfter = residentBytes();
    const std::size_t entries = hosts->size();

    std::size_t formattedBytes = 0;
    const double formatMs = medianMilliseconds(kRuns, [&] { formattedBytes += formatHostsFile(header, *hosts).size(); });
    if (formattedBytes == 0)
        fail("nothing formatted");

    const double saveMs = medianMilliseconds(kRuns, [&] {
        const fileaccess::SaveOutcome outcome =
            fileaccess::replaceFileContents(output, formatHostsFile(header, *hosts));
        if (!outcome.saved)
            fail("cannot save " + output + ": " + outcome.reason);
    });

    std::filesystem::remove_all(scratch);
    std::printf("load_ms=%.2f format_ms=%.2f save_ms=%.2f entries=%zu duplicates=%zu bytes_per_entry=%.1f\n", loadMs,
                formatMs, saveMs, entries, report.stats.duplicates,
                entries ? double(residentAfter - residentBefore) / double(entries) : 0.0);
    return 0;
}
