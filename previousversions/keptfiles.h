// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What keeping previous versions asks of the system, one implementation per
// system (keptfiles_posix.cpp, keptfiles_windows.cpp).

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace previousversions::keptfiles {

// The folder named by the user's environment, or why there is none.
std::filesystem::path folderFromEnvironment(std::string& problem);

// Makes `folder` and its missing parents, and checks that it and its parent
// (Tessaly's own) are real folders of this user's, not links. Empty when it
// is fit to keep versions in; else why not.
std::string prepareFolder(const std::filesystem::path& folder);

// A new file of a random name in a folder, being written. It is removed
// unless it has been named (nameAs).
class NewFile {
public:
    static std::unique_ptr<NewFile> create(const std::filesystem::path& folder, std::string& problem);
    virtual ~NewFile() = default;
    virtual const std::filesystem::path& path() const = 0;
    virtual bool write(std::string_view bytes, std::string& problem) = 0;
    // Syncs it to disk and closes it.
    virtual bool finish(std::string& problem) = 0;
    enum class Naming { Named, Taken, Failed };
    // Gives it the name `target`, which must not exist yet (Taken).
    virtual Naming nameAs(const std::filesystem::path& target, std::string& problem) = 0;
};

// Makes the folder's new names survive a power cut; false where the system
// could not confirm it.
bool syncFolder(const std::filesystem::path& folder);

} // namespace previousversions::keptfiles
