// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedescriptor_posix.h"
#include "filesave.h"

#include <cerrno>
#include <unistd.h>

namespace fileaccess {
namespace {

int (*syncHook)(int fd) = nullptr;

} // namespace

bool syncFile(int fd)
{
    return (syncHook ? syncHook(fd) : ::fsync(fd)) == 0;
}

// One write(2) for the whole buffer where the system allows it; a short write
// goes on from where it stopped, and a write of nothing is an error instead
// of a loop that never ends.
bool DescriptorFile::writeAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
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

long long DescriptorFile::read(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd_.get(), buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool DescriptorFile::rewind()
{
    return ::lseek(fd_.get(), 0, SEEK_SET) == 0;
}

bool DescriptorFile::truncate(std::uint64_t size)
{
    return ::ftruncate(fd_.get(), static_cast<off_t>(size)) == 0;
}

std::unique_ptr<OpenFile> adoptOpenFile(NativeFile file, std::uint64_t openedSize)
{
    auto adopted = std::make_unique<DescriptorFile>(file);
    adopted->setOpenedSize(openedSize);
    return adopted;
}

namespace testing {
void setSyncHook(int (*hook)(int fd))
{
    syncHook = hook;
}
} // namespace testing

} // namespace fileaccess
