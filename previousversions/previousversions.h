// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Previous versions of the hosts file: before a save replaces the file, its
// bytes are kept in the user's own folder, so that a regretted save can be
// undone (tessaly-restore). A version is a plain copy, named for the UTC
// time it was kept ("hosts-2026-12-09T18-59-00Z", "-2" and on for more in
// the same second).

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

// Where this user's versions are kept: Linux $XDG_STATE_HOME/tessaly/previous
// (an absolute XDG_STATE_HOME only, else $HOME/.local/state), Windows
// %LOCALAPPDATA%\Tessaly\previous. `problem` says why there is none.
struct VersionsFolder {
    std::filesystem::path path;
    std::string problem;
};
VersionsFolder previousVersionsFolder();

struct KeptVersion {
    std::filesystem::path path;
    std::int64_t keptAt = 0; // seconds since 1970, UTC
    int sequence = 1;        // the how-manieth version kept in that second
    std::uint64_t size = 0;
};

// The versions in `folder`, newest first: only regular files of the
// versions' own naming count. A missing folder holds none; an unreadable one
// sets `problem`.
std::vector<KeptVersion> listKeptVersions(const std::filesystem::path& folder, std::string* problem = nullptr);

// The name of the `sequence`th version kept in the second `keptAt`, and back.
std::string keptVersionName(std::int64_t keptAt, int sequence);
std::optional<std::pair<std::int64_t, int>> parseKeptVersionName(std::string_view name);

// Keeps the bytes a save is about to replace, fed in chunks as the save
// reads the file (a large file is never held whole). Until keep() succeeds
// nothing is named in the folder: a version is complete or absent.
class PreviousVersionKeeper {
public:
    // Makes the folder where it is missing (the user's alone: 0700 on Linux)
    // and opens a new file in it. A folder that is a symbolic link or, on
    // Linux, belongs to another user is refused.
    explicit PreviousVersionKeeper(const VersionsFolder& folder);
    PreviousVersionKeeper(const PreviousVersionKeeper&) = delete;
    PreviousVersionKeeper& operator=(const PreviousVersionKeeper&) = delete;
    ~PreviousVersionKeeper(); // removes a version not kept

    void feed(std::string_view bytes);
    // Syncs the version and names it, unless the newest kept version holds the
    // same bytes; then removes the oldest beyond kKeptVersionsAtMost versions
    // or kKeptVersionBytesAtMost bytes in all (the newest always stays).
    // False, with problem(), when it could not be kept.
    bool keep();

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
} // namespace testing

} // namespace previousversions
