// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileread.h"

#include "filedescriptor_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

namespace fileaccess {

ReadOutcome readFileInChunks(const std::string& path, const std::function<void(std::string_view)>& consume,
                             const std::function<void(std::uint64_t)>& sized)
{
    // Without blocking: opening a FIFO for reading would otherwise wait for
    // a writer for ever.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const int fd = file.get();
    if (fd < 0) {
        const int error = errno;
        return {error == ENOENT ? ReadStatus::NoFile : ReadStatus::Failed, std::strerror(error)};
    }
    struct stat status{};
    if (::fstat(fd, &status) != 0)
        return ReadOutcome::failed(std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        return ReadOutcome::failed(std::strerror(EISDIR));
    if (!S_ISREG(status.st_mode))
        return ReadOutcome::failed("Not a regular file");
    if (static_cast<std::uint64_t>(status.st_size) >= kMaxFileBytes)
        return ReadOutcome::failed("The file is too large");
    if (sized)
        sized(static_cast<std::uint64_t>(status.st_size));

    const std::unique_ptr<char[]> buffer(new char[kReadChunkBytes]);
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kReadChunkBytes);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ReadOutcome::failed(std::strerror(errno));
        }
        if (got == 0)
            return {ReadStatus::Complete, {}};
        // The file may grow while it is read.
        total += static_cast<std::uint64_t>(got);
        if (total >= kMaxFileBytes)
            return ReadOutcome::failed("The file is too large");
        consume({buffer.get(), static_cast<std::size_t>(got)});
    }
}

} // namespace fileaccess
