// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileread.h"

#include "filedescriptor_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace fileaccess {

std::filesystem::path systemPath(const std::string& path)
{
    return path;
}

std::unique_ptr<OpenFile> openToRead(const std::filesystem::path& path, ReadOutcome& outcome)
{
    // Without blocking: opening a FIFO for reading would otherwise wait for
    // a writer for ever.
    auto file = std::make_unique<DescriptorFile>(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status{};
    if (file->fd() < 0) {
        const int error = errno;
        outcome = {error == ENOENT ? ReadStatus::NoFile : ReadStatus::Failed, std::strerror(error)};
    } else if (::fstat(file->fd(), &status) != 0) {
        outcome = ReadOutcome::failed(std::strerror(errno));
    } else if (S_ISDIR(status.st_mode)) {
        outcome = ReadOutcome::failed(std::strerror(EISDIR));
    } else if (!S_ISREG(status.st_mode)) {
        outcome = ReadOutcome::failed("Not a regular file");
    } else {
        file->setOpenedSize(static_cast<std::uint64_t>(status.st_size));
        return file;
    }
    return nullptr;
}

} // namespace fileaccess
