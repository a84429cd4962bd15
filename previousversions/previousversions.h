// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Previous versions of the hosts file: before a save replaces the file, its
// bytes are kept in the user's own folder, so that a regretted save can be
// undone (tessaly-restore). A version is a plain copy, named for the UTC
// time it was kept ("hosts-2026-12-09T18-59-00Z", "-2" and on for more in
// the same second). A new version is always the newest: with the clock
// behind the newest name, it takes the second after that name, and its
// file's own time (the clock's when it was kept) tells so.

#include "fileread.h"
#include "openfile.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace previousversions {

inline constexpr std::size_t kKeptVersionsAtMost = 20;
inline constexpr std::uint64_t kKeptVersionBytesAtMost = std::uint64_t{256} << 20;

// A folder of the account's, or why there is none.
struct FolderLocation {
    std::filesystem::path path;
    std::string problem;
};

// Tessaly's own folder of this account: Linux $XDG_STATE_HOME/tessaly (an
// absolute XDG_STATE_HOME only, else ~/.local/state/tessaly), Windows
// Tessaly in the local application data folder. Nothing is made.
FolderLocation tessalyFolder();
// Where the versions are kept: "previous" in Tessaly's own folder.
FolderLocation versionsFolder();

struct KeptVersion {
    std::string name;
    std::int64_t keptAt = 0; // seconds since 1970, UTC
    int sequence = 1;        // the how-manieth version kept in that second
    std::uint64_t size = 0;
    std::int64_t modified = 0; // its file's time: the clock's when it was kept
    // Kept while the clock was behind the newest version's name.
    bool namedAhead() const { return modified < keptAt; }
};

// The name of the `sequence`th version kept in the second `keptAt`, and back.
std::string keptVersionName(std::int64_t keptAt, int sequence);
std::optional<std::pair<std::int64_t, int>> parseKeptVersionName(std::string_view name);

// The kept versions, read from their folder as it is when this is made
// (nothing is made): only regular files of the versions' own naming count,
// newest first. A missing folder holds none.
class KeptVersions {
public:
    KeptVersions();
    KeptVersions(const KeptVersions&) = delete;
    KeptVersions& operator=(const KeptVersions&) = delete;
    ~KeptVersions();

    const std::filesystem::path& folder() const;
    // Why the folder cannot be used or read; empty when it can.
    const std::string& problem() const;
    const std::vector<KeptVersion>& versions() const;
    std::filesystem::path pathOf(const KeptVersion& version) const;
    // The version opened to read it, or null with `outcome` saying why.
    std::unique_ptr<fileaccess::OpenFile> open(const KeptVersion& version, fileaccess::ReadOutcome& outcome) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Keeps the bytes a save is about to replace, fed in chunks as the save
// reads the file (a large file is never held whole). Until keep() succeeds
// nothing is named in the folder: a version is complete or absent. Nothing
// kept is removed until the save or restore is confirmed on disk.
class PreviousVersionKeeper {
public:
    // Makes the versions' folder where it is missing (the user's alone: 0700
    // on Linux) and opens a new file in it. A folder that is a link or, on
    // Linux, belongs to another user, or lies below such a folder, is
    // refused.
    PreviousVersionKeeper();
    PreviousVersionKeeper(const PreviousVersionKeeper&) = delete;
    PreviousVersionKeeper& operator=(const PreviousVersionKeeper&) = delete;
    ~PreviousVersionKeeper(); // removes a version not kept

    void feed(std::string_view bytes);
    // Syncs the version and names it as the newest, unless the newest kept
    // version holds the same bytes; removes what a keep that was killed left
    // (".partial-" files older than this program). False, with problem(),
    // when it could not be kept.
    bool keep();
    // The save or restore it was kept for is confirmed on disk: the oldest
    // versions beyond kKeptVersionsAtMost versions or kKeptVersionBytesAtMost
    // bytes in all (unfinished ones counted) are removed; the newest and the
    // one just kept always stay. A save that failed or is unconfirmed calls
    // nothing, and the folder keeps all it held.
    void saveConfirmed();

    const std::string& problem() const;
    // Where it was kept; empty when the newest kept version held these bytes.
    const std::filesystem::path& keptAs() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

namespace testing {
// The time (seconds since 1970, UTC) versions are named for; empty for now.
void setKeepingTime(std::optional<std::int64_t> keptAt);
// The folder that takes the place of XDG_STATE_HOME (Windows: the local
// application data folder), so that tests keep their versions where they
// choose whatever rights they run with; empty for the account's own.
void setStateFolder(std::optional<std::filesystem::path> folder);
} // namespace testing

} // namespace previousversions
