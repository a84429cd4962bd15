// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesave.h"

#include "filehandle_windows.h"
#include "systemlibrary_windows.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

namespace fileaccess {
namespace {

bool accessDeniedForTests = false;

constexpr int kReplaceAttempts = 5;
constexpr DWORD kRetryPauseMs = 200;

std::string because(const std::string& what, DWORD error)
{
    return what + ": " + systemMessage(error);
}

SaveOutcome failure(const std::string& what, DWORD error)
{
    return {false, because(what, error), error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD,
            SaveFailure::System, static_cast<std::uint32_t>(error)};
}

SaveOutcome failedAs(SaveFailure failure, const std::string& path)
{
    return {false, saveFailureReason(failure, path), false, failure};
}

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

bool writeAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr))
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

bool readAll(HANDLE file, std::string& out)
{
    char buffer[1 << 16];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        out.append(buffer, got);
    }
}

bool rewind(HANDLE file)
{
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
}

// Rewrites the file where it stands, keeping its old bytes to write back
// when that fails.
SaveOutcome rewriteInPlace(const std::string& path, std::string_view bytes)
{
    Handle file(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return failure("Cannot open " + path + " for writing", GetLastError());
    std::string previous;
    if (!readAll(file.get(), previous))
        return failure("Cannot read " + path, GetLastError());
    if (rewind(file.get()) && writeAll(file.get(), bytes) && SetEndOfFile(file.get())
        && FlushFileBuffers(file.get()))
        return {true, {}};
    SaveOutcome failed = failure("Cannot write " + path, GetLastError());
    if (!(rewind(file.get()) && writeAll(file.get(), previous) && SetEndOfFile(file.get())
          && FlushFileBuffers(file.get())))
        failed.reason += because(" (and its previous content could not be written back", GetLastError()) + ")";
    return failed;
}

// Compares piece by piece with the content made again: a copy of a large
// file read back whole, or kept from writing it, would double the memory
// the save needs.
SaveOutcome verifyContents(const std::string& path, const ContentSource& content)
{
    Handle file(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return failure("Cannot read " + path + " back after saving", GetLastError());
    // Reads exactly `size` bytes unless the file ends first.
    auto readExactly = [&](char* buffer, DWORD size, DWORD& done) {
        done = 0;
        while (done < size) {
            DWORD got = 0;
            if (!ReadFile(file.get(), buffer + done, size - done, &got, nullptr))
                return false;
            if (got == 0)
                break;
            done += got;
        }
        return true;
    };
    std::optional<SaveOutcome> differs;
    char buffer[1 << 16];
    content([&](std::string_view piece) {
        while (!differs && !piece.empty()) {
            const DWORD size = static_cast<DWORD>(std::min<std::size_t>(piece.size(), sizeof buffer));
            DWORD got = 0;
            if (!readExactly(buffer, size, got))
                differs = failure("Cannot read " + path + " back after saving", GetLastError());
            else if (got != size || std::memcmp(buffer, piece.data(), size) != 0)
                differs = failedAs(SaveFailure::NotVerified, path);
            piece.remove_prefix(size);
        }
    });
    if (differs)
        return *differs;
    DWORD more = 0;
    if (!readExactly(buffer, 1, more))
        return failure("Cannot read " + path + " back after saving", GetLastError());
    return more == 0 ? SaveOutcome{true, {}} : failedAs(SaveFailure::NotVerified, path);
}

SaveOutcome verifyAfter(const SaveOutcome& written, const std::string& path, const ContentSource& content)
{
    return written.saved ? verifyContents(path, content) : written;
}

// Writes every piece of the content; false with the last error set at the
// first piece that cannot be written (the later ones are passed over).
bool writeContent(HANDLE file, const ContentSource& content)
{
    DWORD error = ERROR_SUCCESS;
    content([&](std::string_view piece) {
        if (error == ERROR_SUCCESS && !writeAll(file, piece))
            error = GetLastError();
    });
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

// The in-place rewrite makes one write of the whole content, the narrowest
// window for a crash to tear the file in.
SaveOutcome rewriteInPlace(const std::string& path, const ContentSource& content)
{
    std::string bytes;
    content([&](std::string_view piece) { bytes.append(piece); });
    return rewriteInPlace(path, std::string_view(bytes));
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
    Handle file(CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.valid()) {
        const SaveOutcome notCreated = failure("Cannot create a new file in " + directory, GetLastError());
        if (exists)
            return inPlaceAfter(notCreated, verifyAfter(rewriteInPlace(path, content), path, content));
        return notCreated;
    }
    if (!writeContent(file.get(), content) || !FlushFileBuffers(file.get()) || !file.close()) {
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

SaveOutcome replaceFileContents(const std::string& path, std::string_view bytes)
{
    return replaceFileContents(path, [bytes](const std::function<void(std::string_view)>& write) { write(bytes); });
}

} // namespace fileaccess
