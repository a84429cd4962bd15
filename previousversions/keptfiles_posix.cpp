// SPDX-License-Identifier: GPL-3.0-or-later
#include "keptfiles.h"

#include "filedescriptor_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace previousversions::keptfiles {
namespace {

namespace fs = std::filesystem;
using fileaccess::DescriptorFile;
using fileaccess::FileDescriptor;

std::string systemWords(int error = errno)
{
    return std::strerror(error);
}

// Why `name` in the folder `fd` (shown as `path`) could not be opened as a
// folder: a link, something else, or the system's words for `error`.
std::string whyNotAFolder(int fd, const std::string& name, const fs::path& path, int error)
{
    struct stat status{};
    if (::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode))
            return "The folder " + quoted(path) + " is a symbolic link";
        if (!S_ISDIR(status.st_mode))
            return quoted(path) + " is not a folder";
    }
    return "The folder " + quoted(path) + " cannot be used: " + systemWords(error);
}

class PosixFolder final : public Folder {
public:
    PosixFolder(fs::path path, int fd) : path_(std::move(path)), fd_(fd) {}

    const fs::path& path() const override { return path_; }

    bool list(std::vector<Entry>& entries, std::string& problem) const override
    {
        DIR* listing = ::fdopendir(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
        if (!listing) {
            problem = systemWords();
            return false;
        }
        // The duplicate shares the position: the listing starts at the top.
        ::rewinddir(listing);
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat status{};
            if (::fstatat(fd_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            entries.push_back({name, S_ISREG(status.st_mode), static_cast<std::uint64_t>(status.st_size),
                               static_cast<std::int64_t>(status.st_mtime)});
        }
        ::closedir(listing);
        return true;
    }

    std::unique_ptr<fileaccess::OpenFile> openToRead(const std::string& name,
                                                     fileaccess::ReadOutcome& outcome) const override
    {
        auto file = std::make_unique<DescriptorFile>(
            ::openat(fd_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat status{};
        if (file->fd() < 0) {
            const int error = errno;
            outcome = {error == ENOENT ? fileaccess::ReadStatus::NoFile : fileaccess::ReadStatus::Failed,
                       systemWords(error)};
        } else if (::fstat(file->fd(), &status) != 0) {
            outcome = fileaccess::ReadOutcome::failed(systemWords());
        } else if (!S_ISREG(status.st_mode)) {
            outcome = fileaccess::ReadOutcome::failed("Not a regular file");
        } else {
            file->setOpenedSize(static_cast<std::uint64_t>(status.st_size));
            return file;
        }
        return nullptr;
    }

    std::unique_ptr<fileaccess::OpenFile> create(const std::string& prefix, std::string& name,
                                                 std::string& problem) override
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            name = randomName(prefix);
            const int fd = ::openat(fd_.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0)
                return fileaccess::adoptOpenFile(fd);
            if (errno != EEXIST)
                break;
        }
        problem = "No new file could be made in " + quoted(path_) + ": " + systemWords();
        return nullptr;
    }

    Naming rename(const std::string& from, const std::string& to, std::string& problem) override
    {
        // Never over another version: two editors may keep one in the same
        // second. Where renameat2 is not supported, a hard link does the same.
        int result = ::renameat2(fd_.get(), from.c_str(), fd_.get(), to.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = ::linkat(fd_.get(), from.c_str(), fd_.get(), to.c_str(), 0);
            if (result == 0)
                ::unlinkat(fd_.get(), from.c_str(), 0);
        }
        if (result == 0)
            return Naming::Named;
        if (errno == EEXIST)
            return Naming::Taken;
        problem = "Naming " + quoted(path_ / to) + " failed: " + systemWords();
        return Naming::Failed;
    }

    bool remove(const std::string& name) override { return ::unlinkat(fd_.get(), name.c_str(), 0) == 0; }

    bool setModified(const std::string& name, std::int64_t seconds) override
    {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
        return ::utimensat(fd_.get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
    }

    bool sync() override
    {
        const std::unique_ptr<fileaccess::OpenFile> folder = fileaccess::adoptOpenFile(
            ::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
        return folder->sync();
    }

private:
    fs::path path_;
    FileDescriptor fd_;
};

} // namespace

UserFolder userFolder(const std::optional<fs::path>& stateFolder)
{
    if (stateFolder)
        return {*stateFolder, {"tessaly"}, {}};
    if (::geteuid() == 0) {
        // Root's own home: HOME and XDG_STATE_HOME may be a user's, left by
        // sudo -E or su, and root would make and follow folders there.
        passwd account{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::geteuid(), &account, buffer.data(), buffer.size(), &found) != 0 || !found || !account.pw_dir
            || account.pw_dir[0] != '/')
            return {{}, {}, "The account has no home folder in the account database", true};
        return {account.pw_dir, {".local", "state", "tessaly"}, {}, true};
    }
    // The XDG base directory rule for state (Qt 6.4 has no state location).
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return {state, {"tessaly"}, {}};
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return {home, {".local", "state", "tessaly"}, {}};
    return {{}, {}, "No home folder is set (HOME)"};
}

std::string shown(const fs::path& path)
{
    return path.native();
}

std::unique_ptr<Folder> Folder::open(const UserFolder& user, const fs::path& name, bool create, std::string& problem)
{
    std::vector<fs::path> parts = user.below;
    parts.push_back(name);
    fs::path path = user.start;
    if (create && !user.ownStart) {
        // The starting folder is taken as it is, links and all.
        fs::path made;
        for (const fs::path& part : user.start) {
            made /= part;
            if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
                problem = "The folder " + quoted(made) + " could not be made: " + systemWords();
                return nullptr;
            }
        }
    }
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT && !create)
            return nullptr;
        problem = "The folder " + quoted(path) + " cannot be used: " + systemWords();
        return nullptr;
    }
    // Every folder below the start is the account's own: a link there, or
    // a folder of another account's, could send the copies of the hosts
    // file where others read or replace them, and have root make folders
    // wherever it points.
    struct stat status{};
    const auto ownedHere = [&] {
        if (::fstat(fd.get(), &status) != 0) {
            problem = "The folder " + quoted(path) + " cannot be used: " + systemWords();
            return false;
        }
        if (status.st_uid != ::geteuid()) {
            problem = "The folder " + quoted(path) + " belongs to another user";
            return false;
        }
        return true;
    };
    if (user.ownStart && !ownedHere())
        return nullptr;
    for (const fs::path& each : parts) {
        const std::string part = each.native();
        path /= part;
        constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(fd.get(), part.c_str(), flags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd.get(), part.c_str(), 0700) != 0 && errno != EEXIST) {
                problem = "The folder " + quoted(path) + " could not be made: " + systemWords();
                return nullptr;
            }
            next = ::openat(fd.get(), part.c_str(), flags);
        }
        if (next < 0) {
            const int error = errno;
            if (error == ENOENT && !create)
                return nullptr;
            problem = whyNotAFolder(fd.get(), part, path, error);
            return nullptr;
        }
        fd.reset(next);
        if (!ownedHere())
            return nullptr;
    }
    if (create && (status.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0) {
        problem = "The folder " + quoted(path) + " could not be made private: " + systemWords();
        return nullptr;
    }
    return std::make_unique<PosixFolder>(path, fd.release());
}

} // namespace previousversions::keptfiles
