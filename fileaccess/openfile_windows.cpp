// SPDX-License-Identifier: GPL-3.0-or-later
#include "filehandle_windows.h"

namespace fileaccess {

bool HandleFile::writeAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(handle_.get(), bytes.data(), chunk, &written, nullptr))
            return false;
        // Nothing written without an error would otherwise loop for ever.
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

long long HandleFile::read(char* buffer, std::size_t size)
{
    DWORD got = 0;
    const DWORD wanted = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    return ReadFile(handle_.get(), buffer, wanted, &got, nullptr) ? static_cast<long long>(got) : -1;
}

bool HandleFile::moveTo(std::uint64_t position)
{
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(handle_.get(), to, nullptr, FILE_BEGIN);
}

std::unique_ptr<OpenFile> adoptOpenFile(NativeFile file, std::uint64_t openedSize)
{
    auto adopted = std::make_unique<HandleFile>(static_cast<HANDLE>(file));
    adopted->setOpenedSize(openedSize);
    return adopted;
}

} // namespace fileaccess
