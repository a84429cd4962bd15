// SPDX-License-Identifier: GPL-3.0-or-later
// Saving on Windows: ReplaceFileW keeps the file's attributes, a file held
// open by another program or with several hard links is rewritten in place,
// nothing is left beside it, and paths are in the ANSI code page. (Modes,
// owners and extended attributes of the POSIX save have no counterpart.)
#include "fileread.h"
#include "filesave.h"

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
        QStringList names = QDir(directory_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                               | QDir::NoDotAndDotDot);
        // Wine's own ReplaceFileW makes a temporary "rf*.tmp" with
        // GetTempFileName and leaves it behind when it fails; Windows makes
        // none. It is not ours.
        if (underWine())
            names.removeIf([](const QString& name) { return name.startsWith("rf") && name.endsWith(".tmp"); });
        return names;
    }
    static bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }
    static std::string contentOf(const std::string& file) { return platform::readFileBytes(file).bytes; }

    std::unique_ptr<QTemporaryDir> directory_;
};

#define QVERIFY_SAVED(outcome)                                                                                       \
    do {                                                                                                             \
        const platform::SaveOutcome saved = (outcome);                                                               \
        QVERIFY2(saved.saved, saved.reason.c_str());                                                                 \
    } while (false)

void FileSaveTest::init()
{
    directory_ = std::make_unique<QTemporaryDir>();
    QVERIFY(directory_->isValid());
}

void FileSaveTest::missingFileIsCreatedAndReplacedKeepingAttributes()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(platform::replaceFileContents(hosts, "first\r\n"));
    QCOMPARE(contentOf(hosts), "first\r\n");

    QVERIFY(SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    QVERIFY_SAVED(platform::replaceFileContents(hosts, "second, longer than the first\r\n"));
    QCOMPARE(contentOf(hosts), "second, longer than the first\r\n");
    QVERIFY(GetFileAttributesA(hosts.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::fileHeldOpenByAnotherProgramIsRewrittenInPlace()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(platform::replaceFileContents(hosts, "old content\r\n"));
    // Open without FILE_SHARE_DELETE: the file cannot be replaced meanwhile.
    const HANDLE other = CreateFileA(hosts.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    QVERIFY(other != INVALID_HANDLE_VALUE);
    const platform::SaveOutcome outcome = platform::replaceFileContents(hosts, "new\r\n");
    CloseHandle(other);
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(contentOf(hosts), "new\r\n");
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::hardLinkedFileIsRewrittenForEveryName()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(platform::replaceFileContents(hosts, "old\r\n"));
    QVERIFY(CreateHardLinkA(path("second").c_str(), hosts.c_str(), nullptr));
    QVERIFY_SAVED(platform::replaceFileContents(hosts, "new\r\n"));
    QCOMPARE(contentOf(path("second")), "new\r\n");
}

void FileSaveTest::whatIsNotAFileIsRefused()
{
    const std::string folder = path("");
    const platform::SaveOutcome intoFolder = platform::replaceFileContents(folder, "x");
    QVERIFY(!intoFolder.saved);
    QVERIFY2(intoFolder.reason.find("not a regular file") != std::string::npos, intoFolder.reason.c_str());

    const platform::FileBytes folderRead = platform::readFileBytes(folder);
    QCOMPARE(folderRead.status, ReadStatus::Failed);
    QCOMPARE(folderRead.reason, "Is a directory");
    QCOMPARE(platform::readFileBytes(path("missing")).status, ReadStatus::NoFile);
    // The console is a character device: reading it would wait for typing.
    const platform::FileBytes console = platform::readFileBytes("CONIN$");
    QVERIFY2(console.status == ReadStatus::Failed, console.reason.c_str());
}

void FileSaveTest::missingFolderIsReportedAndLeavesNothing()
{
    const platform::SaveOutcome outcome = platform::replaceFileContents(path("no\\hosts"), "x");
    QVERIFY(!outcome.saved);
    QVERIFY2(outcome.reason.find(path("no")) != std::string::npos, outcome.reason.c_str());
    QVERIFY(entries().isEmpty());
}

void FileSaveTest::readOnlyFileIsRefused()
{
    const std::string hosts = path("hosts");
    QVERIFY_SAVED(platform::replaceFileContents(hosts, "old\r\n"));
    QVERIFY(SetFileAttributesA(hosts.c_str(), FILE_ATTRIBUTE_READONLY));
    const platform::SaveOutcome outcome = platform::replaceFileContents(hosts, "new\r\n");
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
    QVERIFY_SAVED(platform::replaceFileContents(path("caf\xE9.hosts"), "x\r\n"));
    QCOMPARE(entries(), QStringList{QStringLiteral(u"caf\u00E9.hosts")});
}

void FileSaveTest::nameCacheIsFlushed()
{
    const int before = platform::testing::nameCacheFlushRequests();
    // Windows and wine both have DnsFlushResolverCache.
    QVERIFY(platform::flushNameCache());
    QCOMPARE(platform::testing::nameCacheFlushRequests(), before + 1);
}

QTEST_GUILESS_MAIN(FileSaveTest)
#include "tst_filesave_windows.moc"
