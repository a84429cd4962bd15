// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileread.h"

#include "filehandle_windows.h"

namespace fileaccess {

std::filesystem::path systemPath(const std::string& path)
{
    return widen(path);
}

std::unique_ptr<OpenFile> openToRead(const std::filesystem::path& path, ReadOutcome& outcome)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        outcome = ReadOutcome::failed("Is a directory");
        return nullptr;
    }
    auto file = std::make_unique<HandleFile>(CreateFileW(path.c_str(), GENERIC_READ,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file->valid()) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        outcome = {missing ? ReadStatus::NoFile : ReadStatus::Failed, systemMessage(error)};
    } else if (GetFileType(file->get()) != FILE_TYPE_DISK) {
        // A named pipe or a device would block or never end.
        outcome = ReadOutcome::failed("Not a regular file");
    } else if (!GetFileSizeEx(file->get(), &size)) {
        outcome = ReadOutcome::failed(systemMessage(GetLastError()));
    } else {
        file->setOpenedSize(static_cast<std::uint64_t>(size.QuadPart));
        return file;
    }
    return nullptr;
}

} // namespace fileaccess
