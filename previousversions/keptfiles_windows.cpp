// SPDX-License-Identifier: GPL-3.0-or-later
#include "keptfiles.h"

#include "filehandle_windows.h"

#include <algorithm>
#include <cstdlib>
#include <random>

namespace previousversions::keptfiles {
namespace {

namespace fs = std::filesystem;
using fileaccess::Handle;
using fileaccess::systemMessage;

// In the ANSI code page, as the windows show it; path::string() would throw
// on a character the code page lacks.
std::string quoted(const fs::path& path)
{
    const std::wstring& wide = path.native();
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                           nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), length, nullptr, nullptr);
    return "\"" + narrow + "\"";
}

class WindowsNewFile : public NewFile {
public:
    WindowsNewFile(fs::path path, HANDLE file) : path_(std::move(path)), file_(file) {}
    ~WindowsNewFile() override
    {
        file_.close();
        if (!named_)
            DeleteFileW(path_.c_str());
    }

    const fs::path& path() const override { return path_; }

    bool write(std::string_view bytes, std::string& problem) override
    {
        while (!bytes.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
                problem = "Writing " + quoted(path_) + " failed: " + systemMessage(GetLastError());
                return false;
            }
            bytes.remove_prefix(written);
        }
        return true;
    }

    bool finish(std::string& problem) override
    {
        if (!FlushFileBuffers(file_.get()) || !file_.close()) {
            problem = "Writing " + quoted(path_) + " to disk failed: " + systemMessage(GetLastError());
            return false;
        }
        return true;
    }

    Naming nameAs(const fs::path& target, std::string& problem) override
    {
        // Without MOVEFILE_REPLACE_EXISTING: never over another version.
        if (MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            named_ = true;
            return Naming::Named;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return Naming::Taken;
        problem = "Naming " + quoted(target) + " failed: " + systemMessage(error);
        return Naming::Failed;
    }

private:
    fs::path path_;
    Handle file_;
    bool named_ = false;
};

} // namespace

fs::path folderFromEnvironment(std::string& problem)
{
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local && fs::path(local).is_absolute())
        return fs::path(local) / L"Tessaly" / L"previous";
    problem = "The local application data folder is not set (LOCALAPPDATA)";
    return {};
}

std::string prepareFolder(const fs::path& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    // A junction or link there could send the copies of the hosts file
    // where others read or replace them.
    for (const fs::path& own : {folder.parent_path(), folder}) {
        const DWORD attributes = GetFileAttributesW(own.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return "The folder " + quoted(own)
                + " could not be made: " + (error ? error.message() : systemMessage(GetLastError()));
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return "The folder " + quoted(own) + " is a link";
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return quoted(own) + " is not a folder";
    }
    return {};
}

std::unique_ptr<NewFile> NewFile::create(const fs::path& folder, std::string& problem)
{
    std::random_device random;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        const fs::path path = folder / (L".partial-" + std::to_wstring(random()));
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return std::make_unique<WindowsNewFile>(path, file);
        error = GetLastError();
    }
    problem = "No new file could be made in " + quoted(folder) + ": " + systemMessage(error);
    return nullptr;
}

bool syncFolder(const fs::path&)
{
    // Windows has no sync of a folder; MOVEFILE_WRITE_THROUGH has written
    // the new name.
    return true;
}

} // namespace previousversions::keptfiles
