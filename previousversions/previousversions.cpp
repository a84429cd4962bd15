// SPDX-License-Identifier: GPL-3.0-or-later
#include "previousversions.h"

#include "filesavesteps.h"
#include "keptfiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace previousversions {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using keptfiles::Folder;
using keptfiles::quoted;

constexpr std::string_view kNamePrefix = "hosts-";
// hosts-YYYY-MM-DDTHH-MM-SSZ: no ':' (Windows forbids it), and names sort
// by the time they carry.
constexpr std::size_t kStampLength = std::string_view("YYYY-MM-DDTHH-MM-SSZ").size();
// A version being written, before it is named.
const std::string kPartialPrefix = ".partial-";
const fs::path kVersionsFolderName = "previous";

std::optional<std::int64_t> keepingTimeForTests;
std::optional<fs::path> stateFolderForTests;

std::int64_t clockNow()
{
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t keepingTime()
{
    return keepingTimeForTests ? *keepingTimeForTests : clockNow();
}

// Unfinished versions that a keep which was killed left are removed by
// later keeps, but only those older than this program: another instance
// may be keeping one now.
const std::int64_t kProgramStart = clockNow();

bool isPartialName(std::string_view name)
{
    return name.size() == kPartialPrefix.size() + 6 && name.starts_with(kPartialPrefix)
        && std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kPartialPrefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

keptfiles::UserFolder accountFolder()
{
    return keptfiles::userFolder(stateFolderForTests);
}

std::string systemWords()
{
    return fileaccess::savesteps::systemWords(fileaccess::savesteps::lastError());
}

bool readNumber(std::string_view text, int& value)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
}

bool newerFirst(const KeptVersion& a, const KeptVersion& b)
{
    return std::pair(a.keptAt, a.sequence) > std::pair(b.keptAt, b.sequence);
}

// The versions among a folder's entries, newest first: a link or anything
// else that is not a regular file is not one of them, whatever its name.
std::vector<KeptVersion> versionsAmong(const std::vector<keptfiles::Entry>& entries)
{
    std::vector<KeptVersion> versions;
    for (const keptfiles::Entry& entry : entries) {
        const auto parsed = parseKeptVersionName(entry.name);
        if (parsed && entry.regular)
            versions.push_back({entry.name, parsed->first, parsed->second, entry.size, entry.modified});
    }
    std::sort(versions.begin(), versions.end(), newerFirst);
    return versions;
}

// Whether `a` holds the bytes `b` holds from where it stands to its end.
bool sameContents(fileaccess::OpenFile& a, fileaccess::OpenFile& b)
{
    bool same = true;
    std::array<char, 64 * 1024> buffer;
    const fileaccess::ReadOutcome read = fileaccess::readInChunks(a, [&](std::string_view chunk) {
        while (same && !chunk.empty()) {
            const long long got = b.read(buffer.data(), std::min(chunk.size(), buffer.size()));
            same = got > 0 && std::memcmp(buffer.data(), chunk.data(), static_cast<std::size_t>(got)) == 0;
            if (same)
                chunk.remove_prefix(static_cast<std::size_t>(got));
        }
    });
    return same && read.status == fileaccess::ReadStatus::Complete && b.read(buffer.data(), 1) == 0;
}

// Keeps the newest of the versions in `entries`, as many as the bounds
// allow with the unfinished ones counted, and removes the rest; the newest
// and `justKept` stay whatever their size.
void removeBeyondBounds(Folder& folder, const std::vector<keptfiles::Entry>& entries, const std::string& justKept)
{
    const std::vector<KeptVersion> versions = versionsAmong(entries);
    std::uint64_t bytes = 0;
    for (const keptfiles::Entry& entry : entries)
        if (entry.regular && isPartialName(entry.name))
            bytes += entry.size;
    for (std::size_t i = 0; i < versions.size(); ++i) {
        bytes += versions[i].size;
        if (i == 0 || (i < kKeptVersionsAtMost && bytes <= kKeptVersionBytesAtMost))
            continue;
        for (std::size_t old = i; old < versions.size(); ++old)
            if (versions[old].name != justKept)
                folder.remove(versions[old].name);
        return;
    }
}

} // namespace

FolderLocation tessalyFolder()
{
    const keptfiles::UserFolder folder = accountFolder();
    if (!folder.problem.empty())
        return {{}, folder.problem};
    return {folder.path(), {}};
}

FolderLocation versionsFolder()
{
    FolderLocation folder = tessalyFolder();
    if (folder.problem.empty())
        folder.path /= kVersionsFolderName;
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

struct KeptVersions::State {
    fs::path path;
    std::string problem;
    std::unique_ptr<Folder> folder;
    std::vector<KeptVersion> versions;
};

KeptVersions::KeptVersions() : state_(std::make_unique<State>())
{
    const FolderLocation location = versionsFolder();
    state_->path = location.path;
    state_->problem = location.problem;
    if (!state_->problem.empty())
        return;
    state_->folder = Folder::open(accountFolder(), kVersionsFolderName, false, state_->problem);
    std::vector<keptfiles::Entry> entries;
    if (state_->folder && state_->folder->list(entries, state_->problem))
        state_->versions = versionsAmong(entries);
}

KeptVersions::~KeptVersions() = default;

const fs::path& KeptVersions::folder() const
{
    return state_->path;
}

const std::string& KeptVersions::problem() const
{
    return state_->problem;
}

const std::vector<KeptVersion>& KeptVersions::versions() const
{
    return state_->versions;
}

fs::path KeptVersions::pathOf(const KeptVersion& version) const
{
    return state_->path / version.name;
}

std::unique_ptr<fileaccess::OpenFile> KeptVersions::open(const KeptVersion& version,
                                                         fileaccess::ReadOutcome& outcome) const
{
    if (!state_->folder) {
        outcome = {fileaccess::ReadStatus::NoFile, "No versions are kept"};
        return nullptr;
    }
    return state_->folder->openToRead(version.name, outcome);
}

struct PreviousVersionKeeper::State {
    std::unique_ptr<Folder> folder;
    std::unique_ptr<fileaccess::OpenFile> file;
    std::string partial; // the new file's name until it is named
    std::string problem;
    std::string keptName;
    fs::path keptAs;
    std::uint64_t size = 0;
    bool kept = false;

    // Closes the new file and removes it, unless it has been named.
    void abandon()
    {
        file.reset();
        if (folder && !partial.empty())
            folder->remove(partial);
        partial.clear();
    }
};

PreviousVersionKeeper::PreviousVersionKeeper() : state_(std::make_unique<State>())
{
    const keptfiles::UserFolder user = accountFolder();
    state_->problem = user.problem;
    if (state_->problem.empty())
        state_->folder = Folder::open(user, kVersionsFolderName, true, state_->problem);
    if (state_->folder)
        state_->file = state_->folder->create(kPartialPrefix, state_->partial, state_->problem);
}

PreviousVersionKeeper::~PreviousVersionKeeper()
{
    state_->abandon();
}

void PreviousVersionKeeper::feed(std::string_view bytes)
{
    if (!state_->file || !state_->problem.empty())
        return;
    if (state_->file->writeAll(bytes))
        state_->size += bytes.size();
    else
        state_->problem = "Writing " + quoted(state_->folder->path() / state_->partial) + " failed: " + systemWords();
}

bool PreviousVersionKeeper::keep()
{
    State& state = *state_;
    if (!state.file || !state.problem.empty()) {
        state.abandon();
        return false;
    }
    if (!state.file->sync()) {
        state.problem = "Writing " + quoted(state.folder->path() / state.partial) + " to disk failed: " + systemWords();
        state.abandon();
        return false;
    }
    std::vector<keptfiles::Entry> entries;
    std::string unlisted;
    state.folder->list(entries, unlisted);
    for (const keptfiles::Entry& entry : entries)
        if (entry.regular && isPartialName(entry.name) && entry.name != state.partial && entry.modified < kProgramStart)
            state.folder->remove(entry.name);
    const std::vector<KeptVersion> kept = versionsAmong(entries);
    state.kept = true;
    // The same bytes as the newest version: one of them is enough.
    if (!kept.empty() && kept.front().size == state.size) {
        fileaccess::ReadOutcome outcome;
        const std::unique_ptr<fileaccess::OpenFile> newest = state.folder->openToRead(kept.front().name, outcome);
        if (newest && state.file->rewind() && sameContents(*newest, *state.file)) {
            state.abandon();
            return true;
        }
    }
    if (!state.file->close()) {
        state.kept = false;
        state.problem = "Writing " + quoted(state.folder->path() / state.partial) + " to disk failed: " + systemWords();
        state.abandon();
        return false;
    }
    state.file.reset();
    // Always the newest, so that the bounds never take it: with the clock
    // behind the newest name, the second after it. Its file keeps the
    // clock's time, which tells so.
    const std::int64_t now = keepingTime();
    const std::int64_t keptAt = !kept.empty() && kept.front().keptAt > now ? kept.front().keptAt + 1 : now;
    state.folder->setModified(state.partial, now);
    for (int sequence = 1; sequence < 1000; ++sequence) {
        const std::string name = keptVersionName(keptAt, sequence);
        switch (state.folder->rename(state.partial, name, state.problem)) {
        case Folder::Naming::Taken:
            continue;
        case Folder::Naming::Failed:
            state.kept = false;
            state.abandon();
            return false;
        case Folder::Naming::Named:
            break;
        }
        state.partial.clear();
        state.keptName = name;
        state.keptAs = state.folder->path() / name;
        state.folder->sync();
        return true;
    }
    state.kept = false;
    state.problem = "Too many versions were kept in the same second";
    state.abandon();
    return false;
}

void PreviousVersionKeeper::saveConfirmed()
{
    State& state = *state_;
    if (!state.kept)
        return;
    std::vector<keptfiles::Entry> entries;
    std::string unlisted;
    if (state.folder->list(entries, unlisted))
        removeBeyondBounds(*state.folder, entries, state.keptName);
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

void setStateFolder(std::optional<fs::path> folder)
{
    stateFolderForTests = std::move(folder);
}
} // namespace testing

} // namespace previousversions
