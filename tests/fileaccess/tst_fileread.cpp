// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the hosts file from disk: statuses, snapshots, and the reader's
// results on fixture and real files; where the system keeps the file.
#include "fileread.h"
#include "hostsdatatestutil.h"
#include "hostslocation.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#ifndef _WIN32
#include <sys/stat.h>
#endif

class FileReadTest : public QObject {
    Q_OBJECT

private slots:
    void readerFixtureFiles();
    void readerSharedHostsFiles();
    void readFileStatuses();
    void snapshotDigestIsStableAndChunked();
    void hostsPathBelowSystemDirectory();
};

void FileReadTest::readerFixtureFiles()
{
    HostCollection hosts;
    std::string header;
    const fileaccess::HostsFileReading report = fileaccess::readHostsFile(
        fixturePath("tabbed-header.hosts").toStdString(), hosts, header);
    QCOMPARE(report.status, fileaccess::ReadStatus::Complete);
    QCOMPARE(header,
             "# Hosts of the lab network.\r\n"
             "#\r\n"
             "# Examples:\r\n"
             "#    10.0.0.20     files.lab    # file server\r\n"
             "#  ::1  localhost\r\n");
    QCOMPARE(fieldsOf(hosts),
             (std::vector<EntryFields>{{"127.0.0.1", "localhost", "Local loop-back hostname"},
                                       {"10.1.2.3", "build", ""},
                                       {"10.1.2.3", "build.lab", ""}}));

    HostCollection mixed;
    std::string mixedHeader;
    QCOMPARE(fileaccess::readHostsFile(fixturePath("mixed-line-ends.hosts").toStdString(), mixed, mixedHeader).status,
             fileaccess::ReadStatus::Complete);
    QCOMPARE(mixedHeader, "# saved by several editors\r\n# second header line\r\n");
    QCOMPARE(fieldsOf(mixed),
             (std::vector<EntryFields>{{"192.168.0.10", "nas", "storage"},
                                       {"192.168.0.11", "printer", ""},
                                       {"fe80::1%lo0", "router", "link local"}}));
}

void FileReadTest::readerSharedHostsFiles()
{
    if (!QFileInfo::exists(sharedDataPath("")))
        QSKIP("the shared hosts files are not beside this checkout");
    // Counts taken with an independent awk reading of the same rules.
    struct Expectation {
        const char* file;
        std::size_t headerLines;
        std::size_t entries;
        std::size_t duplicates;
    };
    for (const Expectation& expected :
         {Expectation{"adservers.hosts", 10, 42358, 173}, Expectation{"adaway.hosts", 20, 6541, 1},
          Expectation{"linux-default.hosts", 0, 6, 1}}) {
        HostCollection hosts;
        std::string header;
        const fileaccess::HostsFileReading report = fileaccess::readHostsFile(
            sharedDataPath(expected.file).toStdString(), hosts, header);
        QCOMPARE(report.status, fileaccess::ReadStatus::Complete);
        QCOMPARE(hosts.size(), expected.entries);
        QCOMPARE(report.stats.entries, expected.entries);
        QCOMPARE(report.stats.duplicates, expected.duplicates);
        QCOMPARE(std::size_t(std::count(header.begin(), header.end(), '\n')), expected.headerLines);
    }
}

void FileReadTest::readFileStatuses()
{
    HostCollection hosts;
    std::string header;
    const fileaccess::HostsFileReading missing = fileaccess::readHostsFile(
        fixturePath("no-such-file.hosts").toStdString(), hosts, header);
    QCOMPARE(missing.status, fileaccess::ReadStatus::NoFile);
    QCOMPARE(missing.snapshot.state, fileaccess::FileSnapshot::State::Missing);
    QVERIFY(hosts.empty() && header.empty());

    const fileaccess::HostsFileReading directory = fileaccess::readHostsFile(TESSALY_TEST_DATA_DIR, hosts, header);
    QCOMPARE(directory.status, fileaccess::ReadStatus::Failed);
    QCOMPARE(directory.reason, "Is a directory");
    QCOMPARE(directory.snapshot.state, fileaccess::FileSnapshot::State::Unreadable);

#ifndef _WIN32
    // A FIFO with no writer would block a plain open for ever. (Windows has
    // no such file; the console stands for it in the file saving tests.)
    QTemporaryDir scratch;
    const QByteArray fifo = QFile::encodeName(scratch.filePath("fifo"));
    QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
    const fileaccess::HostsFileReading pipe = fileaccess::readHostsFile(fifo.toStdString(), hosts, header);
    QCOMPARE(pipe.status, fileaccess::ReadStatus::Failed);
    QCOMPARE(pipe.reason, "Not a regular file");
    QCOMPARE(fileaccess::snapshotFile(fifo.toStdString()).state, fileaccess::FileSnapshot::State::Unreadable);
    QVERIFY(hosts.empty() && header.empty());
#endif

    const std::string path = fixturePath("windows-default.hosts").toStdString();
    const fileaccess::HostsFileReading complete = fileaccess::readHostsFile(path, hosts, header);
    QCOMPARE(complete.snapshot, fileaccess::snapshotFile(path));
    QVERIFY(!(complete.snapshot == fileaccess::snapshotFile(fixturePath("mixed-line-ends.hosts").toStdString())));
}

void FileReadTest::snapshotDigestIsStableAndChunked()
{
    // XXH3-64 of no bytes: the same in every process, so another process can
    // check a snapshot taken here.
    QCOMPARE(fileaccess::FileSnapshot::of("").digest, std::uint64_t{0x2D06800538D394C2});
    const std::string bytes(300000, 'x');
    fileaccess::SnapshotDigest digest;
    for (std::size_t at = 0; at < bytes.size(); at += 7777)
        digest.feed(std::string_view(bytes).substr(at, 7777));
    QCOMPARE(digest.finish(), fileaccess::FileSnapshot::of(bytes));
    QVERIFY(!(fileaccess::FileSnapshot::of(bytes) == fileaccess::FileSnapshot::of(bytes.substr(1) + "y")));
}

void FileReadTest::hostsPathBelowSystemDirectory()
{
    QCOMPARE(fileaccess::hostsPathBelowSystemDirectory("C:\\WINDOWS\\system32"),
             "C:\\WINDOWS\\system32\\Drivers\\etc\\hosts");
    QCOMPARE(fileaccess::hostsPathBelowSystemDirectory(""), "\\Drivers\\etc\\hosts");

#ifdef _WIN32
    // Wine's system directory; Windows gives C:\WINDOWS\system32 or another drive.
    const std::string system = fileaccess::systemDirectory();
    QVERIFY(system.size() > 3 && system[1] == ':' && QFileInfo(QString::fromLocal8Bit(system)).isDir());
    QCOMPARE(fileaccess::systemHostsFilePath(), system + "\\Drivers\\etc\\hosts");
#else
    QCOMPARE(fileaccess::systemDirectory(), "");
    QCOMPARE(fileaccess::systemHostsFilePath(), "/etc/hosts");
#endif
}

std::unique_ptr<QObject> newFileReadTest()
{
    return std::make_unique<FileReadTest>();
}

#include "tst_fileread.moc"
