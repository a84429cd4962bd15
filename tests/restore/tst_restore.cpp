// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-restore: its command line (the real program), the list it prints,
// a version written out or put back byte for byte as the system's hosts file
// (on Linux a private one, in a mount namespace of the test's own; under
// wine the prefix's), by number or by name, and the inputs and outcomes it
// refuses without writing anything or losing a version.
//
// The real program keeps and finds its versions in the account's own
// folder: with the user's own rights the test's XDG_STATE_HOME, as root a
// scratch file system over root's home inside the test's mount namespace,
// under wine the test prefix's. In-process restores over a scratch hosts
// file need no root and keep their versions where the test seam says.
#include "hostslocation.h"
#include "previousversions.h"
#include "restorecommand.h"

#ifdef __linux__
#include "standinpkexec.h"
#endif

#include "testfiles.h"
#include "unwritablefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cstdio>
#include <memory>

#ifndef _WIN32
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

using testfiles::contentOf;
using testfiles::writeFile;

namespace {

constexpr std::int64_t kKeptAt = 1796800000;

struct Run {
    int exitCode = -1;
    QByteArray out;
    QString err;
    QString said() const { return QString::fromLocal8Bit(out) + err; }
};

// Whether the real program's versions are the test's own to make and
// remove (not root's real ones); set up by main().
bool programVersionsAreScratch = false;
QString whyNotScratch;

// As root, root's home inside the test's private mount namespace becomes a
// scratch file system, where the real program keeps its versions.
void scratchHomeForRoot()
{
#ifdef _WIN32
    programVersionsAreScratch = true;
#else
    if (::geteuid() != 0) {
        programVersionsAreScratch = true;
        return;
    }
#ifdef __linux__
    const passwd* account = ::getpwuid(0);
    if (!standin::whyNot.isEmpty() || !account
        || ::mount("tessaly-test", account->pw_dir, "tmpfs", 0, "mode=0700") != 0) {
        whyNotScratch = "root's own versions would be used: " + standin::whyNot;
        return;
    }
    programVersionsAreScratch = true;
#endif
#endif
}

} // namespace

class RestoreTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandLine_data();
    void commandLine();
    void listsNewestFirstWithSizeLinesAndNames();
    void showWritesAVersionOutByteForByte();
    void putsAVersionBackByteForByte_data();
    void putsAVersionBackByteForByte();
    void restoresByNumberOrNameWithoutRoot_data();
    void restoresByNumberOrNameWithoutRoot();
    void refusesWhatItCannotRestore_data();
    void refusesWhatItCannotRestore();
    void aFailedRestoreKeepsTheVersionAskedFor();
#ifdef __linux__
    void helperOutcomesOtherThanSavedExitOne_data();
    void helperOutcomesOtherThanSavedExitOne();
#endif

private:
    QString stateHome() const { return directory_->filePath("state"); }
    static fs::path versionsFolder() { return previousversions::versionsFolder().path; }
    static QString shownFolder() { return QString::fromStdWString(versionsFolder().wstring()); }
    // In-process keeping and restoring: in the test's own folder.
    void useTestFolder() const
    {
        previousversions::testing::setStateFolder(QDir::toNativeSeparators(stateHome()).toStdWString());
    }
    static QString keepVersion(const QByteArray& bytes, std::int64_t keptAt)
    {
        previousversions::testing::setKeepingTime(keptAt);
        previousversions::PreviousVersionKeeper keeper;
        keeper.feed(bytes.toStdString());
        const bool kept = keeper.keep();
        keeper.saveConfirmed();
        previousversions::testing::setKeepingTime(std::nullopt);
        return kept ? QString::fromStdWString(keeper.keptAs().filename().wstring()) : QString();
    }
    static Run runProgram(const QStringList& arguments)
    {
        QProcess program;
        program.start(QStringLiteral(TESSALY_RESTORE_PROGRAM), arguments);
        if (!program.waitForFinished(30000))
            return {-1, {}, program.errorString()};
        return {program.exitCode(), program.readAllStandardOutput(),
                QString::fromLocal8Bit(program.readAllStandardError())};
    }
    static Run runInProcess(const QString& which, const QString& hostsPath)
    {
        Run run;
        QString out;
        QTextStream outStream(&out);
        QTextStream err(&run.err);
        run.exitCode = restore::restoreVersion(which, QFile::encodeName(hostsPath).toStdString(), outStream, err);
        outStream.flush();
        run.out = out.toLocal8Bit();
        return run;
    }
    std::unique_ptr<QTemporaryDir> directory_;
};

void RestoreTest::init()
{
    directory_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome()));
    if (programVersionsAreScratch)
        QDir(shownFolder()).removeRecursively();
}

void RestoreTest::cleanup()
{
    previousversions::testing::setStateFolder(std::nullopt);
    directory_.reset();
}

void RestoreTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // a part of what it prints
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--show";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "tessaly-restore 0.1.0";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << "Unknown option 'bogus'";
    QTest::newRow("two versions") << QStringList{"1", "2"} << 2 << "takes one version";
    QTest::newRow("list and a version") << QStringList{"--list", "1"} << 2 << "takes one version";
    QTest::newRow("show and a version") << QStringList{"--show", "1", "2"} << 2 << "takes one version";
    QTest::newRow("show a path") << QStringList{"--show", "/etc/hosts"} << 2 << "--show takes the number or the name";
    QTest::newRow("no version kept") << QStringList{"--list"} << 0 << "No previous versions";
    QTest::newRow("show what is not kept") << QStringList{"--show", "hosts-2026-12-09T07-06-40Z"} << 1
                                           << "There is no previous version hosts-2026-12-09T07-06-40Z";
}

void RestoreTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    if (!programVersionsAreScratch && QByteArray(QTest::currentDataTag()).contains("kept"))
        QSKIP(qPrintable(whyNotScratch));
    const Run run = runProgram(arguments);
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
    QVERIFY2(run.said().contains(said), qPrintable(run.said()));
}

void RestoreTest::listsNewestFirstWithSizeLinesAndNames()
{
    if (!programVersionsAreScratch)
        QSKIP(qPrintable(whyNotScratch));
    const QString first = keepVersion("127.0.0.1 localhost\n", kKeptAt);
    const QString second = keepVersion("# two\r\n\r\n10.0.0.1 alpha", kKeptAt + 3600);
    // Kept with the clock put back an hour and a half: named after the
    // newest, and the list says when it really was kept.
    const QString behind = keepVersion("::1 localhost\n", kKeptAt + 1800);
    const Run run = runProgram({});
    QCOMPARE(run.exitCode, 0);
    const auto local = [](std::int64_t seconds) {
        return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    const QStringList lines = QString::fromLocal8Bit(run.out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0].trimmed(),
             "1  " + local(kKeptAt + 3601) + "  14 bytes  1 line  " + behind + "  (kept when the clock read "
                 + local(kKeptAt + 1800) + ")");
    QCOMPARE(lines[1].trimmed(), "2  " + local(kKeptAt + 3600) + "  23 bytes  3 lines  " + second);
    QCOMPARE(lines[2].trimmed(), "3  " + local(kKeptAt) + "  20 bytes  1 line  " + first);
    QCOMPARE(lines[3].trimmed(), "Kept in " + shownFolder());
}

void RestoreTest::showWritesAVersionOutByteForByte()
{
    if (!programVersionsAreScratch)
        QSKIP(qPrintable(whyNotScratch));
    const QByteArray bytes = QByteArray("# as it was\r\n\r\n127.0.0.1 localhost\n") + QByteArray(1, '\0') + "\xff";
    const QString name = keepVersion(bytes, kKeptAt);
    keepVersion("127.0.0.1 localhost\n", kKeptAt + 1);
    const QByteArray hostsBefore = contentOf(QString::fromLocal8Bit(fileaccess::systemHostsFilePath().c_str()));
    for (const QString& which : {QStringLiteral("2"), name}) {
        const Run run = runProgram({"--show", which});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, bytes);
    }
    QCOMPARE(previousversions::KeptVersions().versions().size(), 2u);
    QCOMPARE(contentOf(QString::fromLocal8Bit(fileaccess::systemHostsFilePath().c_str())), hostsBefore);
    QCOMPARE(runProgram({"--show", "3"}).exitCode, 1);
}

void RestoreTest::putsAVersionBackByteForByte_data()
{
    QTest::addColumn<bool>("byName");
    QTest::newRow("by number") << false;
    QTest::newRow("by name") << true;
}

void RestoreTest::putsAVersionBackByteForByte()
{
    QFETCH(bool, byName);
#ifdef __linux__
    if (!standin::whyNot.isEmpty())
        QSKIP(qPrintable(standin::whyNot));
#endif
    if (!programVersionsAreScratch)
        QSKIP(qPrintable(whyNotScratch));
    const QString hosts = QString::fromLocal8Bit(fileaccess::systemHostsFilePath().c_str());
    const QByteArray before = contentOf(hosts);
    const QByteArray older = "# as it was\r\n\r\n127.0.0.1 localhost\n::1 localhost\n#10.0.0.9 off\n";
    const QString name = keepVersion(older, kKeptAt);
    keepVersion("127.0.0.1 localhost\n", kKeptAt + 1);

    const Run run = runProgram({byName ? name : "2"});
    const QByteArray after = contentOf(hosts);
    writeFile(hosts, before);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(after, older);
    QVERIFY2(run.said().contains("holds the restored version"), qPrintable(run.said()));
    // What it replaced is now the newest version: the restore can be undone.
    const previousversions::KeptVersions kept;
    QCOMPARE(kept.versions().size(), 3u);
    QCOMPARE(contentOf(kept.pathOf(kept.versions().front())), before);
}

void RestoreTest::restoresByNumberOrNameWithoutRoot_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("restored");
    QTest::newRow("number") << "2" << QByteArray("10.0.0.1 one\n");
    QTest::newRow("name") << "name" << QByteArray("10.0.0.1 one\n");
    // With a folder in front, a name of the versions' naming is that file.
    QTest::newRow("file of a version's name") << "./name" << QByteArray("10.0.0.9 a file\n");
}

void RestoreTest::restoresByNumberOrNameWithoutRoot()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, restored);
    useTestFolder();
    const QString name = keepVersion("10.0.0.1 one\n", kKeptAt);
    keepVersion("10.0.0.2 two\n", kKeptAt + 1);
    const QString hosts = directory_->filePath("hosts");
    QVERIFY(writeFile(hosts, "127.0.0.1 localhost\n"));
    QVERIFY(writeFile(directory_->filePath(name), "10.0.0.9 a file\n"));
    const QString current = QDir::currentPath();
    QDir::setCurrent(directory_->path());
    const Run run = runInProcess(QString(which).replace("name", name), hosts);
    QDir::setCurrent(current);
    QVERIFY2(run.exitCode == restore::kRestored, qPrintable(run.err));
    QCOMPARE(contentOf(hosts), restored);
    const previousversions::KeptVersions kept;
    QCOMPARE(kept.versions().size(), 3u);
    QCOMPARE(contentOf(kept.pathOf(kept.versions().front())), "127.0.0.1 localhost\n");
}

void RestoreTest::refusesWhatItCannotRestore_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("said");
    QTest::newRow("number zero") << "0"
                                 << "There is no previous version 0";
    QTest::newRow("number beyond the list") << "3"
                                            << "There is no previous version 3";
    QTest::newRow("name not kept") << "hosts-2020-01-01T00-00-00Z"
                                   << "There is no previous version hosts-2020-01-01T00-00-00Z";
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
    useTestFolder();
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
    QCOMPARE(run.exitCode, restore::kNotRestored);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(contentOf(hosts), "127.0.0.1 localhost\n");
}

void RestoreTest::aFailedRestoreKeepsTheVersionAskedFor()
{
    // With 20 versions kept, the oldest is asked for and the write refused:
    // exit 1, and the version is still there to restore again.
    useTestFolder();
    QString oldest;
    for (int i = 0; i < int(previousversions::kKeptVersionsAtMost); ++i) {
        const QString name = keepVersion("10.0.0." + QByteArray::number(i) + " host\n", kKeptAt + i);
        if (i == 0)
            oldest = name;
    }
    const QString hosts = directory_->filePath("hosts");
    QVERIFY(writeFile(hosts, "127.0.0.1 localhost\n"));
    if (!unwritable::makeUnwritable(hosts, true))
        QSKIP("cannot make a file unwritable here");
    const Run refused = runInProcess("20", hosts);
    unwritable::makeUnwritable(hosts, false);
    QCOMPARE(refused.exitCode, restore::kNotRestored);
    QVERIFY2(refused.err.contains("could not be restored"), qPrintable(refused.err));
    QCOMPARE(previousversions::KeptVersions().versions().size(), previousversions::kKeptVersionsAtMost + 1);

    const Run again = runInProcess(oldest, hosts);
    QVERIFY2(again.exitCode == restore::kRestored, qPrintable(again.err));
    QCOMPARE(contentOf(hosts), "10.0.0.0 host\n");
}

#ifdef __linux__
void RestoreTest::helperOutcomesOtherThanSavedExitOne_data()
{
    QTest::addColumn<QByteArray>("answer"); // the stand-in pkexec's
    QTest::addColumn<QString>("said");
    QTest::newRow("refused") << QByteArray("refused")
                             << "could not be restored: Authentication was cancelled or refused";
    QTest::newRow("changed since read") << QByteArray("changed") << "was changed by another program";
    QTest::newRow("unconfirmed") << QByteArray("unconfirmed") << "Restore it again to be sure: tessaly-restore ";
}

void RestoreTest::helperOutcomesOtherThanSavedExitOne()
{
    // The system's own hosts file, which even root may not write here
    // (immutable): the save helper (a stand-in) answers.
    using namespace standin;
    QFETCH(QByteArray, answer);
    QFETCH(QString, said);
    if (!whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    useTestFolder();
    const QString name = keepVersion("10.0.0.1 one\n", kKeptAt);
    keepVersion("10.0.0.2 two\n", kKeptAt + 1);
    QVERIFY(resetHostsFile());
    QVERIFY(setImmutable(scratch + "/hosts", true));
    qputenv("STANDIN_ANSWER", answer);
    const Run run = runInProcess("2", "/etc/hosts");
    setImmutable(scratch + "/hosts", false);
    QCOMPARE(run.exitCode, restore::kNotRestored);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    // Unconfirmed: the file to restore again is named, and is the one asked for.
    if (answer == "unconfirmed")
        QVERIFY2(run.err.trimmed().endsWith("tessaly-restore " + name), qPrintable(run.err));
    const previousversions::KeptVersions kept;
    QCOMPARE(kept.versions().size(), 3u);
    QCOMPARE(QString::fromStdString(kept.versions().back().name), name);
}
#endif

int main(int argc, char** argv)
{
#ifdef __linux__
    // The program restores /etc/hosts: here a private one.
    QTemporaryDir directory;
    standin::enterPrivateHostsFile(directory);
#endif
    scratchHomeForRoot();
    QCoreApplication application(argc, argv);
    RestoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_restore.moc"
