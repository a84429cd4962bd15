// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An open file, read and written through this system's own calls. Saving,
// reading a file and keeping previous versions all go through it: one write
// loop that goes on after a short write, and one sync that tests can watch
// (testing::setSyncHook) and make fail.

#include <cstdint>
#include <memory>
#include <string_view>

namespace fileaccess {

// A call that fails leaves the system's error (errno, or GetLastError).
class OpenFile {
public:
    virtual ~OpenFile() = default;
    // Writes every byte, going on after a short write.
    virtual bool writeAll(std::string_view bytes) = 0;
    // Reads up to `size` bytes: how many (0 at the end), or -1.
    virtual long long read(char* buffer, std::size_t size) = 0;
    virtual bool rewind() = 0;
    // Cuts the file to `size` bytes.
    virtual bool truncate(std::uint64_t size) = 0;
    // Makes what was written durable.
    virtual bool sync() = 0;
    // Closing can report a deferred write error.
    virtual bool close() = 0;
    // The size the file had when it was opened.
    virtual std::uint64_t openedSize() const = 0;
};

// A file descriptor on POSIX systems, a HANDLE on Windows.
#ifdef _WIN32
using NativeFile = void*;
#else
using NativeFile = int;
#endif

// Takes over a file opened elsewhere (a folder's own file, opened relative
// to the folder): it is closed with the OpenFile.
std::unique_ptr<OpenFile> adoptOpenFile(NativeFile file, std::uint64_t openedSize = 0);

} // namespace fileaccess
