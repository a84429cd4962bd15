// SPDX-License-Identifier: GPL-3.0-or-later
#include "previousversions.h"

#include "keptfiles.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace previousversions {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr std::string_view kNamePrefix = "hosts-";
// hosts-YYYY-MM-DDTHH-MM-SSZ: no ':' (Windows forbids it), and names sort
// by the time they carry.
constexpr std::size_t kStampLength = std::string_view("YYYY-MM-DDTHH-MM-SSZ").size();

std::optional<std::int64_t> keepingTimeForTests;

std::int64_t keepingTime()
{
    if (keepingTimeForTests)
        return *keepingTimeForTests;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool readNumber(std::string_view text, int& value)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
}

// The file name, when it is all ASCII (every version's is); path::string()
// would throw on Windows for a name the code page cannot hold.
std::string asciiFileName(const fs::path& path)
{
    const fs::path file = path.filename();
    const auto& name = file.native();
    std::string ascii;
    for (const auto c : name) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code == 0 || code > 127)
            return {};
        ascii += static_cast<char>(c);
    }
    return ascii;
}

// Whether the two files hold the same bytes, read a chunk at a time.
bool sameContents(const fs::path& first, const fs::path& second)
{
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    if (!a || !b)
        return false;
    constexpr std::size_t kChunk = 64 * 1024;
    const auto bufferA = std::make_unique<char[]>(kChunk);
    const auto bufferB = std::make_unique<char[]>(kChunk);
    for (;;) {
        a.read(bufferA.get(), kChunk);
        b.read(bufferB.get(), kChunk);
        if (a.gcount() != b.gcount() || !std::equal(bufferA.get(), bufferA.get() + a.gcount(), bufferB.get()))
            return false;
        if (a.gcount() == 0 || a.eof() || b.eof())
            return a.eof() == b.eof() && a.gcount() == b.gcount();
    }
}

bool newerFirst(const KeptVersion& a, const KeptVersion& b)
{
    return std::pair(a.keptAt, a.sequence) > std::pair(b.keptAt, b.sequence);
}

// Keeps the newest of `versions` (newest first), as many as the bounds
// allow, and removes the rest; the newest stays whatever its size.
void removeBeyondBounds(const std::vector<KeptVersion>& versions)
{
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < versions.size(); ++i) {
        bytes += versions[i].size;
        if (i == 0 || (i < kKeptVersionsAtMost && bytes <= kKeptVersionBytesAtMost))
            continue;
        for (std::size_t old = i; old < versions.size(); ++old) {
            std::error_code ignored;
            fs::remove(versions[old].path, ignored);
        }
        return;
    }
}

} // namespace

VersionsFolder previousVersionsFolder()
{
    VersionsFolder folder;
    folder.path = keptfiles::folderFromEnvironment(folder.problem);
    return folder;
}

std::string keptVersionName(std::int64_t keptAt, int sequence)
{
    const sys_seconds time{seconds(keptAt)};
    const sys_days day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss clock(time - day);
    std::array<char, 64> name{};
    std::snprintf(name.data(), name.size(), "hosts-%04d-%02u-%02uT%02d-%02d-%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    std::string result = name.data();
    if (sequence > 1) {
        result += '-';
        result += std::to_string(sequence);
    }
    return result;
}

std::optional<std::pair<std::int64_t, int>> parseKeptVersionName(std::string_view name)
{
    if (name.substr(0, kNamePrefix.size()) != kNamePrefix || name.size() < kNamePrefix.size() + kStampLength)
        return std::nullopt;
    const std::string_view stamp = name.substr(kNamePrefix.size(), kStampLength);
    const std::string_view rest = name.substr(kNamePrefix.size() + kStampLength);
    // Every separator in its place, digits between them.
    constexpr std::string_view kShape = "dddd-dd-ddTdd-dd-ddZ";
    for (std::size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] == 'd' ? !(stamp[i] >= '0' && stamp[i] <= '9') : stamp[i] != kShape[i])
            return std::nullopt;
    int sequence = 1;
    if (!rest.empty() && (rest[0] != '-' || rest.size() > 5 || !readNumber(rest.substr(1), sequence) || sequence < 2))
        return std::nullopt;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    readNumber(stamp.substr(0, 4), y);
    readNumber(stamp.substr(5, 2), mo);
    readNumber(stamp.substr(8, 2), d);
    readNumber(stamp.substr(11, 2), h);
    readNumber(stamp.substr(14, 2), mi);
    readNumber(stamp.substr(17, 2), s);
    const year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!date.ok() || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    const sys_seconds time = sys_days(date) + hours(h) + minutes(mi) + seconds(s);
    // Only the name this time and sequence would take: one spelling each.
    const std::int64_t keptAt = time.time_since_epoch().count();
    if (keptVersionName(keptAt, sequence) != name)
        return std::nullopt;
    return std::pair(keptAt, sequence);
}

std::vector<KeptVersion> listKeptVersions(const fs::path& folder, std::string* problem)
{
    std::vector<KeptVersion> versions;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        if (problem && error != std::errc::no_such_file_or_directory)
            *problem = error.message();
        return versions;
    }
    for (const fs::directory_entry& entry : entries) {
        const auto parsed = parseKeptVersionName(asciiFileName(entry.path()));
        std::error_code statusError;
        // A link is not one of ours, whatever its name.
        if (!parsed || !fs::is_regular_file(entry.symlink_status(statusError)))
            continue;
        const std::uintmax_t size = entry.file_size(statusError);
        if (statusError)
            continue;
        versions.push_back({entry.path(), parsed->first, parsed->second, size});
    }
    std::sort(versions.begin(), versions.end(), newerFirst);
    return versions;
}

struct PreviousVersionKeeper::State {
    fs::path folder;
    std::unique_ptr<keptfiles::NewFile> file;
    std::string problem;
    fs::path keptAs;
    std::uint64_t size = 0;
};

PreviousVersionKeeper::PreviousVersionKeeper(const VersionsFolder& folder) : state_(std::make_unique<State>())
{
    state_->folder = folder.path;
    state_->problem = folder.problem;
    if (state_->problem.empty())
        state_->problem = keptfiles::prepareFolder(folder.path);
    if (state_->problem.empty())
        state_->file = keptfiles::NewFile::create(folder.path, state_->problem);
}

PreviousVersionKeeper::~PreviousVersionKeeper() = default;

void PreviousVersionKeeper::feed(std::string_view bytes)
{
    if (!state_->file || !state_->problem.empty())
        return;
    if (state_->file->write(bytes, state_->problem))
        state_->size += bytes.size();
}

bool PreviousVersionKeeper::keep()
{
    if (!state_->file || !state_->problem.empty() || !state_->file->finish(state_->problem)) {
        state_->file.reset();
        return false;
    }
    // The same bytes as the newest version: one of them is enough.
    std::vector<KeptVersion> kept = listKeptVersions(state_->folder);
    if (!kept.empty() && kept.front().size == state_->size && sameContents(kept.front().path, state_->file->path())) {
        state_->file.reset();
        return true;
    }
    const std::int64_t keptAt = keepingTime();
    for (int sequence = 1; sequence < 1000; ++sequence) {
        const fs::path target = state_->folder / keptVersionName(keptAt, sequence);
        switch (state_->file->nameAs(target, state_->problem)) {
        case keptfiles::NewFile::Naming::Taken:
            continue;
        case keptfiles::NewFile::Naming::Failed:
            state_->file.reset();
            return false;
        case keptfiles::NewFile::Naming::Named:
            break;
        }
        state_->file.reset();
        state_->keptAs = target;
        keptfiles::syncFolder(state_->folder);
        // In its place by time, also should the clock have gone back.
        const KeptVersion added{target, keptAt, sequence, state_->size};
        kept.insert(std::upper_bound(kept.begin(), kept.end(), added, newerFirst), added);
        removeBeyondBounds(kept);
        return true;
    }
    state_->problem = "Too many versions were kept in the same second";
    state_->file.reset();
    return false;
}

const std::string& PreviousVersionKeeper::problem() const
{
    return state_->problem;
}

const fs::path& PreviousVersionKeeper::keptAs() const
{
    return state_->keptAs;
}

namespace testing {
void setKeepingTime(std::optional<std::int64_t> keptAt)
{
    keepingTimeForTests = keptAt;
}
} // namespace testing

} // namespace previousversions
