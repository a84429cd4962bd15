// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileread.h"

#include "filehandle_windows.h"

#include <memory>

namespace fileaccess {

ReadOutcome readFileInChunks(const std::string& path, const std::function<void(std::string_view)>& consume,
                             const std::function<void(std::uint64_t)>& sized)
{
    const std::wstring widePath = widen(path);
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ReadOutcome::failed("Is a directory");
    Handle file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return {missing ? ReadStatus::NoFile : ReadStatus::Failed, systemMessage(error)};
    }
    // A named pipe or a device would block or never end.
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        return ReadOutcome::failed("Not a regular file");
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size)) {
        if (static_cast<std::uint64_t>(size.QuadPart) >= kMaxFileBytes)
            return ReadOutcome::failed("The file is too large");
        if (sized)
            sized(static_cast<std::uint64_t>(size.QuadPart));
    }

    const std::unique_ptr<char[]> buffer(new char[kReadChunkBytes]);
    std::uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.get(), static_cast<DWORD>(kReadChunkBytes), &got, nullptr))
            return ReadOutcome::failed(systemMessage(GetLastError()));
        if (got == 0)
            return {ReadStatus::Complete, {}};
        total += got;
        if (total >= kMaxFileBytes)
            return ReadOutcome::failed("The file is too large");
        consume({buffer.get(), got});
    }
}

} // namespace fileaccess
