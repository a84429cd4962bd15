// SPDX-License-Identifier: GPL-3.0-or-later
// Saving on Windows: ReplaceFileW keeps the file's attributes, a file held
// open by another program or with several hard links is rewritten in place,
// nothing is left beside it, and paths are in the ANSI code page. (Modes,
// owners and extended attributes of the POSIX save have no counterpart.)
#include "fileread.h"
#include "filesave.h"
#include "namecache.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

#include <memory>

class FileSaveTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void missingFileIsCreatedAndReplacedKeepingAttributes();
    void fileHeldOpenByAnotherProgramIsRewrittenInPlace();
    void fileLockedByAnotherProgramGivesBothReasons();
    void hardLinkedFileIsRewrittenForEveryName();
    void whatIsNotAFileIsRefused();
    void missingFolderIsReportedAndLeavesNothing();
    void readOnlyFileIsRefused();
    void pathsAreInTheAnsiCodePage();
    void nameCacheIsFlushed();

private:
    std::string path(const char* name) const
    {
        return QDir::toNativeSeparators(directory_->filePath(QLatin1String(name))).toLocal8Bit().toStdString();
    }
    QStringList entries() const
    {
        QStringList names =
            QDir(directory_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        // Wine's own ReplaceFileW makes a temporary "rf*.tmp" with
        // GetTempFileName and leaves it behind when it fails; Windows makes
        // none. It is not ours.
        if (underWine())
            names.removeIf([](const QString& name) { return name.startsWith("rf") && name.endsWith(".tmp"); });
        return names;
    }
    static bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }
    static std::string contentOf(const std::string& file) { return fileaccess::readFileBytes(file).bytes; }

    std::unique_ptr<QTemporaryDir> directory_;
};

#define QVERIFY_SAVED(outcome)                                                                                         \
    do {                                                                                                               \
        const fileaccess::SaveOutcome saved = (outcome);                                                               \
        QVERIFY2(saved.saved, saved.reason.c_str());                                                                   \
    } while (false)

void FileSaveTest::init()
{
    directory_ = std::make_unique<QTemporaryDir>();
    QVERIFY(directory_->isValid());
}

void FileSaveTest::missingFileIsCreatedAndReplacedKeepingAttributes()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(fileaccess::replaceFileContents(hosts, "first\r\n"));
    QCOMPARE(contentOf(hosts), "first\r\n");

    QVERIFY(SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    QVERIFY_SAVED(fileaccess::replaceFileContents(hosts, "second, longer than the first\r\n"));
    QCOMPARE(contentOf(hosts), "second, longer than the first\r\n");
    QVERIFY(GetFileAttributesA(hosts.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::fileHeldOpenByAnotherProgramIsRewrittenInPlace()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(fileaccess::replaceFileContents(hosts, "old content\r\n"));
    // Open without FILE_SHARE_DELETE: the file cannot be replaced meanwhile.
    const HANDLE other = CreateFileA(hosts.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    QVERIFY(other != INVALID_HANDLE_VALUE);
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(hosts, "new\r\n");
    CloseHandle(other);
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(contentOf(hosts), "new\r\n");
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::fileLockedByAnotherProgramGivesBothReasons()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(fileaccess::replaceFileContents(hosts, "old content\r\n"));
    // No sharing at all: neither replacing nor rewriting in place can work,
    // and the reason names why the file could not be replaced first.
    const HANDLE other = CreateFileA(hosts.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                     nullptr);
    QVERIFY(other != INVALID_HANDLE_VALUE);
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(hosts, "new\r\n");
    CloseHandle(other);
    QVERIFY(!outcome.saved);
    QVERIFY2(outcome.reason.rfind("Cannot replace " + hosts + ": ", 0) == 0, outcome.reason.c_str());
    QVERIFY2(outcome.reason.find("; rewriting it in place failed too: Cannot open " + hosts) != std::string::npos,
             outcome.reason.c_str());
    QCOMPARE(outcome.failure, fileaccess::SaveFailure::System);
    QCOMPARE(outcome.systemError, std::uint32_t{ERROR_SHARING_VIOLATION});
    QVERIFY(!outcome.accessDenied);
    QCOMPARE(contentOf(hosts), "old content\r\n");
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::hardLinkedFileIsRewrittenForEveryName()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(fileaccess::replaceFileContents(hosts, "old\r\n"));
    QVERIFY(CreateHardLinkA(path("second").c_str(), hosts.c_str(), nullptr));
    QVERIFY_SAVED(fileaccess::replaceFileContents(hosts, "new\r\n"));
    QCOMPARE(contentOf(path("second")), "new\r\n");
}

void FileSaveTest::whatIsNotAFileIsRefused()
{
    const std::string folder = path("");
    const fileaccess::SaveOutcome intoFolder = fileaccess::replaceFileContents(folder, "x");
    QVERIFY(!intoFolder.saved);
    QVERIFY2(intoFolder.reason.find("not a regular file") != std::string::npos, intoFolder.reason.c_str());

    const fileaccess::FileContents folderRead = fileaccess::readFileBytes(folder);
    QCOMPARE(folderRead.status, fileaccess::ReadStatus::Failed);
    QCOMPARE(folderRead.reason, "Is a directory");
    QCOMPARE(fileaccess::readFileBytes(path("missing")).status, fileaccess::ReadStatus::NoFile);
    // The console is a character device: reading it would wait for typing.
    const fileaccess::FileContents console = fileaccess::readFileBytes("CONIN$");
    QVERIFY2(console.status == fileaccess::ReadStatus::Failed, console.reason.c_str());
}

void FileSaveTest::missingFolderIsReportedAndLeavesNothing()
{
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("no\\hosts"), "x");
    QVERIFY(!outcome.saved);
    QVERIFY2(outcome.reason.find(path("no")) != std::string::npos, outcome.reason.c_str());
    QVERIFY(entries().isEmpty());
}

void FileSaveTest::readOnlyFileIsRefused()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(fileaccess::replaceFileContents(hosts, "old\r\n"));
    QVERIFY(SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_READONLY));
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(hosts, "new\r\n");
    SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_NORMAL);
    QVERIFY(!outcome.saved);
    QVERIFY2(outcome.reason.find("read-only") != std::string::npos, outcome.reason.c_str());
    QCOMPARE(contentOf(hosts), "old\r\n");
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::pathsAreInTheAnsiCodePage()
{
    if (GetACP() != 1252)
        QSKIP("needs the Western code page 1252");
    QVERIFY_SAVED(fileaccess::replaceFileContents(path("caf\xE9.hosts"), "x\r\n"));
    QCOMPARE(entries(), QStringList{QStringLiteral(u"caf\u00E9.hosts")});
}

void FileSaveTest::nameCacheIsFlushed()
{
    const int before = fileaccess::testing::nameCacheFlushRequests();
    // Windows and wine both have DnsFlushResolverCache.
    QVERIFY(fileaccess::flushNameCache());
    QCOMPARE(fileaccess::testing::nameCacheFlushRequests(), before + 1);
}

std::unique_ptr<QObject> newFileSaveTest()
{
    return std::make_unique<FileSaveTest>();
}

#include "tst_fileaccess_windows.moc"
