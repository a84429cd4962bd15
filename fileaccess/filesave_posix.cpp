// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesave.h"

#include "filedescriptor_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <functional>
#include <optional>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace fileaccess {
namespace {

void (*saveStepHook)(SaveStep) = nullptr;
int (*syncHook)(int fd) = nullptr;

void reached(SaveStep step)
{
    if (saveStepHook)
        saveStepHook(step);
}

// Every sync of a save goes through here, so that tests can see which file
// was synced when, and make a sync fail.
bool syncFile(int fd)
{
    return (syncHook ? syncHook(fd) : ::fsync(fd)) == 0;
}

// New files of a save that a crash left behind are removed by later saves,
// but only those older than this program: another instance may be saving now.
const std::time_t kProgramStart = std::time(nullptr);

constexpr std::string_view kTemporaryInfix = ".tessaly-";
constexpr std::size_t kRandomLength = 6;
constexpr std::string_view kRandomAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string because(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

SaveOutcome failedAs(SaveFailure failure, const std::string& target)
{
    return {false, saveFailureReason(failure, target), false, failure};
}

SaveOutcome failure(const std::string& what, int error)
{
    return {false, because(what, error), error == EACCES || error == EPERM, SaveFailure::System,
            static_cast<std::uint32_t>(error)};
}

// One write(2) for the whole buffer where the system allows it; a short write
// goes on from where it stopped, and a write of nothing is an error instead
// of a loop that never ends.
bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool readAll(int fd, std::string& out)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        out.append(buffer, static_cast<std::size_t>(got));
    }
}

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
        struct stat status {};
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
        struct stat status {};
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

#ifdef __linux__
// The names of a NUL-separated list that `list` fills as listxattr does.
template <typename List>
bool attributeNames(List list, std::vector<std::string>& names)
{
    const ssize_t size = list(nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    const ssize_t listed = list(buffer.data(), buffer.size());
    if (listed < 0)
        return false;
    for (const char* name = buffer.data(); name < buffer.data() + listed; name += std::strlen(name) + 1)
        names.emplace_back(name);
    return true;
}

// Gives the new file exactly the extended attributes of the old one (SELinux
// label, POSIX ACLs, user data): those the old file has are copied, and those
// the new file got on its own, such as an ACL inherited from the directory's
// default ACL, are removed.
bool copyExtendedAttributes(const std::string& from, int to)
{
    std::vector<std::string> wanted;
    if (!attributeNames([&](char* names, std::size_t size) { return ::listxattr(from.c_str(), names, size); }, wanted))
        return false;
    for (const std::string& name : wanted) {
        const ssize_t valueSize = ::getxattr(from.c_str(), name.c_str(), nullptr, 0);
        if (valueSize < 0)
            return false;
        std::vector<char> value(static_cast<std::size_t>(valueSize));
        const ssize_t got = ::getxattr(from.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(got), 0) != 0)
            return false;
    }
    std::vector<std::string> present;
    if (!attributeNames([&](char* names, std::size_t size) { return ::flistxattr(to, names, size); }, present))
        return false;
    for (const std::string& name : present)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && ::fremovexattr(to, name.c_str()) != 0)
            return false;
    return true;
}
#else
bool copyExtendedAttributes(const std::string&, int)
{
    return true;
}
#endif

bool rewrite(int fd, std::string_view bytes)
{
    if (::lseek(fd, 0, SEEK_SET) != 0 || !writeAll(fd, bytes))
        return false;
    reached(SaveStep::InPlaceWritten);
    return ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && syncFile(fd);
}

// Rewrites the file where it stands, which keeps every attribute and every
// hard link of it. It cannot be atomic, so everything else is done before the
// first byte is written: one write of the whole buffer, the truncation and the
// sync follow each other with no work between. The old bytes are kept to
// write back when the write fails.
SaveOutcome rewriteInPlace(const std::string& target, std::string_view bytes)
{
    FileDescriptor file(::open(target.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0)
        return failure("Cannot open " + target + " for writing", errno);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return failure("Cannot look at " + target, errno);
    if (!S_ISREG(status.st_mode))
        return failedAs(SaveFailure::NotRegular, target);
    std::string previous;
    previous.reserve(static_cast<std::size_t>(status.st_size));
    if (!readAll(file.get(), previous))
        return failure("Cannot read " + target, errno);
    reached(SaveStep::InPlaceOldRead);

    if (rewrite(file.get(), bytes)) {
        if (!file.close())
            return failure("The new content was written to " + target
                               + " and synced, but closing the file reported an error",
                           errno);
        return {true, {}};
    }
    SaveOutcome failed = failure("Cannot write " + target, errno);
    if (!rewrite(file.get(), previous))
        failed.reason += because(" (and its previous content could not be written back", errno) + ")";
    return failed;
}

// Reads exactly `size` bytes unless the file ends first; how many were read,
// or -1 with errno set.
ssize_t readExactly(int fd, char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, buffer + done, size - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

// Compares piece by piece with the content made again: a copy of a large
// file read back whole, or kept from writing it, would double the memory
// the save needs.
SaveOutcome verifyContents(const std::string& target, const ContentSource& content)
{
    FileDescriptor file(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        return failure("Cannot read " + target + " back after saving", errno);
    std::optional<SaveOutcome> differs;
    char buffer[1 << 16];
    content([&](std::string_view piece) {
        while (!differs && !piece.empty()) {
            const std::size_t size = std::min(piece.size(), sizeof buffer);
            const ssize_t got = readExactly(file.get(), buffer, size);
            if (got < 0)
                differs = failure("Cannot read " + target + " back after saving", errno);
            else if (static_cast<std::size_t>(got) != size || std::memcmp(buffer, piece.data(), size) != 0)
                differs = failedAs(SaveFailure::NotVerified, target);
            piece.remove_prefix(size);
        }
    });
    if (differs)
        return *differs;
    const ssize_t more = readExactly(file.get(), buffer, 1);
    if (more < 0)
        return failure("Cannot read " + target + " back after saving", errno);
    return more == 0 ? SaveOutcome{true, {}} : failedAs(SaveFailure::NotVerified, target);
}

SaveOutcome verifyAfter(const SaveOutcome& written, const std::string& target, const ContentSource& content)
{
    return written.saved ? verifyContents(target, content) : written;
}

// Writes every piece of the content; false with errno set at the first
// piece that cannot be written (the later ones are passed over).
bool writeContent(int fd, const ContentSource& content)
{
    int error = 0;
    content([&](std::string_view piece) {
        if (error == 0 && !writeAll(fd, piece))
            error = errno;
    });
    errno = error;
    return error == 0;
}

// The in-place rewrite makes one write of the whole content, the narrowest
// window for a crash to tear the file in.
SaveOutcome rewriteInPlace(const std::string& target, const ContentSource& content)
{
    std::string bytes;
    content([&](std::string_view piece) { bytes.append(piece); });
    return rewriteInPlace(target, std::string_view(bytes));
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
        fd_.reset(::open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (fd_.get() >= 0)
            return true;
#endif
        return createNamed();
    }
    int fd() const { return fd_.get(); }
    const std::string& name() const { return name_; }

    // Gives a file made without a name its name, just before the rename.
    bool giveName()
    {
        if (!name_.empty())
            return true;
        const std::string procPath = "/proc/self/fd/" + std::to_string(fd_.get());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = randomName(directory_ + "/" + prefix_);
            // Through /proc, linking needs no privilege; AT_EMPTY_PATH does.
            if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0
                || (errno == ENOENT && ::linkat(fd_.get(), "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) == 0)) {
                name_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }
    bool close() { return fd_.close(); }
    // After the rename the name is the target's: nothing to remove.
    void renamed() { name_.clear(); }

private:
    bool createNamed()
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = randomName(directory_ + "/" + prefix_);
            fd_.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (fd_.get() >= 0) {
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
    FileDescriptor fd_;
};

} // namespace

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

namespace testing {
void setSaveStepHook(void (*hook)(SaveStep))
{
    saveStepHook = hook;
}

void setSyncHook(int (*hook)(int fd))
{
    syncHook = hook;
}
} // namespace testing

SaveOutcome replaceFileContents(const std::string& path, const ContentSource& content)
{
    std::string target;
    SaveOutcome failed;
    if (!resolveLinks(path, target, failed))
        return failed;

    struct stat existing {};
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
    if (!writeContent(file.fd(), content))
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

SaveOutcome replaceFileContents(const std::string& path, std::string_view bytes)
{
    return replaceFileContents(path, [bytes](const std::function<void(std::string_view)>& write) { write(bytes); });
}

} // namespace fileaccess
