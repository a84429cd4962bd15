// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the hosts file below the windows: the outcomes, the snapshot that
// the next save compares with, consent over a changed file, and on Linux the
// save helper where the system refuses (standinpkexec.h).
#include "filesave.h"
#include "hostsfilesave.h"
#include "hostsformatter.h"
#include "namecache.h"
#include "previousversions.h"

#ifdef __linux__
#include "saverequest.h"
#include "standinpkexec.h"
#endif

#include "testfiles.h"
#include "unwritablefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

using fileaccess::FileSnapshot;
using hostssave::SaveResult;

Q_DECLARE_METATYPE(SaveResult)

using testfiles::contentOf;
using testfiles::writeFile;

namespace {

constexpr std::int64_t kMorning = 1796800000; // 2026-12-09

#ifndef _WIN32
// Fails every sync of a folder, as a file system that cannot confirm a
// rename on disk does.
int failFolderSyncs(int fd)
{
    struct stat status{};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}
#endif

std::vector<std::string> keptNames()
{
    std::vector<std::string> names;
    const previousversions::KeptVersions kept;
    for (const previousversions::KeptVersion& version : kept.versions())
        names.push_back(version.name);
    return names;
}

void keepVersions(int count)
{
    for (int i = 0; i < count; ++i) {
        previousversions::testing::setKeepingTime(kMorning + i);
        previousversions::PreviousVersionKeeper keeper;
        keeper.feed("version " + std::to_string(i) + "\n");
        QVERIFY(keeper.keep());
        keeper.saveConfirmed();
    }
    previousversions::testing::setKeepingTime(std::nullopt);
}

const QByteArray kOld = "# lab\r\n127.0.0.1 localhost\r\n10.0.0.1 alpha\r\n";

// A hosts file read as the editor reads it, with one entry added.
struct Editing {
    HostCollection hosts;
    std::string header;
    fileaccess::HostsFileReading reading;

    explicit Editing(const std::string& path)
    {
        reading = fileaccess::readHostsFile(path, hosts, header);
        hosts.add(HostEntry::create("10.0.0.2", "added.example", ""));
    }
    std::string formatted() const { return formatHostsFile(header, hosts); }
    hostssave::HostsFileSave save(const std::string& path, const std::optional<FileSnapshot>& overwriting = {},
                                  std::vector<bool>* helperCalls = nullptr, bool withoutPreviousVersion = false) const
    {
        return hostssave::writeHostsFile(path, header, hosts, reading, {overwriting, withoutPreviousVersion},
                                         [helperCalls](bool running) {
                                             if (helperCalls)
                                                 helperCalls->push_back(running);
                                         });
    }
};

} // namespace

class HostsSaveTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void savesAndKeepsTheSnapshotCurrent();
    void unreadableFileIsNeverWritten();
    void changedFileIsWrittenOnlyOverWhatTheUserAgreedTo();
    void refusalGivesTheReasonAndStartsNoHelper();
    void saveKeepsTheBytesItReplacesOncePerContent();
    void versionThatCannotBeKeptStopsTheSaveUntilAgreed();
    void restorePutsTheBytesBackAndKeepsWhatItReplaced();
    void aSaveThatIsNotConfirmedRemovesNoVersion_data();
    void aSaveThatIsNotConfirmedRemovesNoVersion();
    void aNewestVersionOverTheByteBoundStaysAlone();
#ifdef __linux__
    void restoreGoesThroughTheHelperWhereDenied();
    void deniedSystemFileGoesThroughTheHelper_data();
    void deniedSystemFileGoesThroughTheHelper();
#endif

private:
    std::string path() const { return QDir(directory_->path()).filePath("hosts").toStdString(); }
    QString qpath() const { return QString::fromStdString(path()); }
    static std::filesystem::path versionsFolder() { return previousversions::versionsFolder().path; }
    std::unique_ptr<QTemporaryDir> directory_;
};

void HostsSaveTest::init()
{
    directory_ = std::make_unique<QTemporaryDir>();
    QVERIFY(writeFile(qpath(), kOld));
    const QString state = QDir(directory_->path()).filePath("state");
    previousversions::testing::setStateFolder(QDir::toNativeSeparators(state).toStdWString());
}

void HostsSaveTest::savesAndKeepsTheSnapshotCurrent()
{
    Editing editing(path());
    const int flushes = fileaccess::testing::nameCacheFlushRequests();
    std::vector<bool> helperCalls;
    const hostssave::HostsFileSave first = editing.save(path(), {}, &helperCalls);
    QCOMPARE(first.result, SaveResult::Saved);
    QCOMPARE(contentOf(qpath()).toStdString(), editing.formatted());
    QVERIFY(first.snapshot == FileSnapshot::of(editing.formatted()));
    QVERIFY(first.snapshot == fileaccess::snapshotFile(path()));
    QCOMPARE(fileaccess::testing::nameCacheFlushRequests(), flushes + 1);
    QVERIFY(helperCalls.empty());

    // With the snapshot kept, saving again is no change by another program;
    // with the one of the first reading, it is.
    const FileSnapshot firstReading = editing.reading.snapshot;
    editing.reading.snapshot = first.snapshot;
    QCOMPARE(editing.save(path()).result, SaveResult::Saved);
    editing.reading.snapshot = firstReading;
    QCOMPARE(editing.save(path()).result, SaveResult::ChangedSinceRead);
}

void HostsSaveTest::unreadableFileIsNeverWritten()
{
    Editing editing(path());
    editing.reading.status = fileaccess::ReadStatus::Failed;
    editing.reading.reason = "Input/output error";
    const hostssave::HostsFileSave outcome = editing.save(path());
    QCOMPARE(outcome.result, SaveResult::Refused);
    QCOMPARE(outcome.reason,
             "The file could not be read when Tessaly started (Input/output error), so it was left as it is.");
    QCOMPARE(contentOf(qpath()), kOld);
}

void HostsSaveTest::changedFileIsWrittenOnlyOverWhatTheUserAgreedTo()
{
    Editing editing(path());
    QVERIFY(writeFile(qpath(), "# changed by another program\r\n"));
    const hostssave::HostsFileSave changed = editing.save(path());
    QCOMPARE(changed.result, SaveResult::ChangedSinceRead);
    QVERIFY(changed.snapshot == fileaccess::snapshotFile(path()));
    QCOMPARE(contentOf(qpath()), "# changed by another program\r\n");

    // Changed once more while the user was asked: asked again.
    QVERIFY(writeFile(qpath(), "# and again\r\n"));
    const hostssave::HostsFileSave again = editing.save(path(), changed.snapshot);
    QCOMPARE(again.result, SaveResult::ChangedSinceRead);
    QCOMPARE(contentOf(qpath()), "# and again\r\n");

    const hostssave::HostsFileSave agreed = editing.save(path(), again.snapshot);
    QCOMPARE(agreed.result, SaveResult::Saved);
    QCOMPARE(contentOf(qpath()).toStdString(), editing.formatted());
    QVERIFY(agreed.snapshot == fileaccess::snapshotFile(path()));
}

void HostsSaveTest::refusalGivesTheReasonAndStartsNoHelper()
{
    // Not a regular file where the hosts file was: refused with the reason,
    // and the helper is only ever for the system's own hosts file.
    Editing editing(path());
    QVERIFY(QFile::remove(qpath()));
    QVERIFY(QDir().mkdir(qpath()));
    editing.reading.status = fileaccess::ReadStatus::NoFile;
    editing.reading.snapshot = fileaccess::snapshotFile(path());
    std::vector<bool> helperCalls;
    const hostssave::HostsFileSave outcome = editing.save(path(), {}, &helperCalls);
    QCOMPARE(outcome.result, SaveResult::Refused);
    QCOMPARE(outcome.reason, path() + " is not a regular file.");
    QVERIFY(helperCalls.empty());
}

void HostsSaveTest::saveKeepsTheBytesItReplacesOncePerContent()
{
    // As another tool or the user left it: comments, blank lines, both line
    // ends, a hostname's second address. The save drops them; the version
    // keeps them.
    const QByteArray handKept = "# lab\r\n\r\n127.0.0.1 localhost\n::1 localhost\n# 10.0.0.9 off\n10.0.0.1 alpha\r\n";
    QVERIFY(writeFile(qpath(), handKept));
    Editing editing(path());
    const hostssave::HostsFileSave first = editing.save(path());
    QCOMPARE(first.result, SaveResult::Saved);
    QCOMPARE(contentOf(first.previousVersion), handKept);

    // Saved again as it is: the first save's bytes are kept once, and a
    // third save keeps nothing new.
    editing.reading.snapshot = first.snapshot;
    const hostssave::HostsFileSave second = editing.save(path());
    QCOMPARE(contentOf(second.previousVersion).toStdString(), editing.formatted());
    editing.reading.snapshot = second.snapshot;
    const hostssave::HostsFileSave third = editing.save(path());
    QCOMPARE(third.result, SaveResult::Saved);
    QVERIFY(third.previousVersion.empty());
    QCOMPARE(previousversions::KeptVersions().versions().size(), 2u);

    // A missing file leaves nothing to keep.
    QVERIFY(QFile::remove(qpath()));
    editing.reading.snapshot = {};
    const hostssave::HostsFileSave created = editing.save(path());
    QCOMPARE(created.result, SaveResult::Saved);
    QVERIFY(created.previousVersion.empty());
}

void HostsSaveTest::versionThatCannotBeKeptStopsTheSaveUntilAgreed()
{
    QVERIFY(QDir().mkpath(QString::fromStdWString(versionsFolder().parent_path().wstring())));
    QVERIFY(writeFile(QString::fromStdWString(versionsFolder().wstring()), "a file where the folder goes"));
    Editing editing(path());
    const hostssave::HostsFileSave refused = editing.save(path());
    QCOMPARE(refused.result, SaveResult::PreviousVersionNotKept);
    QVERIFY(refused.reason.find("is not a folder") != std::string::npos);
    QCOMPARE(contentOf(qpath()), kOld);

    const hostssave::HostsFileSave agreed = editing.save(path(), {}, nullptr, true);
    QCOMPARE(agreed.result, SaveResult::Saved);
    QCOMPARE(contentOf(qpath()).toStdString(), editing.formatted());
}

void HostsSaveTest::restorePutsTheBytesBackAndKeepsWhatItReplaced()
{
    const std::string restored = "# mine\r\n\r\n::1 localhost\n127.0.0.1 localhost # no end of line";
    const hostssave::HostsFileSave restore = hostssave::restoreHostsFile(path(), restored);
    QCOMPARE(restore.result, SaveResult::Saved);
    QCOMPARE(contentOf(qpath()).toStdString(), restored);
    QCOMPARE(contentOf(restore.previousVersion), kOld);
    QVERIFY(restore.snapshot == FileSnapshot::of(restored));

    // Where what it would replace cannot be kept, nothing is restored.
    QVERIFY(QDir(QString::fromStdWString(versionsFolder().wstring())).removeRecursively());
    QVERIFY(writeFile(QString::fromStdWString(versionsFolder().wstring()), "a file where the folder goes"));
    const hostssave::HostsFileSave refused = hostssave::restoreHostsFile(path(), "# other\n");
    QCOMPARE(refused.result, SaveResult::PreviousVersionNotKept);
    QCOMPARE(contentOf(qpath()).toStdString(), restored);
}

void HostsSaveTest::aSaveThatIsNotConfirmedRemovesNoVersion_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("refused") << "refused";
#ifndef _WIN32
    QTest::newRow("unconfirmed") << "unconfirmed";
#endif
}

void HostsSaveTest::aSaveThatIsNotConfirmedRemovesNoVersion()
{
    // 20 versions: restoring the oldest fails (a cancelled password, a
    // refusal) or is not confirmed on disk. The version asked for is still
    // there to restore again, and nothing else went either.
    QFETCH(QString, failure);
    keepVersions(int(previousversions::kKeptVersionsAtMost));
    const std::vector<std::string> before = keptNames();
    const std::string oldest = before.back();
    if (failure == "refused") {
        if (!unwritable::makeUnwritable(qpath(), true))
            QSKIP("cannot make a file unwritable here");
    }
#ifndef _WIN32
    else
        fileaccess::testing::setSyncHook(failFolderSyncs);
#endif
    const hostssave::HostsFileSave failed = hostssave::restoreHostsFile(path(), "version 0\n");
    unwritable::makeUnwritable(qpath(), false);
#ifndef _WIN32
    fileaccess::testing::setSyncHook(nullptr);
#endif
    QCOMPARE(failed.result, failure == "refused" ? SaveResult::Refused : SaveResult::SavedUnconfirmed);
    std::vector<std::string> after = keptNames();
    QCOMPARE(after.size(), before.size() + 1); // what the file held, kept first
    QVERIFY(std::equal(before.begin(), before.end(), after.begin() + 1));

    // Restored again and confirmed: the newest 20 stay.
    const hostssave::HostsFileSave again = hostssave::restoreHostsFile(path(), "version 0\n");
    QCOMPARE(again.result, SaveResult::Saved);
    QCOMPARE(contentOf(qpath()), "version 0\n");
    after = keptNames();
    QCOMPARE(after.size(), previousversions::kKeptVersionsAtMost);
    QVERIFY(std::find(after.begin(), after.end(), oldest) == after.end());
}

void HostsSaveTest::aNewestVersionOverTheByteBoundStaysAlone()
{
    // Saving over a hosts file larger than all versions may take: it is
    // kept, and every other version goes.
    keepVersions(2);
    {
        std::ofstream large(path(), std::ios::binary | std::ios::trunc);
    }
    std::filesystem::resize_file(path(), previousversions::kKeptVersionBytesAtMost + 1);
    const hostssave::HostsFileSave restore = hostssave::restoreHostsFile(path(), "127.0.0.1 localhost\n");
    QCOMPARE(restore.result, SaveResult::Saved);
    const previousversions::KeptVersions kept;
    QCOMPARE(kept.versions().size(), 1u);
    QCOMPARE(kept.versions().front().size, previousversions::kKeptVersionBytesAtMost + 1);
    QVERIFY(kept.pathOf(kept.versions().front()) == restore.previousVersion);
}

#ifdef __linux__
void HostsSaveTest::restoreGoesThroughTheHelperWhereDenied()
{
    using namespace standin;
    if (!whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    QVERIFY(resetHostsFile());
    QVERIFY(setImmutable(scratch + "/hosts", true));
    qputenv("STANDIN_ANSWER", "saved");
    const std::string restored = "# kept\r\n10.0.0.7 seven\r\n";
    std::vector<bool> helperCalls;
    const hostssave::HostsFileSave restore = hostssave::restoreHostsFile(
        "/etc/hosts", restored, [&helperCalls](bool running) { helperCalls.push_back(running); });
    setImmutable(scratch + "/hosts", false);
    QCOMPARE(restore.result, SaveResult::Saved);
    QCOMPARE(helperCalls, (std::vector<bool>{true, false}));
    QCOMPARE(recorded("request"),
             QByteArray::fromStdString(savehelper::encodeHeader(FileSnapshot::of(kFile.toStdString()), restored.size())
                                       + restored));
    QCOMPARE(contentOf(restore.previousVersion), kFile);
}

void HostsSaveTest::deniedSystemFileGoesThroughTheHelper_data()
{
    QTest::addColumn<QString>("answer"); // what the stand-in pkexec answers
    QTest::addColumn<SaveResult>("result");
    QTest::addColumn<QString>("reason");
    QTest::newRow("saved") << "saved" << SaveResult::Saved << "";
    QTest::newRow("unconfirmed") << "unconfirmed" << SaveResult::SavedUnconfirmed << "Input/output error";
    QTest::newRow("helper fails") << "error" << SaveResult::Refused
                                  << "Cannot write /etc/hosts: No space left on device";
    QTest::newRow("authentication refused")
        << "refused" << SaveResult::Refused << "Authentication was cancelled or refused";
    // pkexec is the system's, by its absolute path, never one found on PATH.
    QTest::newRow("no pkexec") << "missing" << SaveResult::Refused
                               << "Saving needs administrator rights, and pkexec, which asks for them, is not "
                                  "installed (/nonexistent/pkexec).";
}

void HostsSaveTest::deniedSystemFileGoesThroughTheHelper()
{
    using namespace standin;
    QFETCH(QString, answer);
    QFETCH(SaveResult, result);
    QFETCH(QString, reason);
    if (!whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    QVERIFY(resetHostsFile());
    QVERIFY(setImmutable(scratch + "/hosts", true));
    qputenv("STANDIN_ANSWER", answer.toLatin1());

    if (answer == "missing")
        savehelper::testing::setPkexecProgram("/nonexistent/pkexec");

    Editing editing("/etc/hosts");
    std::vector<bool> helperCalls;
    const int flushes = fileaccess::testing::nameCacheFlushRequests();
    const hostssave::HostsFileSave outcome = editing.save("/etc/hosts", {}, &helperCalls);
    setImmutable(scratch + "/hosts", false);
    savehelper::testing::setPkexecProgram((scratch + "/pkexec").toStdString());

    QCOMPARE(outcome.result, result);
    QCOMPARE(QString::fromStdString(outcome.reason), reason);
    QCOMPARE(helperCalls, (std::vector<bool>{true, false}));
    const std::string expected = editing.formatted();
    const QByteArray request = QByteArray::fromStdString(
        savehelper::encodeHeader(FileSnapshot::of(kFile.toStdString()), expected.size()) + expected);
    QCOMPARE(recorded("request"), answer == "missing" ? QByteArray("<none>") : request);
    const bool saved = result != SaveResult::Refused;
    if (saved)
        QVERIFY(outcome.snapshot == FileSnapshot::of(expected));
    QCOMPARE(fileaccess::testing::nameCacheFlushRequests(), flushes + (saved ? 1 : 0));
}
#endif

int main(int argc, char** argv)
{
#ifdef __linux__
    QTemporaryDir directory;
    standin::enterPrivateHostsFile(directory);
#endif
    QCoreApplication application(argc, argv);
    HostsSaveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostssave.moc"
