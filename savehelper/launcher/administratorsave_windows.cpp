// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's end of a save with administrator rights on Windows: checks
// the helper program it is about to start, stages the request, starts the
// helper with the "runas" verb (the consent prompt), and turns its exit code
// into the outcome.
#include "administratorsave.h"

#include "filehandle_windows.h"
#include "helperdigest.h"
#include "hostslocation.h"
#include "previousversions.h"
#include "saverequest.h"
#include "sha256_windows.h"
#include "stagedpath_windows.h"
#include "systemlibrary_windows.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QWinEventNotifier>

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace savehelper {

using fileaccess::FileSnapshot;
using fileaccess::Handle;
using fileaccess::SaveFailure;
using fileaccess::SaveOutcome;

namespace {

struct Seams {
    std::wstring helperProgram;
    bool consentDeclined = false;
    std::function<void(const std::wstring&)> stagedHook;
};

Seams& seams()
{
    static Seams instance;
    return instance;
}

// Paths in messages, in the code page the windows show them in.
std::string narrow(const std::wstring& wide)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                           nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
    return text;
}

SaveOutcome refused(const std::string& reason)
{
    return {false, reason};
}

SaveOutcome refused(const std::string& what, DWORD error)
{
    return {false, what + ": " + fileaccess::systemMessage(error), false, SaveFailure::System,
            static_cast<std::uint32_t>(error)};
}

std::wstring helperProgram()
{
    if (!seams().helperProgram.empty())
        return seams().helperProgram;
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly-save-helper.exe"))
        .toStdWString();
}

// "D:P(A;;FA;;;<the user>)(A;;FR;;;BA)(A;;FR;;;SY)": the user may do
// anything with the file, Administrators and SYSTEM may read it (the helper
// may run as another account, an administrator's, when a standard user
// consents), no one else may do anything, and nothing is inherited.
std::wstring stagedFileAccess()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    const Handle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    wchar_t* sid = nullptr;
    if (!GetTokenInformation(token, TokenUser, user.data(), size, &size)
        || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
        return {};
    std::wstring access = L"D:P(A;;FA;;;" + std::wstring(sid) + L")(A;;FR;;;BA)(A;;FR;;;SY)";
    LocalFree(sid);
    return access;
}

// Where the request is staged: the user's temporary folder when it is on a
// local drive, which is all the helper opens; otherwise (a temporary folder
// on a share) a folder of Tessaly's own below the user's local application
// data, so that a roaming TEMP does not make every save fail.
SaveOutcome stagingFolder(std::wstring& folder)
{
    wchar_t temporary[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH)
        return refused("Cannot find the temporary folder", GetLastError());
    folder = temporary;
    if (isLocalDrivePath(folder))
        return {true, {}};
    const previousversions::FolderLocation own = previousversions::tessalyFolder();
    if (own.problem.empty())
        folder = own.path.native() + L"\\";
    if (!own.problem.empty() || !isLocalDrivePath(folder))
        return refused("Neither the temporary folder " + narrow(temporary)
                       + " nor the local application data folder is on a local drive, where the save request must be "
                         "staged.");
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return refused("Cannot make the folder " + narrow(folder), GetLastError());
    return {true, {}};
}

// The request in a new file of the staging folder. The file is held
// open with read sharing only (no other program can write, rename or delete
// it) and marked to be deleted when the last handle closes: when this closes
// it after the helper has ended, and also when the editor ends unexpectedly.
class StagedRequest {
public:
    StagedRequest() = default;
    StagedRequest(const StagedRequest&) = delete;
    StagedRequest& operator=(const StagedRequest&) = delete;
    ~StagedRequest() { remove(); }

    SaveOutcome create(std::string_view header, std::string_view content)
    {
        std::wstring folder;
        if (const SaveOutcome found = stagingFolder(folder); !found.saved)
            return found;
        const std::wstring access = stagedFileAccess();
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (access.empty()
            || !ConvertStringSecurityDescriptorToSecurityDescriptorW(access.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr))
            return refused("Cannot limit who may read the staged save request", GetLastError());
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        DWORD error = ERROR_FILE_EXISTS;
        for (int attempt = 0; attempt < 10 && !file_.valid() && error == ERROR_FILE_EXISTS; ++attempt) {
            unsigned char random[8] = {};
            fileaccess::systemRandom(random, sizeof random);
            wchar_t name[40] = {};
            std::swprintf(name, 40, L"tessaly-save-%02x%02x%02x%02x%02x%02x%02x%02x.request", random[0], random[1],
                          random[2], random[3], random[4], random[5], random[6], random[7]);
            path_ = folder + name;
            file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, &attributes,
                                    CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
            error = file_.valid() ? ERROR_SUCCESS : GetLastError();
        }
        LocalFree(descriptor);
        if (!file_.valid()) {
            path_.clear();
            return refused("Cannot stage the save request in " + narrow(folder), error);
        }
        Sha256 digest;
        for (const std::string_view part : {header, content}) {
            digest.feed(part);
            if (!write(part))
                return refused("Cannot stage the save request in " + narrow(path_), GetLastError());
        }
        length_ = header.size() + content.size();
        digest_ = digest.finishHex();
        if (digest_.empty())
            return refused("The system cannot compute a SHA-256 digest");
        return {true, {}};
    }

    const std::wstring& path() const { return path_; }
    std::uint64_t length() const { return length_; }
    const std::string& digest() const { return digest_; }

    void remove()
    {
        file_.close();
        // Deleted on close; a system that kept it anyway still loses it.
        if (!path_.empty())
            DeleteFileW(path_.c_str());
        path_.clear();
    }

private:
    bool write(std::string_view bytes)
    {
        while (!bytes.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            if (!WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
                return false;
            bytes.remove_prefix(written);
        }
        return true;
    }

    Handle file_{INVALID_HANDLE_VALUE};
    std::wstring path_;
    std::uint64_t length_ = 0;
    std::string digest_;
};

std::string describeExit(DWORD code)
{
    const std::string hosts = fileaccess::systemHostsFilePath();
    switch (static_cast<HelperExit>(code)) {
    case HelperExit::FileChanged:
        return "The hosts file " + hosts + " was changed by another program after Tessaly read it.";
    case HelperExit::ArgumentsRefused:
        return "The save helper refused the command line it was started with.";
    case HelperExit::StagedFileRefused:
        return "The save helper could not open the request that Tessaly staged for it as a plain file.";
    case HelperExit::RequestAltered:
        return "The request that Tessaly staged for the save helper was changed before the helper read it.";
    case HelperExit::RequestRefused:
        return "The save helper refused the request as malformed.";
    case HelperExit::NotRegular:
        return fileaccess::saveFailureReason(SaveFailure::NotRegular, hosts);
    case HelperExit::ReadOnly:
        return fileaccess::saveFailureReason(SaveFailure::ReadOnly, hosts);
    case HelperExit::NotVerified:
        return fileaccess::saveFailureReason(SaveFailure::NotVerified, hosts);
    case HelperExit::NoSystemDirectory:
        return "The save helper could not find the system directory.";
    case HelperExit::Unreadable:
        return "The hosts file " + hosts + " cannot be read, so it was left as it is.";
    case HelperExit::Redirected:
        return "The hosts file " + hosts
            + " is reached through a junction or a symbolic link. The save helper writes only the file below the "
              "system directory itself.";
    case HelperExit::Failed:
        return "The save helper stopped on an unexpected error (it may have run out of memory).";
    default:
        break;
    }
    const std::uint32_t writeFailed = exitCode(HelperExit::WriteFailed);
    if (code >= writeFailed && code < writeFailed + 0x10000)
        return "The save helper could not write " + hosts + ": " + fileaccess::systemMessage(code - writeFailed);
    char number[16] = {};
    std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
    return std::string("The save helper ended without an answer (exit code ") + number + ").";
}

} // namespace

bool canSaveWithAdministratorRights()
{
    return true;
}

SaveOutcome saveWithAdministratorRights(const FileSnapshot& expected, std::string_view content)
{
    // The helper's file is held without write or delete sharing from its
    // check until it has ended, so that it cannot be replaced in between
    // (the portable zip may sit in a folder any program of the user writes).
    const std::wstring program = helperProgram();
    const Handle helperFile(
        CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!helperFile.valid())
        return refused("Cannot open the save helper " + narrow(program), GetLastError());
    if (savehelper::sha256OfFile(helperFile.get()) != kSaveHelperSha256)
        return refused("The save helper " + narrow(program)
                       + " is not the one built with this Tessaly (its SHA-256 differs), so it was not started. "
                         "Install Tessaly again.");

    StagedRequest staged;
    if (const SaveOutcome made = staged.create(encodeHeader(expected, content.size()), content); !made.saved)
        return made;
    if (seams().stagedHook)
        seams().stagedHook(staged.path());

    const std::wstring arguments = L"\"" + staged.path() + L"\" " + std::to_wstring(staged.length()) + L" "
        + std::wstring(staged.digest().begin(), staged.digest().end());
    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    start.lpVerb = L"runas";
    start.lpFile = program.c_str();
    start.lpParameters = arguments.c_str();
    start.nShow = SW_HIDE;
    const bool started = !seams().consentDeclined && ShellExecuteExW(&start) && start.hProcess;
    if (!started) {
        const DWORD error = seams().consentDeclined ? ERROR_CANCELLED : GetLastError();
        if (error == ERROR_CANCELLED)
            return refused("Authentication was cancelled or refused");
        return refused("The save helper could not be started", error);
    }
    const Handle process(start.hProcess);
    if (WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
        QWinEventNotifier ended(process.get());
        QEventLoop waiting;
        QObject::connect(&ended, &QWinEventNotifier::activated, &waiting, &QEventLoop::quit);
        waiting.exec(QEventLoop::ExcludeUserInputEvents);
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code))
        return refused("Cannot learn how the save helper ended", GetLastError());
    if (code == exitCode(HelperExit::Saved))
        return {true, {}};
    return refused(describeExit(code));
}

namespace testing {

void setHelperProgram(const std::wstring& path)
{
    seams().helperProgram = path;
}

void setConsentDeclined(bool declined)
{
    seams().consentDeclined = declined;
}

void setStagedHook(std::function<void(const std::wstring&)> hook)
{
    seams().stagedHook = std::move(hook);
}

std::wstring stagedRequestAccess()
{
    return stagedFileAccess();
}

} // namespace testing

} // namespace savehelper
