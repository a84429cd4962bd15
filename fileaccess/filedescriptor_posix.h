// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "openfile.h"

#include <unistd.h>

namespace fileaccess {

// Owns a POSIX file descriptor.
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
    // Hands the descriptor over, unclosed.
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
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

// Every sync of a file or folder goes through here, so that tests can see
// which was synced when, and make a sync fail (testing::setSyncHook).
bool syncFile(int fd);

// An open file through its descriptor.
class DescriptorFile final : public OpenFile {
public:
    explicit DescriptorFile(int fd) : fd_(fd) {}
    int fd() const { return fd_.get(); }
    void reset(int fd) { fd_.reset(fd); }
    void setOpenedSize(std::uint64_t size) { size_ = size; }

    bool writeAll(std::string_view bytes) override;
    long long read(char* buffer, std::size_t size) override;
    bool rewind() override;
    bool truncate(std::uint64_t size) override;
    bool sync() override { return syncFile(fd_.get()); }
    bool close() override { return fd_.close(); }
    std::uint64_t openedSize() const override { return size_; }

private:
    FileDescriptor fd_;
    std::uint64_t size_ = 0;
};

} // namespace fileaccess
