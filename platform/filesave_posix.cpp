#include "filesave.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace platform {
namespace {

std::string because(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closing can report a deferred write error, so it is checked where it matters.
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
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
bool resolveLinks(std::string path, std::string& target, std::string& reason)
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
            reason = because("Cannot follow the link " + path, errno);
            return false;
        }
        std::string next(link.data(), static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : directoryOf(path) + "/" + next;
    }
    reason = because("Cannot follow the link " + path, ELOOP);
    return false;
}

#ifdef __linux__
// Copies every extended attribute (SELinux label, POSIX ACLs, user data).
bool copyExtendedAttributes(const std::string& from, int to)
{
    const ssize_t listSize = ::listxattr(from.c_str(), nullptr, 0);
    if (listSize < 0)
        return errno == ENOTSUP;
    std::vector<char> names(static_cast<std::size_t>(listSize));
    const ssize_t listed = ::listxattr(from.c_str(), names.data(), names.size());
    if (listed < 0)
        return false;
    for (const char* name = names.data(); name < names.data() + listed; name += std::strlen(name) + 1) {
        const ssize_t valueSize = ::getxattr(from.c_str(), name, nullptr, 0);
        if (valueSize < 0)
            return false;
        std::vector<char> value(static_cast<std::size_t>(valueSize));
        const ssize_t got = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0)
            return false;
    }
    return true;
}
#else
bool copyExtendedAttributes(const std::string&, int)
{
    return true;
}
#endif

// Rewrites the file where it stands, which keeps every attribute of it. Not
// atomic, so the old bytes are kept and written back when the write fails.
SaveOutcome rewriteInPlace(const std::string& target, std::string_view bytes)
{
    FileDescriptor file(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    if (file.get() < 0)
        return {false, because("Cannot open " + target + " for writing", errno)};
    std::string previous;
    if (!readAll(file.get(), previous))
        return {false, because("Cannot read " + target, errno)};

    if (::lseek(file.get(), 0, SEEK_SET) == 0 && writeAll(file.get(), bytes)
        && ::ftruncate(file.get(), static_cast<off_t>(bytes.size())) == 0 && ::fsync(file.get()) == 0
        && file.close())
        return {true, {}};

    const int error = errno;
    SaveOutcome failed{false, because("Cannot write " + target, error)};
    if (file.get() < 0)
        return failed;
    const bool restored = ::lseek(file.get(), 0, SEEK_SET) == 0 && writeAll(file.get(), previous)
        && ::ftruncate(file.get(), static_cast<off_t>(previous.size())) == 0 && ::fsync(file.get()) == 0;
    if (!restored)
        failed.reason += because(" (and its previous content could not be written back", errno) + ")";
    return failed;
}

SaveOutcome verifyContents(const std::string& target, std::string_view bytes)
{
    FileDescriptor file(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
    std::string written;
    if (file.get() < 0 || !readAll(file.get(), written))
        return {false, because("Cannot read " + target + " back after saving", errno)};
    if (written != bytes)
        return {false, "The saved file " + target
                           + " does not hold what was written; another program may have changed it back."};
    return {true, {}};
}

SaveOutcome verifyAfter(const SaveOutcome& written, const std::string& target, std::string_view bytes)
{
    return written.saved ? verifyContents(target, bytes) : written;
}

void syncDirectory(const std::string& directory)
{
    // Makes the rename durable. Some file systems cannot sync a directory;
    // the data itself was synced before the rename, so this is best effort.
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

} // namespace

SaveOutcome replaceFileContents(const std::string& path, std::string_view bytes)
{
    std::string target;
    std::string reason;
    if (!resolveLinks(path, target, reason))
        return {false, reason};

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        return {false, because("Cannot look at " + target, errno)};
    if (exists && !S_ISREG(existing.st_mode))
        return {false, target + " is not a regular file."};

    const std::string directory = directoryOf(target);
    std::string temporary = directory + "/." + baseNameOf(target) + ".tessaly-XXXXXX";
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        const int error = errno;
        if (exists)
            return verifyAfter(rewriteInPlace(target, bytes), target, bytes);
        return {false, because("Cannot create a new file in " + directory, error)};
    }

    auto discard = [&](const std::string& failure) {
        ::unlink(temporary.c_str());
        return SaveOutcome{false, failure};
    };
    if (!writeAll(file.get(), bytes) || ::fsync(file.get()) != 0)
        return discard(because("Cannot write the new content of " + target, errno));

    bool metadataKept = true;
    if (exists) {
        if (::fchown(file.get(), existing.st_uid, existing.st_gid) != 0
            || ::fchmod(file.get(), existing.st_mode & 07777) != 0 || !copyExtendedAttributes(target, file.get()))
            metadataKept = false;
    } else if (::fchmod(file.get(), 0644) != 0) {
        return discard(because("Cannot set the permissions of " + target, errno));
    }
    if (!file.close())
        return discard(because("Cannot write the new content of " + target, errno));
    if (!metadataKept) {
        ::unlink(temporary.c_str());
        return verifyAfter(rewriteInPlace(target, bytes), target, bytes);
    }

    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        if (error == EBUSY || error == EXDEV)
            return verifyAfter(rewriteInPlace(target, bytes), target, bytes);
        return {false, because("Cannot replace " + target, error)};
    }
    syncDirectory(directory);
    return verifyContents(target, bytes);
}

} // namespace platform
