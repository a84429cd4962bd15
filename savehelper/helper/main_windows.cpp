// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-save-helper.exe: writes the system's hosts file for the editor,
// which runs as the user, with the administrator rights that Windows gave
// it after the user's consent.
//
// It is the only code of Tessaly that runs with those rights, so it does as
// little as possible and links no Qt. It writes only the hosts file below
// the system directory, which it computes itself. Its command line names the
// request that the editor staged and holds open (see saverequest.h); that
// path is read, never written. It checks the whole request, its length and
// SHA-256 before it touches anything, checks that the file is still what the
// editor saw, and saves through the same safe save as the editor. Its answer
// is its exit code.
#include "filehandle_windows.h"
#include "fileread.h"
#include "filesave.h"
#include "hostslocation.h"
#include "saverequest.h"
#include "sha256_windows.h"
#include "stagedpath_windows.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>

namespace {

using namespace savehelper;

bool parseLength(const wchar_t* text, std::uint64_t& length)
{
    const std::size_t digits = std::wcslen(text);
    if (digits == 0 || digits > 12
        || !std::all_of(text, text + digits, [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return false;
    length = 0;
    for (const wchar_t* c = text; *c; ++c)
        length = length * 10 + static_cast<std::uint64_t>(*c - L'0');
    return true;
}

bool parseDigest(const wchar_t* text, std::string& digest)
{
    digest.clear();
    for (const wchar_t* c = text; *c; ++c) {
        if (!((*c >= L'0' && *c <= L'9') || (*c >= L'a' && *c <= L'f')))
            return false;
        digest.push_back(static_cast<char>(*c));
    }
    return digest.size() == 64;
}

constexpr DWORD kNotPlainFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

// Opens the staged request (a path on a local drive) for reading, refusing
// anything but a regular file reached without a reparse point; should a pipe
// be reached after all, its server learns nothing of who opened it. The
// editor holds it open with read sharing only and marked for deletion when
// it closes it, so this open has to allow writing and deletion by that one
// handle.
HANDLE openStagedRequest(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kNotPlainFile))
        return INVALID_HANDLE_VALUE;
    const HANDLE file = CreateFileW(
        path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information)
        || (information.dwFileAttributes & kNotPlainFile)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Whether the hosts file (or, while it is missing, its folder) is reached
// through a junction or a symbolic link: the path the system resolves it to
// differs from the one computed. A user who could plant one would have the
// helper write another file.
bool isRedirected(const std::wstring& path)
{
    std::wstring opened = path;
    if (GetFileAttributesW(opened.c_str()) == INVALID_FILE_ATTRIBUTES)
        opened = opened.substr(0, opened.find_last_of(L'\\'));
    const fileaccess::Handle file(CreateFileW(opened.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid())
        return false; // the save itself reports why the file cannot be reached
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file.get(), resolved.data(), static_cast<DWORD>(resolved.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= resolved.size()) {
        resolved.resize(length + 1);
        length = GetFinalPathNameByHandleW(file.get(), resolved.data(), static_cast<DWORD>(resolved.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= resolved.size())
        return true;
    resolved.resize(length);
    constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
    if (std::wstring_view(resolved).starts_with(kLongPrefix))
        resolved.erase(0, kLongPrefix.size());
    return CompareStringOrdinal(resolved.c_str(), static_cast<int>(resolved.size()), opened.c_str(),
                                static_cast<int>(opened.size()), TRUE)
        != CSTR_EQUAL;
}

std::uint32_t save(int argc, wchar_t** argv)
{
    std::uint64_t length = 0;
    std::string expectedDigest;
    if (argc != 4 || !parseLength(argv[2], length) || !parseDigest(argv[3], expectedDigest) || length < kHeaderBytes
        || length > kHeaderBytes + kMaxContentBytes || !isLocalDrivePath(argv[1]))
        return exitCode(HelperExit::ArgumentsRefused);

    const HANDLE staged = openStagedRequest(argv[1]);
    if (staged == INVALID_HANDLE_VALUE)
        return exitCode(HelperExit::StagedFileRefused);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(staged, &size) || static_cast<std::uint64_t>(size.QuadPart) != length) {
        CloseHandle(staged);
        return exitCode(HelperExit::RequestAltered);
    }
    Sha256 digest;
    std::uint64_t total = 0;
    auto read = [&](char* buffer, std::size_t wanted) -> long long {
        DWORD got = 0;
        if (!ReadFile(staged, buffer, static_cast<DWORD>(std::min<std::size_t>(wanted, 1u << 20)), &got, nullptr))
            return -1;
        digest.feed({buffer, got});
        total += got;
        return got;
    };
    Request request;
    const std::string problem = readRequest(read, request);
    // A refused request may stop early: the rest still counts for the digest,
    // so that a changed file is told apart from a malformed request.
    char rest[4096];
    while (total < length && read(rest, sizeof rest) > 0)
        continue;
    CloseHandle(staged);
    if (total != length || digest.finishHex() != expectedDigest)
        return exitCode(HelperExit::RequestAltered);
    if (!problem.empty())
        return exitCode(HelperExit::RequestRefused);

    // Without the system directory the path would be relative to the
    // current drive: nothing is written then.
    if (fileaccess::systemDirectory().empty())
        return exitCode(HelperExit::NoSystemDirectory);
    const std::string path = fileaccess::systemHostsFilePath();
    if (isRedirected(fileaccess::widen(path)))
        return exitCode(HelperExit::Redirected);
    const fileaccess::FileSnapshot now = fileaccess::snapshotFile(path);
    if (now.state == fileaccess::FileSnapshot::State::Unreadable)
        return exitCode(HelperExit::Unreadable);
    if (!(now == request.expected))
        return exitCode(HelperExit::FileChanged);
    return helperExitFor(fileaccess::replaceFileContents(path, request.content));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Before anything loads a DLL: only from the system folder, never from
    // the helper's own folder, which its user may be able to write.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // An exit code of its own for whatever goes wrong, rather than an abort
    // (exit code 3) that the editor would take for a refused staged file.
    try {
        return static_cast<int>(save(argc, argv));
    } catch (...) {
        return static_cast<int>(exitCode(HelperExit::Failed));
    }
}
