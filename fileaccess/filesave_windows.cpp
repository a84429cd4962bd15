// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesave.h"

#include "filehandle_windows.h"
#include "filesavesteps.h"
#include "systemlibrary_windows.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace fileaccess {
namespace {

using savesteps::failedAs;
using savesteps::failure;
using savesteps::rewriteInPlace;
using savesteps::verifyAfter;
using savesteps::verifyContents;

bool accessDeniedForTests = false;

constexpr int kReplaceAttempts = 5;
constexpr DWORD kRetryPauseMs = 200;

// A new file could not be made beside the target, so it was rewritten in
// place; when that fails too, both reasons are given, and a refusal of
// access by either still counts as one.
SaveOutcome inPlaceAfter(const SaveOutcome& first, const SaveOutcome& inPlace)
{
    if (inPlace.saved)
        return inPlace;
    SaveOutcome both = first;
    both.reason += "; rewriting it in place failed too: " + inPlace.reason;
    both.accessDenied = first.accessDenied || inPlace.accessDenied;
    return both;
}

// More than one name: replacing the file would leave the others with the old content.
bool hasOtherNames(const std::wstring& path)
{
    Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    return file.valid() && GetFileInformationByHandle(file.get(), &information) && information.nNumberOfLinks > 1;
}

std::string randomSuffix()
{
    unsigned char random[8] = {};
    if (!systemRandom(random, sizeof random)) {
        // Only a name: CREATE_NEW refuses one that is taken.
        const ULONGLONG fallback = GetTickCount64() ^ (ULONGLONG{GetCurrentProcessId()} << 32);
        std::memcpy(random, &fallback, sizeof random);
    }
    char text[17] = {};
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", random[i]);
    return text;
}

} // namespace

namespace savesteps {

std::uint32_t lastError()
{
    return GetLastError();
}

void setLastError(std::uint32_t error)
{
    SetLastError(error);
}

std::string systemWords(std::uint32_t error)
{
    return systemMessage(error);
}

SaveOutcome failure(const std::string& what, std::uint32_t error)
{
    return {false, what + ": " + systemMessage(error),
            error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD, SaveFailure::System, error};
}

std::unique_ptr<OpenFile> openToRewrite(const std::string& path, SaveOutcome& failed)
{
    auto file = std::make_unique<HandleFile>(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                         nullptr));
    LARGE_INTEGER size{};
    if (!file->valid())
        failed = failure("Cannot open " + path + " for writing");
    else if (!GetFileSizeEx(file->get(), &size))
        failed = failure("Cannot look at " + path);
    else {
        file->setOpenedSize(static_cast<std::uint64_t>(size.QuadPart));
        return file;
    }
    return nullptr;
}

std::unique_ptr<OpenFile> openToReadBack(const std::string& path, SaveOutcome& failed)
{
    auto file = std::make_unique<HandleFile>(CreateFileW(widen(path).c_str(), GENERIC_READ,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file->valid())
        return file;
    failed = failure("Cannot read " + path + " back after saving");
    return nullptr;
}

} // namespace savesteps

std::string saveFailureReason(SaveFailure failure, const std::string& path)
{
    switch (failure) {
    case SaveFailure::NotRegular:
        return path + " is not a regular file.";
    case SaveFailure::ReadOnly:
        return path + " is read-only. Clear its read-only attribute (in its properties) to save it.";
    case SaveFailure::NotVerified:
        return "The saved file " + path
            + " does not hold what was written; another program (often antivirus software) may have changed it back.";
    case SaveFailure::None:
    case SaveFailure::System:
        break;
    }
    return {};
}

namespace testing {
void setAccessDenied(bool denied)
{
    accessDeniedForTests = denied;
}
} // namespace testing

SaveOutcome replaceFileContents(const std::string& path, const ContentSource& content)
{
    if (accessDeniedForTests)
        return failure("Cannot create a new file beside " + path, ERROR_ACCESS_DENIED);
    const std::wstring target = widen(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return failure("Cannot look at " + path, GetLastError());
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return failedAs(SaveFailure::NotRegular, path);
    // Users set it to keep other programs from changing the file: it is not
    // Tessaly's to clear. (Windows refuses then; wine would replace the file.)
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY))
        return failedAs(SaveFailure::ReadOnly, path);
    if (exists && hasOtherNames(target))
        return verifyAfter(rewriteInPlace(path, content), path, content);

    const std::size_t separator = path.find_last_of("\\/");
    const std::string directory = separator == std::string::npos ? "." : path.substr(0, separator);
    const std::string temporary = directory + "\\." + path.substr(separator + 1) + ".tessaly-" + randomSuffix();
    const std::wstring wideTemporary = widen(temporary);
    HandleFile file(
        CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const SaveOutcome notCreated = failure("Cannot create a new file in " + directory, GetLastError());
        if (exists)
            return inPlaceAfter(notCreated, verifyAfter(rewriteInPlace(path, content), path, content));
        return notCreated;
    }
    if (!savesteps::writeContent(file, content) || !file.sync() || !file.close()) {
        const DWORD error = GetLastError();
        DeleteFileW(wideTemporary.c_str());
        return failure("Cannot write the new content of " + path, error);
    }

    if (!exists) {
        if (!MoveFileExW(wideTemporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = GetLastError();
            DeleteFileW(wideTemporary.c_str());
            return failure("Cannot create " + path, error);
        }
        return verifyContents(path, content);
    }

    // ReplaceFileW keeps the old file's ACLs and streams but not its
    // attributes, so the new file is given them first; where that fails the
    // file is rewritten in place, which keeps everything.
    constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
        | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if ((attributes & kKeptAttributes) && !SetFileAttributesW(wideTemporary.c_str(), attributes & kKeptAttributes)) {
        DeleteFileW(wideTemporary.c_str());
        return verifyAfter(rewriteInPlace(path, content), path, content);
    }

    // Another program that has the file open (antivirus, the DNS client)
    // makes ReplaceFileW fail for a moment; after a few tries the file is
    // rewritten in place.
    DWORD replaceError = ERROR_SUCCESS;
    for (int attempt = 1;; ++attempt) {
        if (ReplaceFileW(target.c_str(), wideTemporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                         nullptr))
            return verifyContents(path, content);
        replaceError = GetLastError();
        if (replaceError != ERROR_SHARING_VIOLATION || attempt == kReplaceAttempts)
            break;
        Sleep(kRetryPauseMs);
    }
    DeleteFileW(wideTemporary.c_str());
    return inPlaceAfter(failure("Cannot replace " + path, replaceError),
                        verifyAfter(rewriteInPlace(path, content), path, content));
}

} // namespace fileaccess
