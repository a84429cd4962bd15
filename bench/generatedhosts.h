// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

// An ad-blocking style hosts file: a comment header, "0.0.0.0 name" lines,
// some inline comments and some repeated hostnames.
inline std::string generatedHostsFile(int lines)
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

// The median of `runs` timings of `work`, in milliseconds; `untimed` runs
// after each timing.
template <typename Work, typename Untimed = void (*)()>
double medianMilliseconds(int runs, Work&& work, Untimed&& untimed = [] {})
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        untimed();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
