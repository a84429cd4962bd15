// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "openfile.h"

#include <windows.h>

#include <string>

namespace fileaccess {

// The system's words for an error code, without the closing full stop.
std::string systemMessage(DWORD error);
// Paths come in the ANSI code page, as GetSystemDirectoryA gives them.
std::wstring widen(const std::string& ansi);

// Owns a Win32 file handle.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    void reset(HANDLE handle)
    {
        close();
        handle_ = handle;
    }
    bool close()
    {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
    }

private:
    HANDLE handle_;
};

// An open file through its handle.
class HandleFile final : public OpenFile {
public:
    explicit HandleFile(HANDLE handle) : handle_(handle) {}
    bool valid() const { return handle_.valid(); }
    HANDLE get() const { return handle_.get(); }
    void setOpenedSize(std::uint64_t size) { size_ = size; }

    bool writeAll(std::string_view bytes) override;
    long long read(char* buffer, std::size_t size) override;
    bool rewind() override { return moveTo(0); }
    bool truncate(std::uint64_t size) override { return moveTo(size) && SetEndOfFile(handle_.get()); }
    bool sync() override { return FlushFileBuffers(handle_.get()); }
    bool close() override { return handle_.close(); }
    std::uint64_t openedSize() const override { return size_; }

private:
    bool moveTo(std::uint64_t position);

    Handle handle_;
    std::uint64_t size_ = 0;
};

} // namespace fileaccess
