// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the hosts data and the Windows file code, run under wine: the
// system directory query, saving with ReplaceFileW (attributes kept, the
// in-place fallback, no temporary file left), and paths in the ANSI code page.
#include "filesave.h"
#include "hostslocation.h"
#include "fileread.h"
#include "hostsreader.h"
#include "hostswriter.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

bool check(bool condition, const char* what, int line, const std::string& detail = {})
{
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL line %d: %s %s\n", line, what, detail.c_str());
    }
    return condition;
}
#define CHECK(condition) check((condition), #condition, __LINE__)
#define CHECK_SAVED(outcome) check((outcome).saved, "saved", __LINE__, (outcome).reason)

// A fresh directory below the temporary directory.
std::string makeDirectory(const char* name)
{
    char temporary[MAX_PATH];
    GetTempPathA(MAX_PATH, temporary);
    std::string path = std::string(temporary) + "tessaly-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

bool underWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine's own ReplaceFileW makes a temporary "rf*.tmp" with GetTempFileName
// and leaves it behind when it fails; Windows makes none. It is not ours.
bool isWinesLeftover(const std::string& name)
{
    return underWine() && name.rfind("rf", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp";
}

std::vector<std::string> filesIn(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != ".." && !isWinesLeftover(name))
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string contentOf(const std::string& path)
{
    return platform::readFileBytes(path).bytes;
}

void systemDirectoryGivesTheHostsPath()
{
    const std::string directory = platform::systemDirectory();
    CHECK(lstrcmpiA(directory.c_str(), "C:\\windows\\system32") == 0);
    CHECK(platform::systemHostsFilePath() == directory + "\\Drivers\\etc\\hosts");
}

void readAndWriteWithCrLf()
{
    HostCollection hosts;
    std::string header;
    const ParseStats stats = parseHosts("# lab\r\n127.0.0.1 localhost LOCALHOST\r\n10.0.0.1\ta b # c\r\n", hosts, header);
    CHECK(stats.duplicates == 1);
    CHECK(formatHostsFile(header, hosts)
          == "# lab\r\n\r\n127.0.0.1\tlocalhost\r\n10.0.0.1\ta\t\t# c\r\n10.0.0.1\tb\t\t# c\r\n");
}

void saveCreatesAndReplaces()
{
    const std::string directory = makeDirectory("replace");
    const std::string path = directory + "\\hosts";
    CHECK_SAVED(platform::replaceFileContents(path, "first\r\n"));
    CHECK(contentOf(path) == "first\r\n");

    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    CHECK_SAVED(platform::replaceFileContents(path, "second, longer than the first\r\n"));
    CHECK(contentOf(path) == "second, longer than the first\r\n");
    CHECK((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0);
    CHECK(filesIn(directory) == std::vector<std::string>{"hosts"});
}

void sharingViolationFallsBackToRewritingInPlace()
{
    const std::string directory = makeDirectory("shared");
    const std::string path = directory + "\\hosts";
    CHECK_SAVED(platform::replaceFileContents(path, "old content\r\n"));
    // Another program holds the file open without letting it be replaced.
    const HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(other != INVALID_HANDLE_VALUE);
    CHECK_SAVED(platform::replaceFileContents(path, "new\r\n"));
    CloseHandle(other);
    CHECK(contentOf(path) == "new\r\n");
    const std::vector<std::string> left = filesIn(directory);
    check(left == std::vector<std::string>{"hosts"}, "only the hosts file is left", __LINE__,
          left.size() > 1 ? left[1] : std::string());
}

void hardLinkedFileIsRewrittenForEveryName()
{
    const std::string directory = makeDirectory("links");
    const std::string path = directory + "\\hosts";
    CHECK_SAVED(platform::replaceFileContents(path, "old\r\n"));
    DeleteFileA((directory + "\\second").c_str()); // left by an earlier run with the same process id
    CHECK(CreateHardLinkA((directory + "\\second").c_str(), path.c_str(), nullptr));
    CHECK_SAVED(platform::replaceFileContents(path, "new\r\n"));
    CHECK(contentOf(directory + "\\second") == "new\r\n");
}

void readingRefusesWhatIsNotAFile()
{
    const std::string directory = makeDirectory("reading");
    const platform::FileBytes folder = platform::readFileBytes(directory);
    CHECK(folder.status == ReadStatus::Failed);
    CHECK(folder.reason == "Is a directory");
    CHECK(platform::readFileBytes(directory + "\\missing").status == ReadStatus::NoFile);
    // The console is a character device: it would wait for typing.
    const platform::FileBytes console = platform::readFileBytes("CONIN$");
    check(console.status == ReadStatus::Failed, "console refused", __LINE__, console.reason);
}

void failuresAreReportedAndLeaveNothing()
{
    const std::string directory = makeDirectory("failures");
    const platform::SaveOutcome intoDirectory = platform::replaceFileContents(directory, "x");
    CHECK(!intoDirectory.saved);
    CHECK(intoDirectory.reason.find("not a regular file") != std::string::npos);

    const platform::SaveOutcome missingFolder = platform::replaceFileContents(directory + "\\no\\hosts", "x");
    CHECK(!missingFolder.saved);
    CHECK(missingFolder.reason.find(directory + "\\no") != std::string::npos);
    CHECK(filesIn(directory).empty());
}

void pathsAreInTheAnsiCodePage()
{
    if (GetACP() != 1252) {
        std::printf("SKIP ANSI path test: code page %u\n", GetACP());
        return;
    }
    const std::string directory = makeDirectory("ansi");
    CHECK_SAVED(platform::replaceFileContents(directory + "\\caf\xE9.hosts", "x\r\n"));
    std::wstring wide(directory.begin(), directory.end());
    wide += L"\\caf\u00E9.hosts";
    CHECK(GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES);
}

} // namespace

int main()
{
    const std::vector<std::function<void()>> tests{systemDirectoryGivesTheHostsPath, readAndWriteWithCrLf,
                                                   saveCreatesAndReplaces, sharingViolationFallsBackToRewritingInPlace,
                                                   hardLinkedFileIsRewrittenForEveryName, readingRefusesWhatIsNotAFile,
                                                   failuresAreReportedAndLeaveNothing, pathsAreInTheAnsiCodePage};
    for (const auto& test : tests)
        test();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
