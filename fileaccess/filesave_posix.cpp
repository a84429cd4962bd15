// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesave.h"

#include "extendedattributes_posix.h"
#include "filedescriptor_posix.h"
#include "filesavesteps.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <functional>
#include <memory>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fileaccess {
namespace {

using savesteps::failedAs;
using savesteps::failure;
using savesteps::reached;
using savesteps::rewriteInPlace;
using savesteps::verifyAfter;
using savesteps::verifyContents;

// New files of a save that a crash left behind are removed by later saves,
// but only those older than this program: another instance may be saving now.
const std::time_t kProgramStart = std::time(nullptr);

constexpr std::string_view kTemporaryInfix = ".tessaly-";
constexpr std::size_t kRandomLength = 6;
constexpr std::string_view kRandomAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links to the file that really holds the bytes. A dangling
// link resolves to the path it points at, which the save then creates.
bool resolveLinks(std::string path, std::string& target, SaveOutcome& failed)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status{};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            target = path;
            return true;
        }
        std::vector<char> link(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1);
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0) {
            failed = failure("Cannot follow the link " + path, errno);
            return false;
        }
        std::string next(link.data(), static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : directoryOf(path) + "/" + next;
    }
    failed = failure("Cannot follow the link " + path, ELOOP);
    return false;
}

bool isTemporaryName(std::string_view name, std::string_view prefix)
{
    if (name.size() != prefix.size() + kRandomLength || !name.starts_with(prefix))
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return kRandomAlphabet.find(c) != std::string_view::npos; });
}

// Removes the new files that a save killed between naming and renaming left
// beside the target: regular files of exactly this program's naming, older
// than this program.
void removeStaleTemporaries(const std::string& directory, const std::string& prefix)
{
    DIR* listing = ::opendir(directory.c_str());
    if (!listing)
        return;
    const int dirFd = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTemporaryName(entry->d_name, prefix))
            continue;
        struct stat status{};
        if (::fstatat(dirFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)
            && status.st_mtime < kProgramStart)
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(listing);
}

std::string randomName(const std::string& prefix)
{
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kRandomAlphabet.size() - 1);
    std::string name = prefix;
    for (std::size_t i = 0; i < kRandomLength; ++i)
        name.push_back(kRandomAlphabet[pick(generator)]);
    return name;
}

// Makes the rename durable; returns 0 or the error that leaves it unsure.
// File systems that cannot sync a directory at all say so with EINVAL or
// ENOTSUP: the data itself was synced before the rename, which is all they
// offer.
int syncDirectory(const std::string& directory)
{
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || !syncFile(dir.get()))
        return errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP ? 0 : errno;
    return 0;
}

// The new content, first without a name where the system allows it.
class NewFile {
public:
    NewFile(const std::string& directory, const std::string& prefix) : directory_(directory), prefix_(prefix) {}
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile()
    {
        if (!name_.empty())
            ::unlink(name_.c_str());
    }

    // False, with errno set, when no new file can be made in the directory.
    bool create()
    {
#ifdef O_TMPFILE
        file_.reset(::open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (file_.fd() >= 0)
            return true;
#endif
        return createNamed();
    }
    int fd() const { return file_.fd(); }
    DescriptorFile& file() { return file_; }
    const std::string& name() const { return name_; }

    // Gives a file made without a name its name, just before the rename.
    bool giveName()
    {
        if (!name_.empty())
            return true;
        const std::string procPath = "/proc/self/fd/" + std::to_string(file_.fd());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = randomName(directory_ + "/" + prefix_);
            // Through /proc, linking needs no privilege; AT_EMPTY_PATH does.
            if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0
                || (errno == ENOENT && ::linkat(file_.fd(), "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) == 0)) {
                name_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }
    bool close() { return file_.close(); }
    // After the rename the name is the target's: nothing to remove.
    void renamed() { name_.clear(); }

private:
    bool createNamed()
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = randomName(directory_ + "/" + prefix_);
            file_.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (file_.fd() >= 0) {
                name_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    std::string directory_;
    std::string prefix_;
    std::string name_;
    DescriptorFile file_{-1};
};

} // namespace

namespace savesteps {

std::uint32_t lastError()
{
    return static_cast<std::uint32_t>(errno);
}

void setLastError(std::uint32_t error)
{
    errno = static_cast<int>(error);
}

std::string systemWords(std::uint32_t error)
{
    return std::strerror(static_cast<int>(error));
}

SaveOutcome failure(const std::string& what, std::uint32_t error)
{
    const int code = static_cast<int>(error);
    return {false, what + ": " + std::strerror(code), code == EACCES || code == EPERM, SaveFailure::System, error};
}

std::unique_ptr<OpenFile> openToRewrite(const std::string& path, SaveOutcome& failed)
{
    auto file = std::make_unique<DescriptorFile>(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status{};
    if (file->fd() < 0)
        failed = failure("Cannot open " + path + " for writing");
    else if (::fstat(file->fd(), &status) != 0)
        failed = failure("Cannot look at " + path);
    else if (!S_ISREG(status.st_mode))
        failed = failedAs(SaveFailure::NotRegular, path);
    else {
        file->setOpenedSize(static_cast<std::uint64_t>(status.st_size));
        return file;
    }
    return nullptr;
}

std::unique_ptr<OpenFile> openToReadBack(const std::string& path, SaveOutcome& failed)
{
    auto file = std::make_unique<DescriptorFile>(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file->fd() >= 0)
        return file;
    failed = failure("Cannot read " + path + " back after saving");
    return nullptr;
}

} // namespace savesteps

std::string saveFailureReason(SaveFailure failure, const std::string& path)
{
    switch (failure) {
    case SaveFailure::NotRegular:
        return path + " is not a regular file.";
    case SaveFailure::NotVerified:
        return "The saved file " + path + " does not hold what was written; another program may have changed it back.";
    case SaveFailure::ReadOnly:
    case SaveFailure::None:
    case SaveFailure::System:
        break;
    }
    return {};
}

SaveOutcome replaceFileContents(const std::string& path, const ContentSource& content)
{
    std::string target;
    SaveOutcome failed;
    if (!resolveLinks(path, target, failed))
        return failed;

    struct stat existing{};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        return failure("Cannot look at " + target, errno);
    if (exists && !S_ISREG(existing.st_mode))
        return failedAs(SaveFailure::NotRegular, target);

    const std::string directory = directoryOf(target);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string.
    std::string prefix = ".";
    prefix += baseNameOf(target);
    prefix += kTemporaryInfix;
    removeStaleTemporaries(directory, prefix);
    // A rename would leave the file's other names with the old content.
    if (exists && existing.st_nlink > 1)
        return verifyAfter(rewriteInPlace(target, content), target, content);

    NewFile file(directory, prefix);
    if (!file.create()) {
        const int error = errno;
        if (exists)
            return verifyAfter(rewriteInPlace(target, content), target, content);
        return failure("Cannot create a new file in " + directory, error);
    }
    if (!savesteps::writeContent(file.file(), content))
        return failure("Cannot write the new content of " + target, errno);

    bool metadataKept = true;
    if (exists) {
        // The mode comes last: setting it also sets the mask of an ACL.
        metadataKept = ::fchown(file.fd(), existing.st_uid, existing.st_gid) == 0
            && copyExtendedAttributes(target, file.fd()) && ::fchmod(file.fd(), existing.st_mode & 07777) == 0;
    } else if (::fchmod(file.fd(), 0644) != 0) {
        return failure("Cannot set the permissions of " + target, errno);
    }
    if (!metadataKept)
        return verifyAfter(rewriteInPlace(target, content), target, content);
    if (!syncFile(file.fd()))
        return failure("Cannot write the new content of " + target, errno);
    reached(SaveStep::NewFileWritten);

    if (!file.giveName())
        return failure("Cannot create a new file in " + directory, errno);
    reached(SaveStep::NewFileNamed);
    if (!file.close())
        return failure("Cannot write the new content of " + target, errno);

    if (::rename(file.name().c_str(), target.c_str()) != 0) {
        const int error = errno;
        if (error == EBUSY || error == EXDEV) {
            ::unlink(file.name().c_str());
            file.renamed();
            return verifyAfter(rewriteInPlace(target, content), target, content);
        }
        return failure("Cannot replace " + target, error);
    }
    file.renamed();
    reached(SaveStep::Renamed);
    const int syncError = syncDirectory(directory);
    SaveOutcome outcome = verifyContents(target, content);
    if (outcome.saved && syncError != 0) {
        outcome.confirmedOnDisk = false;
        outcome.reason = std::strerror(syncError);
    }
    return outcome;
}

} // namespace fileaccess
