// SPDX-License-Identifier: GPL-3.0-or-later
#include "keptfiles.h"

#include "filehandle_windows.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace previousversions::keptfiles {
namespace {

namespace fs = std::filesystem;
using fileaccess::HandleFile;
using fileaccess::systemMessage;

// The name as the folder's entries are matched (a version's is ASCII); empty
// for a name with other characters, which is none of Tessaly's.
std::string asciiName(const std::wstring& name)
{
    std::string ascii;
    for (const wchar_t c : name) {
        if (c == 0 || c > 127)
            return {};
        ascii += static_cast<char>(c);
    }
    return ascii;
}

std::wstring wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// FILETIME counts 100 ns from 1601.
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000;

std::int64_t unixSeconds(const FILETIME& time)
{
    const std::int64_t ticks = static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32)
                                                         | time.dwLowDateTime);
    return (ticks - kUnixEpochIn100ns) / 10000000;
}

class WindowsFolder final : public Folder {
public:
    explicit WindowsFolder(fs::path path) : path_(std::move(path)) {}

    const fs::path& path() const override { return path_; }

    bool list(std::vector<Entry>& entries, std::string& problem) const override
    {
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW((path_ / L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            problem = systemMessage(GetLastError());
            return false;
        }
        do {
            const std::string name = asciiName(found.cFileName);
            if (name.empty() || name == "." || name == "..")
                continue;
            // A link or junction is not one of Tessaly's files, whatever its name.
            const bool regular = !(found.dwFileAttributes
                                   & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
            entries.push_back({name, regular, (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
                               unixSeconds(found.ftLastWriteTime)});
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return true;
    }

    std::unique_ptr<fileaccess::OpenFile> openToRead(const std::string& name,
                                                     fileaccess::ReadOutcome& outcome) const override
    {
        auto file = std::make_unique<HandleFile>(CreateFileW(
            (path_ / wide(name)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION information{};
        if (!file->valid()) {
            const DWORD error = GetLastError();
            const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
            outcome = {missing ? fileaccess::ReadStatus::NoFile : fileaccess::ReadStatus::Failed, systemMessage(error)};
        } else if (!GetFileInformationByHandle(file->get(), &information)) {
            outcome = fileaccess::ReadOutcome::failed(systemMessage(GetLastError()));
        } else if (GetFileType(file->get()) != FILE_TYPE_DISK
                   || (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
            outcome = fileaccess::ReadOutcome::failed("Not a regular file");
        } else {
            file->setOpenedSize((std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow);
            return file;
        }
        return nullptr;
    }

    std::unique_ptr<fileaccess::OpenFile> create(const std::string& prefix, std::string& name,
                                                 std::string& problem) override
    {
        DWORD error = ERROR_FILE_EXISTS;
        for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
            name = randomName(prefix);
            const HANDLE file = CreateFileW((path_ / wide(name)).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                return fileaccess::adoptOpenFile(file);
            error = GetLastError();
        }
        problem = "No new file could be made in " + quoted(path_) + ": " + systemMessage(error);
        return nullptr;
    }

    Naming rename(const std::string& from, const std::string& to, std::string& problem) override
    {
        // Without MOVEFILE_REPLACE_EXISTING: never over another version.
        if (MoveFileExW((path_ / wide(from)).c_str(), (path_ / wide(to)).c_str(), MOVEFILE_WRITE_THROUGH))
            return Naming::Named;
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return Naming::Taken;
        problem = "Naming " + quoted(path_ / wide(to)) + " failed: " + systemMessage(error);
        return Naming::Failed;
    }

    bool remove(const std::string& name) override { return DeleteFileW((path_ / wide(name)).c_str()); }

    bool setModified(const std::string& name, std::int64_t seconds) override
    {
        const HANDLE file = CreateFileW((path_ / wide(name)).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        const std::uint64_t ticks = static_cast<std::uint64_t>(seconds * 10000000 + kUnixEpochIn100ns);
        const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        const bool set = SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
        return set;
    }

    // Windows has no sync of a folder; MOVEFILE_WRITE_THROUGH has written
    // the new name.
    bool sync() override { return true; }

private:
    fs::path path_;
};

} // namespace

UserFolder userFolder(const std::optional<fs::path>& stateFolder)
{
    if (stateFolder)
        return {*stateFolder, {L"Tessaly"}, {}};
    // The known folder of the token the program runs with, not the
    // LOCALAPPDATA variable, which any program of the user's can set.
    wchar_t* local = nullptr;
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local);
    UserFolder folder;
    if (SUCCEEDED(found))
        folder = {fs::path(local), {L"Tessaly"}, {}};
    else
        folder.problem = "The local application data folder cannot be found: "
            + systemMessage(static_cast<DWORD>(found));
    CoTaskMemFree(local);
    return folder;
}

std::string shown(const fs::path& path)
{
    const std::wstring& wide = path.native();
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                           nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::unique_ptr<Folder> Folder::open(const UserFolder& user, const fs::path& name, bool create, std::string& problem)
{
    std::vector<fs::path> parts = user.below;
    parts.push_back(name);
    fs::path path = user.start;
    if (create) {
        std::error_code ignored;
        fs::create_directories(path, ignored);
    }
    for (const fs::path& part : parts) {
        path /= part;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES && create && !CreateDirectoryW(path.c_str(), nullptr)
            && GetLastError() != ERROR_ALREADY_EXISTS) {
            problem = "The folder " + quoted(path) + " could not be made: " + systemMessage(GetLastError());
            return nullptr;
        }
        if (attributes == INVALID_FILE_ATTRIBUTES)
            attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (!create && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
                return nullptr;
            problem = "The folder " + quoted(path) + " cannot be used: " + systemMessage(error);
            return nullptr;
        }
        // A junction or link among Tessaly's own folders could send the
        // copies of the hosts file where others read or replace them.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            problem = "The folder " + quoted(path) + " is a link";
            return nullptr;
        }
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            problem = quoted(path) + " is not a folder";
            return nullptr;
        }
    }
    return std::make_unique<WindowsFolder>(path);
}

} // namespace previousversions::keptfiles
