// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What keeping previous versions asks of the system, one implementation per
// system (keptfiles_posix.cpp, keptfiles_windows.cpp): finding the account's
// own folder, and working in the versions' folder once it is open. Every
// step in that folder goes through the folder as it was opened, by the
// names in it, never again by its path.

#include "fileread.h"
#include "openfile.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace previousversions::keptfiles {

// Where Tessaly keeps this account's own files: a folder taken as it is
// (it may lie below links, or below folders of root's), and the folders
// below it that Tessaly walks to and makes, which must be the account's own
// and no links.
struct UserFolder {
    std::filesystem::path start;
    std::vector<std::filesystem::path> below;
    std::string problem; // why there is none
    // The starting folder must be the account's own too (an account's home
    // from the account database); else it is made where it is missing.
    bool ownStart = false;
    std::filesystem::path path() const;
};

// This account's folder. POSIX: with the user's own rights from the
// environment (XDG_STATE_HOME, else HOME); with root's, from the account
// database, never from variables the caller left. Windows: the local
// application data folder of the program's own token. `stateFolder`, when
// given, takes the place of XDG_STATE_HOME or the local application data
// (tests).
UserFolder userFolder(const std::optional<std::filesystem::path>& stateFolder);

// A path as messages show it: its bytes on POSIX systems, the ANSI code
// page on Windows.
std::string shown(const std::filesystem::path& path);
// The same in double quotes.
std::string quoted(const std::filesystem::path& path);

// `prefix` followed by six random letters or digits.
std::string randomName(const std::string& prefix);

struct Entry {
    std::string name; // as the system has it; a version's name is ASCII
    bool regular = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // seconds since 1970, UTC
};

// The versions' folder, open.
class Folder {
public:
    // Walks from `user.start` to the folder `name` below `user.below`, one
    // folder at a time from the one before (POSIX: openat with O_NOFOLLOW),
    // refusing a link or a folder of another account's below the start.
    // With `create`, it makes what is missing (the account's alone: 0700 on
    // POSIX systems, a versions' folder wider than that is narrowed);
    // without, a missing folder gives null and no problem.
    static std::unique_ptr<Folder> open(const UserFolder& user, const std::filesystem::path& name, bool create,
                                        std::string& problem);
    virtual ~Folder() = default;

    virtual const std::filesystem::path& path() const = 0;
    virtual bool list(std::vector<Entry>& entries, std::string& problem) const = 0;
    // A regular file in it, opened to read (a link is refused).
    virtual std::unique_ptr<fileaccess::OpenFile> openToRead(const std::string& name,
                                                             fileaccess::ReadOutcome& outcome) const = 0;
    // A new file of the name `prefix` and six random letters or digits, only
    // the account's to read, open to write and read back; `name` learns it.
    virtual std::unique_ptr<fileaccess::OpenFile> create(const std::string& prefix, std::string& name,
                                                         std::string& problem) = 0;
    enum class Naming { Named, Taken, Failed };
    // Renames `from` to `to`, never over a file that is there (Taken).
    virtual Naming rename(const std::string& from, const std::string& to, std::string& problem) = 0;
    virtual bool remove(const std::string& name) = 0;
    // Sets the file's modification time.
    virtual bool setModified(const std::string& name, std::int64_t seconds) = 0;
    // Makes its new names survive a power cut; false where the system could
    // not confirm it.
    virtual bool sync() = 0;
};

} // namespace previousversions::keptfiles
