// SPDX-License-Identifier: GPL-3.0-or-later
// Kills saves at random moments and counts what they leave: the old bytes,
// the new bytes, or a torn file (a mix). The rename path must never tear;
// the in-place path (forced here by a second hard link) can tear only while
// its one write runs.
//
//   killbench [--mb N] [--kills K] [--in-place]
#include "filesave.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string contentOf(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string hostsLines(const char* prefix, std::size_t bytes)
{
    std::string text;
    for (int line = 0; text.size() < bytes; ++line)
        text += "0.0.0.0 " + std::string(prefix) + std::to_string(line) + ".example\n";
    text.resize(bytes);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t megabytes = 54;
    int kills = 300;
    bool inPlace = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--mb" && i + 1 < argc)
            megabytes = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
        else if (argument == "--kills" && i + 1 < argc)
            kills = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--in-place")
            inPlace = true;
        else {
            std::fprintf(stderr, "usage: killbench [--mb N] [--kills K] [--in-place]\n");
            return 2;
        }
    }
    const auto scratch = std::filesystem::temp_directory_path() / ("killbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    const std::string target = (scratch / "hosts").string();
    const std::string oldBytes = hostsLines("old", megabytes << 20);
    const std::string newBytes = hostsLines("NEW", megabytes << 20);
    auto reset = [&] {
        std::filesystem::remove(scratch / "second name");
        std::ofstream(target, std::ios::binary | std::ios::trunc) << oldBytes;
        if (inPlace)
            std::filesystem::create_hard_link(target, scratch / "second name");
    };

    reset();
    const auto start = std::chrono::steady_clock::now();
    fileaccess::replaceFileContents(target, newBytes);
    const double saveMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    std::mt19937 random(1);
    int oldLeft = 0, newLeft = 0, torn = 0;
    for (int kill = 0; kill < kills; ++kill) {
        reset();
        int ready[2];
        if (::pipe(ready) != 0)
            return 1;
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(ready[0]);
            const char byte = 1;
            if (::write(ready[1], &byte, 1) == 1)
                fileaccess::replaceFileContents(target, newBytes);
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        if (::read(ready[0], &byte, 1) != 1)
            return 1;
        ::close(ready[0]);
        ::usleep(static_cast<useconds_t>(std::uniform_real_distribution<double>(0, saveMs)(random) * 1000));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string left = contentOf(target);
        (left == oldBytes ? oldLeft : left == newBytes ? newLeft : torn)++;
    }
    std::filesystem::remove_all(scratch);
    std::printf("path=%s mb=%zu save_ms=%.0f kills=%d old=%d new=%d torn=%d\n", inPlace ? "in-place" : "rename",
                megabytes, saveMs, kills, oldLeft, newLeft, torn);
    return 0;
}
