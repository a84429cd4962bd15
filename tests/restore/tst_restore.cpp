// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-restore: its command line (the real program), the list it prints,
// a version put back byte for byte as the system's hosts file (on Linux a
// private one, in a mount namespace of the test's own; under wine the
// prefix's), and the inputs it refuses without writing anything.
#include "hostslocation.h"
#include "previousversions.h"
#include "restorecommand.h"

#ifdef __linux__
#include "standinpkexec.h"
#endif

#include "testfiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

using testfiles::contentOf;
using testfiles::writeFile;

namespace {

constexpr std::int64_t kKeptAt = 1796800000;

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class RestoreTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandLine_data();
    void commandLine();
    void listsNewestFirstWithSizeAndLines();
    void putsAVersionBackByteForByte();
    void refusesWhatItCannotRestore_data();
    void refusesWhatItCannotRestore();

private:
    QString stateHome() const { return directory_->filePath("state"); }
    static fs::path versionsFolder() { return previousversions::versionsFolder().path; }
    static QString shownFolder() { return QString::fromStdWString(versionsFolder().wstring()); }
    void keepVersion(const QByteArray& bytes, std::int64_t keptAt)
    {
        previousversions::testing::setKeepingTime(keptAt);
        previousversions::PreviousVersionKeeper keeper;
        keeper.feed(bytes.toStdString());
        QVERIFY(keeper.keep());
        previousversions::testing::setKeepingTime(std::nullopt);
    }
    Run runProgram(const QStringList& arguments)
    {
        QProcess program;
        program.start(QStringLiteral(TESSALY_RESTORE_PROGRAM), arguments);
        if (!program.waitForFinished(30000))
            return {-1, {}, program.errorString()};
        return {program.exitCode(), QString::fromLocal8Bit(program.readAllStandardOutput()),
                QString::fromLocal8Bit(program.readAllStandardError())};
    }
    Run runInProcess(const QString& which, const QString& hostsPath)
    {
        Run run;
        QTextStream out(&run.out);
        QTextStream err(&run.err);
        run.exitCode = restore::restoreVersion(which, QFile::encodeName(hostsPath).toStdString(), out, err);
        return run;
    }
    std::unique_ptr<QTemporaryDir> directory_;
};

void RestoreTest::init()
{
    directory_ = std::make_unique<QTemporaryDir>();
    // The program finds the versions where the test keeps them: on Linux
    // through XDG_STATE_HOME, under wine in the test prefix's own folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome()));
#ifdef _WIN32
    QDir(shownFolder()).removeRecursively();
#endif
}

void RestoreTest::cleanup()
{
    directory_.reset();
}

void RestoreTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // a part of what it prints
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--list";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "tessaly-restore 0.1.0";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << "Unknown option 'bogus'";
    QTest::newRow("two versions") << QStringList{"1", "2"} << 2 << "takes one version";
    QTest::newRow("list and a version") << QStringList{"--list", "1"} << 2 << "takes one version";
    QTest::newRow("no version kept") << QStringList{"--list"} << 0 << "No previous versions";
}

void RestoreTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    const Run run = runProgram(arguments);
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
    QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
}

void RestoreTest::listsNewestFirstWithSizeAndLines()
{
    keepVersion("127.0.0.1 localhost\n", kKeptAt);
    keepVersion("# two\r\n\r\n10.0.0.1 alpha", kKeptAt + 3600);
    const Run run = runProgram({});
    QCOMPARE(run.exitCode, 0);
    const QString local = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0].trimmed(),
             "1  " + QDateTime::fromSecsSinceEpoch(kKeptAt + 3600).toString(local) + "  23 bytes  3 lines");
    QCOMPARE(lines[1].trimmed(), "2  " + QDateTime::fromSecsSinceEpoch(kKeptAt).toString(local) + "  20 bytes  1 line");
    QCOMPARE(lines[2].trimmed(), "Kept in " + shownFolder());
}

void RestoreTest::putsAVersionBackByteForByte()
{
#ifdef __linux__
    if (!standin::whyNot.isEmpty())
        QSKIP(qPrintable(standin::whyNot));
#endif
    const QString hosts = QString::fromLocal8Bit(fileaccess::systemHostsFilePath().c_str());
    const QByteArray before = contentOf(hosts);
    const QByteArray older = "# as it was\r\n\r\n127.0.0.1 localhost\n::1 localhost\n#10.0.0.9 off\n";
    keepVersion(older, kKeptAt);
    keepVersion("127.0.0.1 localhost\n", kKeptAt + 1);

    const Run run = runProgram({"2"});
    const QByteArray after = contentOf(hosts);
    writeFile(hosts, before);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(after, older);
    QVERIFY2(run.out.contains("holds the restored version"), qPrintable(run.out));
    // What it replaced is now the newest version: the restore can be undone.
    const previousversions::KeptVersions kept;
    QCOMPARE(kept.versions().size(), 3u);
    QCOMPARE(contentOf(kept.pathOf(kept.versions().front())), before);
}

void RestoreTest::refusesWhatItCannotRestore_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("said");
    QTest::newRow("number zero") << "0"
                                 << "There is no previous version 0";
    QTest::newRow("number beyond the list") << "3"
                                            << "There is no previous version 3";
    QTest::newRow("missing file") << "missing"
                                  << "cannot be read";
    QTest::newRow("folder") << "folder"
                            << "is not a regular file";
    QTest::newRow("larger than 256 MiB") << "large"
                                         << "larger than 256 MiB";
#ifndef _WIN32
    QTest::newRow("pipe") << "pipe"
                          << "is not a regular file";
#endif
    QTest::newRow("versions' folder unusable") << "unkept"
                                               << "could not be kept as a previous version";
}

void RestoreTest::refusesWhatItCannotRestore()
{
    QFETCH(QString, which);
    QFETCH(QString, said);
    keepVersion("10.0.0.1 one\n", kKeptAt);
    keepVersion("10.0.0.2 two\n", kKeptAt + 1);
    const QString hosts = directory_->filePath("hosts");
    QVERIFY(writeFile(hosts, "127.0.0.1 localhost\n"));
    const QString path = directory_->filePath(which);
    if (which == "folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (which == "large") {
        QFile large(path);
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(qint64(256) * 1024 * 1024 + 1));
#ifndef _WIN32
    } else if (which == "pipe") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
    } else if (which == "unkept") {
        // Version 1 exists, but what it would replace has nowhere to go.
        previousversions::testing::setStateFolder(
            QDir::toNativeSeparators(directory_->filePath("blocked")).toStdWString());
        QVERIFY(QDir().mkpath(directory_->filePath("blocked")));
        QVERIFY(writeFile(directory_->filePath("blocked/tessaly"), "a file where the folder goes"));
        QVERIFY(writeFile(directory_->filePath("blocked/Tessaly"), "a file where the folder goes"));
        QVERIFY(writeFile(directory_->filePath("version"), "10.0.0.3 three\n"));
        which = directory_->filePath("version");
    }
    const Run run = runInProcess(
        which == "missing" || which == "folder" || which == "large" || which == "pipe" ? path : which, hosts);
    previousversions::testing::setStateFolder(std::nullopt);
    QCOMPARE(run.exitCode, restore::kNotRestored);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(contentOf(hosts), "127.0.0.1 localhost\n");
}

int main(int argc, char** argv)
{
#ifdef __linux__
    // The program restores /etc/hosts: here a private one.
    QTemporaryDir directory;
    standin::enterPrivateHostsFile(directory);
#endif
    QCoreApplication application(argc, argv);
    RestoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_restore.moc"
