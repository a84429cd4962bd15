// Measures loading, formatting and saving a hosts file the way the program
// does at start-up and on SAVE/CLOSE.
//
//   hostsbench [FILE] [--out OUTFILE]
//
// Without FILE it generates a 200,000-line ad-blocking style hosts file.
// Prints one line; every time is the median of several runs.
#include "filesave.h"
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

std::string generatedHostsFile(int lines)
{
    std::mt19937 random(7);
    std::string text = "# Generated ad-blocking hosts file for benchmarking.\n#\n# Entries below.\n\n"
                       "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";
    std::vector<std::string> recent;
    for (int line = 0; line < lines; ++line) {
        std::string host;
        if (!recent.empty() && random() % 200 == 0) {
            host = recent[random() % recent.size()];
        } else {
            host = "ads" + std::to_string(random() % 100000) + "." + "tracker-" + std::to_string(line) + ".example";
            if (recent.size() < 1000)
                recent.push_back(host);
        }
        text += "0.0.0.0 " + host;
        if (random() % 100 == 0)
            text += " # blocked since release " + std::to_string(random() % 50);
        text += '\n';
    }
    return text;
}

template <typename Work>
double medianMilliseconds(Work&& work)
{
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

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
    const double loadMs = medianMilliseconds([&] {
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
    const double formatMs = medianMilliseconds([&] { formattedBytes += formatHostsFile(header, *hosts).size(); });
    if (formattedBytes == 0)
        fail("nothing formatted");

    const double saveMs = medianMilliseconds([&] {
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
