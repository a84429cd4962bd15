// Measures loading, formatting and saving a hosts file the way the program
// does at start-up and on SAVE/CLOSE.
//
//   hostsbench [FILE] [--out OUTFILE]
//
// Without FILE it generates a 200,000-line ad-blocking style hosts file.
// Prints one line; every time is the median of several runs.
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
#include <malloc.h>
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

} // namespace

int main(int argc, char** argv)
{
    std::string input;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--out" && i + 1 < argc)
            output = argv[++i];
        else if (input.empty() && !argument.starts_with("--"))
            input = argument;
        else
            fail("usage: hostsbench [FILE] [--out OUTFILE]");
    }

    const auto scratch = std::filesystem::temp_directory_path() / ("hostsbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    if (input.empty()) {
        input = (scratch / "generated.hosts").string();
        std::ofstream(input, std::ios::binary) << generatedHostsFile(200000);
    }
    const bool keepOutput = !output.empty();
    if (!keepOutput)
        output = (scratch / "saved.hosts").string();

    ReadReport report;
    std::vector<std::unique_ptr<HostCollection>> loaded; // freed after timing, as freeing is not loading
    const double loadMs = medianMilliseconds(kRuns, [&] {
        loaded.push_back(std::make_unique<HostCollection>());
        std::string header;
        report = readHostsFile(input, *loaded.back(), header);
    });
    loaded.clear();
    if (report.status != ReadStatus::Complete)
        fail("cannot read " + input + ": " + report.reason);

    const std::size_t heapBefore = ::mallinfo2().uordblks;
    auto hosts = std::make_unique<HostCollection>();
    std::string header;
    readHostsFile(input, *hosts, header);
    const std::size_t heapAfter = ::mallinfo2().uordblks;
    const std::size_t entries = hosts->size();

    std::size_t formattedBytes = 0;
    const double formatMs = medianMilliseconds(kRuns, [&] { formattedBytes += formatHostsFile(header, *hosts).size(); });
    if (formattedBytes == 0)
        fail("nothing formatted");

    const double saveMs = medianMilliseconds(kRuns, [&] {
        const platform::SaveOutcome outcome = platform::replaceFileContents(output, formatHostsFile(header, *hosts));
        if (!outcome.saved)
            fail("cannot save " + output + ": " + outcome.reason);
    });

    std::filesystem::remove_all(scratch);
    std::printf("load_ms=%.2f format_ms=%.2f save_ms=%.2f entries=%zu duplicates=%zu bytes_per_entry=%.1f\n", loadMs,
                formatMs, saveMs, entries, report.stats.duplicates,
                entries ? double(heapAfter - heapBefore) / double(entries) : 0.0);
    return 0;
}
