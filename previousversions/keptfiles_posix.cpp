// SPDX-License-Identifier: GPL-3.0-or-later
#include "keptfiles.h"

#include "filedescriptor_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace previousversions::keptfiles {
namespace {

namespace fs = std::filesystem;
using fileaccess::FileDescriptor;

std::string systemWords()
{
    return std::strerror(errno);
}

std::string quoted(const fs::path& path)
{
    std::string text(1, '"');
    text += path.string();
    text += '"';
    return text;
}

class PosixNewFile : public NewFile {
public:
    PosixNewFile(fs::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~PosixNewFile() override
    {
        if (!named_)
            ::unlink(path_.c_str());
    }

    const fs::path& path() const override { return path_; }

    bool write(std::string_view bytes, std::string& problem) override
    {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                problem = "Writing " + quoted(path_) + " failed: " + (written < 0 ? systemWords() : "nothing written");
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    }

    bool finish(std::string& problem) override
    {
        if (::fsync(fd_.get()) != 0 || !fd_.close()) {
            problem = "Writing " + quoted(path_) + " to disk failed: " + systemWords();
            return false;
        }
        return true;
    }

    Naming nameAs(const fs::path& target, std::string& problem) override
    {
        // Never over another version: two editors may keep one in the same
        // second. Where renameat2 is not supported, a hard link does the same.
        int result = ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = ::link(path_.c_str(), target.c_str());
            if (result == 0)
                ::unlink(path_.c_str());
        }
        if (result == 0) {
            named_ = true;
            return Naming::Named;
        }
        if (errno == EEXIST)
            return Naming::Taken;
        problem = "Naming " + quoted(target) + " failed: " + systemWords();
        return Naming::Failed;
    }

private:
    fs::path path_;
    FileDescriptor fd_;
    bool named_ = false;
};

} // namespace

fs::path folderFromEnvironment(std::string& problem)
{
    // Qt 6.4 has no state location; this is the XDG base directory rule.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return fs::path(state) / "tessaly" / "previous";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return fs::path(home) / ".local" / "state" / "tessaly" / "previous";
    problem = "No home folder is set (HOME)";
    return {};
}

std::string prepareFolder(const fs::path& folder)
{
    fs::path made;
    for (const fs::path& part : folder) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
            return "The folder " + quoted(made) + " could not be made: " + systemWords();
    }
    // Tessaly's folder and the versions' folder are the user's own: a link
    // there, or a folder of another user's, could send the copies of the
    // hosts file where others read or replace them.
    struct stat status{};
    for (const fs::path& own : {folder.parent_path(), folder}) {
        if (::lstat(own.c_str(), &status) != 0)
            return "The folder " + quoted(own) + " cannot be used: " + systemWords();
        if (S_ISLNK(status.st_mode))
            return "The folder " + quoted(own) + " is a symbolic link";
        if (!S_ISDIR(status.st_mode))
            return quoted(own) + " is not a folder";
        if (status.st_uid != ::geteuid())
            return "The folder " + quoted(own) + " belongs to another user";
    }
    if ((status.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        return "The folder " + quoted(folder) + " could not be made private: " + systemWords();
    return {};
}

std::unique_ptr<NewFile> NewFile::create(const fs::path& folder, std::string& problem)
{
    std::string name = (folder / ".partial-XXXXXX").string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = "No new file could be made in " + quoted(folder) + ": " + systemWords();
        return nullptr;
    }
    return std::make_unique<PosixNewFile>(fs::path(name), fd);
}

bool syncFolder(const fs::path& folder)
{
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

} // namespace previousversions::keptfiles
