// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesave.h"
#include "hostsformatter.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

class FileSaveTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void missingFileIsCreatedWithMode0644();
    void replaceKeepsModeOwnerAndExtendedAttributes();
    void symbolicLinkStaysAndItsTargetIsReplaced();
    void danglingLinkCreatesItsTarget();
    void notARegularFileIsRefused();
    void unwritableFileInWritableDirectoryIsNotReplaced();
    void unwritableDirectoryAndFile();
    void unwritableDirectoryWithWritableFileSavesInPlace();
    void bindMountedFileIsRewrittenInPlace();
    void fullDiskLeavesOldBytes();
    void fullDiskDuringInPlaceRewriteRestoresOldBytes();
    void crashAtEachStepLeavesOldOrNewBytes_data();
    void crashAtEachStepLeavesOldOrNewBytes();
    void staleNewFilesOfThisProgramOnlyAreRemoved();
    void hardLinkedFileIsRewrittenForEveryName();
    void directoryDefaultAclIsNotAddedToTheFile();
    void syncsComeBeforeTheRenameAndAfterIt_data();
    void syncsComeBeforeTheRenameAndAfterIt();
    void fileChangedRightAfterTheRenameIsNotReportedSaved();
    void failedRenameLeavesNoNewFile();
    void largeSaveIsComparedWhole_data();
    void largeSaveIsComparedWhole();

private:
    QString path(const QString& name) const { return directory_->filePath(name); }
    QStringList entries() const
    {
        return QDir(directory_->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    static void writeFile(const QString& file, const QByteArray& bytes)
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(out.write(bytes), bytes.size());
    }
    static QByteArray readFile(const QString& file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<unreadable>");
    }
    // Runs a shell script; the test child that saves a file is reachable as $SAVE.
    static QString runShell(const QString& script, const QByteArray& input = {})
    {
        QProcess shell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SAVE", TESSALY_SAVE_CHILD);
        shell.setProcessEnvironment(environment);
        shell.start("sh", {"-c", script});
        shell.write(input);
        shell.closeWriteChannel();
        shell.waitForFinished(60000);
        return QString::fromLocal8Bit(shell.readAllStandardOutput() + shell.readAllStandardError()).trimmed();
    }
    static bool isRoot() { return ::geteuid() == 0; }
    static bool canUnshareMounts()
    {
        return isRoot() && runShell("unshare -m --propagation private true; echo $?") == "0";
    }

    std::unique_ptr<QTemporaryDir> directory_;
};

void FileSaveTest::init()
{
    directory_ = std::make_unique<QTemporaryDir>();
    QVERIFY(directory_->isValid());
    ::chmod(QFile::encodeName(directory_->path()).constData(), 0755);
}

void FileSaveTest::missingFileIsCreatedWithMode0644()
{
    const mode_t previous = ::umask(0077);
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new\r\n");
    ::umask(previous);
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(readFile(path("hosts")), "new\r\n");
    struct stat status{};
    QCOMPARE(::stat(QFile::encodeName(path("hosts")).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0644));
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::replaceKeepsModeOwnerAndExtendedAttributes()
{
    const QByteArray file = QFile::encodeName(path("hosts"));
    writeFile(path("hosts"), "old content that is longer than the new\n");
    QCOMPARE(::chmod(file.constData(), 0640), 0);
    if (isRoot())
        QCOMPARE(::chown(file.constData(), 1234, 4321), 0);
    const bool xattrs = ::setxattr(file.constData(), "user.tessaly", "kept", 4, 0) == 0;

    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(file.toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(readFile(path("hosts")), "new");

    struct stat status{};
    QCOMPARE(::stat(file.constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0640));
    if (isRoot()) {
        QCOMPARE(status.st_uid, uid_t(1234));
        QCOMPARE(status.st_gid, gid_t(4321));
    }
    if (xattrs) {
        char value[16] = {};
        QCOMPARE(::getxattr(file.constData(), "user.tessaly", value, sizeof value), ssize_t(4));
        QCOMPARE(QByteArray(value), "kept");
    }
    QCOMPARE(entries(), QStringList{"hosts"});
    if (!isRoot())
        QSKIP("ownership is only checked as root");
}

void FileSaveTest::symbolicLinkStaysAndItsTargetIsReplaced()
{
    QVERIFY(QDir(directory_->path()).mkdir("real"));
    writeFile(path("real/hosts"), "old");
    QVERIFY(QFile::link("real/hosts", path("hosts")));

    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QVERIFY(QFileInfo(path("hosts")).isSymLink());
    QCOMPARE(readFile(path("real/hosts")), "new");
    QCOMPARE(QDir(path("real")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"hosts"});
}

void FileSaveTest::danglingLinkCreatesItsTarget()
{
    QVERIFY(QFile::link(path("target"), path("hosts")));
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QVERIFY(QFileInfo(path("hosts")).isSymLink());
    QCOMPARE(readFile(path("target")), "new");
}

void FileSaveTest::notARegularFileIsRefused()
{
    QVERIFY(QDir(directory_->path()).mkdir("hosts"));
    // Opening a FIFO to write would wait for a reader for ever.
    QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0644), 0);
    for (const char* name : {"hosts", "fifo"}) {
        const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path(name).toStdString(), "new");
        QVERIFY(!outcome.saved);
        QVERIFY2(outcome.reason.find("not a regular file") != std::string::npos, outcome.reason.c_str());
    }
    QCOMPARE(entries(), (QStringList{"fifo", "hosts"}));
    QVERIFY(QFileInfo(path("hosts")).isDir());
}

void FileSaveTest::unwritableFileInWritableDirectoryIsNotReplaced()
{
    // The directory would let another user rename a new file over this one,
    // but the file would then change hands: the save must refuse instead.
    if (!isRoot())
        QSKIP("needs root to act as another user");
    ::chmod(QFile::encodeName(directory_->path()).constData(), 0777);
    writeFile(path("hosts"), "old");
    const QString result = runShell(
        QString("setpriv --reuid=65534 --regid=65534 --clear-groups \"$SAVE\" '%1'").arg(path("hosts")), "new");
    QVERIFY2(result.contains("Permission denied"), qPrintable(result));
    QCOMPARE(readFile(path("hosts")), "old");
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::unwritableDirectoryAndFile()
{
    writeFile(path("hosts"), "old");
    if (isRoot()) {
        const QString result = runShell(
            QString("setpriv --reuid=65534 --regid=65534 --clear-groups \"$SAVE\" '%1'").arg(path("hosts")), "new");
        QVERIFY2(result.contains("Permission denied"), qPrintable(result));
    } else {
        ::chmod(QFile::encodeName(path("hosts")).constData(), 0444);
        ::chmod(QFile::encodeName(directory_->path()).constData(), 0555);
        const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
        ::chmod(QFile::encodeName(directory_->path()).constData(), 0755);
        QVERIFY(!outcome.saved);
        QVERIFY2(outcome.reason.find("Permission denied") != std::string::npos, outcome.reason.c_str());
    }
    QCOMPARE(readFile(path("hosts")), "old");
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::unwritableDirectoryWithWritableFileSavesInPlace()
{
    if (!isRoot())
        QSKIP("needs root to act as another user");
    writeFile(path("hosts"), "old old old");
    ::chmod(QFile::encodeName(path("hosts")).constData(), 0666);
    const QString result = runShell(
        QString("setpriv --reuid=65534 --regid=65534 --clear-groups \"$SAVE\" '%1'").arg(path("hosts")), "new");
    QCOMPARE(result, "saved");
    QCOMPARE(readFile(path("hosts")), "new");
    QCOMPARE(QFileInfo(path("hosts")).ownerId(), 0u);
}

void FileSaveTest::bindMountedFileIsRewrittenInPlace()
{
    // Containers bind-mount /etc/hosts; renaming over a mount point fails.
    if (!canUnshareMounts())
        QSKIP("needs root and mount namespaces");
    writeFile(path("source"), "old source");
    writeFile(path("hosts"), "old mount point");
    const QString result = runShell(QString("unshare -m --propagation private sh -c "
                                            "'mount --bind \"%1\" \"%2\" && \"$SAVE\" \"%2\"'")
                                        .arg(path("source"), path("hosts")),
                                    "new");
    QCOMPARE(result, "saved");
    QCOMPARE(readFile(path("source")), "new");
    QCOMPARE(entries(), (QStringList{"hosts", "source"}));
}

void FileSaveTest::fullDiskLeavesOldBytes()
{
    if (!canUnshareMounts())
        QSKIP("needs root and mount namespaces");
    const QByteArray old(10000, 'o');
    writeFile(path("old"), old);
    QVERIFY(QDir(directory_->path()).mkdir("small"));
    const QString result = runShell(QString("unshare -m --propagation private sh -c '"
                                            "mount -t tmpfs -o size=64k tmpfs \"%1\" && cp \"%2\" \"%1/hosts\" && "
                                            "\"$SAVE\" \"%1/hosts\"; cp \"%1/hosts\" \"%3\"; ls -A \"%1\"'")
                                        .arg(path("small"), path("old"), path("after")),
                                    QByteArray(200000, 'n'));
    QVERIFY2(result.contains("No space left on device"), qPrintable(result));
    QVERIFY2(result.endsWith("\nhosts"), qPrintable(result)); // no temporary file left
    QCOMPARE(readFile(path("after")), old);
}

void FileSaveTest::fullDiskDuringInPlaceRewriteRestoresOldBytes()
{
    if (!canUnshareMounts())
        QSKIP("needs root and mount namespaces");
    const QByteArray old(20000, 'o');
    writeFile(path("old"), old);
    writeFile(path("hosts"), "mount point");
    QVERIFY(QDir(directory_->path()).mkdir("small"));
    const QString result = runShell(
        QString("unshare -m --propagation private sh -c '"
                "mount -t tmpfs -o size=64k tmpfs \"%1\" && cp \"%2\" \"%1/source\" && "
                "mount --bind \"%1/source\" \"%3\" && \"$SAVE\" \"%3\"; cp \"%1/source\" \"%4\"; ls -A \"%1\"'")
            .arg(path("small"), path("old"), path("hosts"), path("after")),
        QByteArray(200000, 'n'));
    QVERIFY2(result.contains("No space left on device"), qPrintable(result));
    QVERIFY2(result.endsWith("\nsource"), qPrintable(result));
    QCOMPARE(readFile(path("after")), old);
}

void FileSaveTest::crashAtEachStepLeavesOldOrNewBytes_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("hardLinked"); // a second name makes the save rewrite in place
    QTest::addColumn<QByteArray>("expected");
    const QByteArray old = "old content\n";
    const QByteArray fresh = "new content, longer than the old\n";
    QTest::newRow("new file written, no name yet") << "written" << false << old;
    QTest::newRow("new file named") << "named" << false << old;
    QTest::newRow("renamed") << "renamed" << false << fresh;
    QTest::newRow("in place, old bytes read") << "in-place-read" << true << old;
    QTest::newRow("in place, written, not truncated") << "in-place-written" << true << fresh;
}

void FileSaveTest::crashAtEachStepLeavesOldOrNewBytes()
{
    QFETCH(QString, step);
    QFETCH(bool, hardLinked);
    QFETCH(QByteArray, expected);
    const QByteArray fresh = "new content, longer than the old\n";
    writeFile(path("hosts"), "old content\n");
    if (hardLinked)
        QCOMPARE(::link(QFile::encodeName(path("hosts")).constData(), QFile::encodeName(path("other")).constData()), 0);

    const QString killed = runShell(QString("\"$SAVE\" '%1' %2; echo \"exit $?\"").arg(path("hosts"), step), fresh);
    QVERIFY2(killed.startsWith("exit 137"), qPrintable(killed)); // 128 + SIGKILL
    QCOMPARE(readFile(path("hosts")), expected);
    if (hardLinked)
        QCOMPARE(readFile(path("other")), expected);

    // The file had no name before the step "named": nothing is left then. A
    // named one is left, and the next save removes it once it is older than
    // the program that saves (here: made to look an hour old).
    const QStringList left = entries().filter(".tessaly-");
    QCOMPARE(left.size(), step == "named" ? 1 : 0);
    for (const QString& name : left) {
        const timespec anHourAgo[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path(name)).constData(), anHourAgo, 0), 0);
    }
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "again");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(readFile(path("hosts")), "again");
    QCOMPARE(entries(), hardLinked ? (QStringList{"hosts", "other"}) : QStringList{"hosts"});
}

void FileSaveTest::staleNewFilesOfThisProgramOnlyAreRemoved()
{
    writeFile(path("hosts"), "old");
    const timespec anHourAgo[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    auto makeOld = [&](const QString& name) {
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path(name)).constData(), anHourAgo, AT_SYMLINK_NOFOLLOW), 0);
    };
    // Removed: an old regular file of exactly the naming of a save.
    writeFile(path(".hosts.tessaly-Ab12Cd"), "left by a crash");
    makeOld(".hosts.tessaly-Ab12Cd");
    // Kept: too young (another instance may be saving), other names, not a
    // regular file.
    writeFile(path(".hosts.tessaly-young1"), "being written");
    for (const char* name : {".hosts.tessaly-short", ".hosts.tessaly-Ab12Cd7", ".other.tessaly-Ab12Cd",
                             "hosts.tessaly-Ab12Cd", ".hosts.tessaly-Ab-2Cd"}) {
        writeFile(path(name), "not ours");
        makeOld(name);
    }
    QVERIFY(QDir(directory_->path()).mkdir(".hosts.tessaly-dir123"));
    QVERIFY(QFile::link("hosts", path(".hosts.tessaly-link12")));
    makeOld(".hosts.tessaly-link12");

    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(entries(),
             (QStringList{".hosts.tessaly-Ab-2Cd", ".hosts.tessaly-Ab12Cd7", ".hosts.tessaly-dir123",
                          ".hosts.tessaly-link12", ".hosts.tessaly-short", ".hosts.tessaly-young1",
                          ".other.tessaly-Ab12Cd", "hosts", "hosts.tessaly-Ab12Cd"}));
}

void FileSaveTest::hardLinkedFileIsRewrittenForEveryName()
{
    writeFile(path("hosts"), "old");
    const QByteArray file = QFile::encodeName(path("hosts"));
    QCOMPARE(::link(file.constData(), QFile::encodeName(path("second name")).constData()), 0);
    struct stat before{};
    QCOMPARE(::stat(file.constData(), &before), 0);
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(readFile(path("second name")), "new");
    struct stat after{};
    QCOMPARE(::stat(file.constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_nlink, nlink_t(2));
    QCOMPARE(entries(), (QStringList{"hosts", "second name"}));
}

void FileSaveTest::directoryDefaultAclIsNotAddedToTheFile()
{
    // A default ACL of the directory (user 12345: rwx) is passed on to every
    // new file made in it, the new content's file included.
    const QByteArray directory = QFile::encodeName(directory_->path());
    struct AclEntry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t header = 2; // the ACL's version
    const AclEntry acl[] = {
        {0x01, 7, 0xFFFFFFFF}, {0x02, 7, 12345}, {0x04, 5, 0xFFFFFFFF}, {0x10, 7, 0xFFFFFFFF}, {0x20, 5, 0xFFFFFFFF}};
    QByteArray value(reinterpret_cast<const char*>(&header), sizeof header);
    value.append(reinterpret_cast<const char*>(acl), sizeof acl);
    writeFile(path("hosts"), "old");
    ::chmod(QFile::encodeName(path("hosts")).constData(), 0644);
    if (::setxattr(directory.constData(), "system.posix_acl_default", value.constData(), value.size(), 0) != 0)
        QSKIP("this file system has no POSIX ACLs");
    writeFile(path("probe"), "");
    QVERIFY(::getxattr(QFile::encodeName(path("probe")).constData(), "system.posix_acl_access", nullptr, 0) > 0);
    QVERIFY(QFile::remove(path("probe")));

    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    const QByteArray file = QFile::encodeName(path("hosts"));
    QCOMPARE(::getxattr(file.constData(), "system.posix_acl_access", nullptr, 0), ssize_t(-1));
    QCOMPARE(errno, ENODATA);
    struct stat status{};
    QCOMPARE(::stat(file.constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0644));
}

namespace {

// What a save synced and did, in order, for the hooks below.
struct SaveLog {
    struct Event {
        bool sync;   // a sync, else a step
        ino_t inode; // of the synced file or directory
        bool directory;
        fileaccess::SaveStep step;
    };
    std::vector<Event> events;
    int failDirectorySync = 0; // errno to inject into the sync of a directory
    int failFileSync = 0;      // errno to inject into the sync of a file
};
SaveLog saveLog;

int recordSync(int fd)
{
    struct stat status{};
    ::fstat(fd, &status);
    const bool directory = S_ISDIR(status.st_mode);
    saveLog.events.push_back({true, status.st_ino, directory, {}});
    if (const int error = directory ? saveLog.failDirectorySync : saveLog.failFileSync) {
        errno = error;
        return -1;
    }
    return ::fsync(fd);
}

void recordStep(fileaccess::SaveStep step)
{
    saveLog.events.push_back({false, 0, false, step});
}

// Records every sync and step of the saves made while it lives.
struct RecordedSaves {
    RecordedSaves()
    {
        saveLog = {};
        fileaccess::testing::setSyncHook(recordSync);
        fileaccess::testing::setSaveStepHook(recordStep);
    }
    ~RecordedSaves()
    {
        fileaccess::testing::setSyncHook(nullptr);
        fileaccess::testing::setSaveStepHook(nullptr);
    }
    // Where the event is in the log: -1 when it is not there.
    static int indexOf(const std::function<bool(const SaveLog::Event&)>& match)
    {
        for (std::size_t i = 0; i < saveLog.events.size(); ++i)
            if (match(saveLog.events[i]))
                return static_cast<int>(i);
        return -1;
    }
    static int step(fileaccess::SaveStep step)
    {
        return indexOf([&](const SaveLog::Event& event) { return !event.sync && event.step == step; });
    }
    static int sync(ino_t inode)
    {
        return indexOf([&](const SaveLog::Event& event) { return event.sync && event.inode == inode; });
    }
};

ino_t inodeOf(const QString& file)
{
    struct stat status{};
    return ::stat(QFile::encodeName(file).constData(), &status) == 0 ? status.st_ino : 0;
}

} // namespace

void FileSaveTest::syncsComeBeforeTheRenameAndAfterIt_data()
{
    QTest::addColumn<int>("directoryError"); // injected into the directory's sync
    QTest::addColumn<int>("fileError");      // injected into the new file's sync
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("all synced") << 0 << 0 << true << true;
    QTest::newRow("directory sync fails") << EIO << 0 << true << false;
    // File systems that cannot sync a directory at all.
    QTest::newRow("directory cannot be synced") << EINVAL << 0 << true << true;
    QTest::newRow("directory sync not supported") << ENOTSUP << 0 << true << true;
    QTest::newRow("new file sync fails") << 0 << EIO << false << true;
}

void FileSaveTest::syncsComeBeforeTheRenameAndAfterIt()
{
    QFETCH(int, directoryError);
    QFETCH(int, fileError);
    QFETCH(bool, saved);
    QFETCH(bool, confirmed);
    writeFile(path("hosts"), "old");
    fileaccess::SaveOutcome outcome;
    {
        RecordedSaves recorded;
        saveLog.failDirectorySync = directoryError;
        saveLog.failFileSync = fileError;
        outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    }
    QCOMPARE(outcome.saved, saved);
    QCOMPARE(outcome.confirmedOnDisk, confirmed);
    QCOMPARE(entries(), QStringList{"hosts"});
    if (!saved) {
        QCOMPARE(readFile(path("hosts")), "old");
        QVERIFY2(outcome.reason.find(std::strerror(fileError)) != std::string::npos, outcome.reason.c_str());
        QCOMPARE(RecordedSaves::step(fileaccess::SaveStep::Renamed), -1);
        return;
    }
    QCOMPARE(readFile(path("hosts")), "new");
    if (!confirmed)
        QCOMPARE(outcome.reason, std::string(std::strerror(directoryError)));
    // The file now under the name was synced before it got there, and the
    // directory that holds the new name after.
    const int renamed = RecordedSaves::step(fileaccess::SaveStep::Renamed);
    const int fileSynced = RecordedSaves::sync(inodeOf(path("hosts")));
    const int directorySynced = RecordedSaves::sync(inodeOf(directory_->path()));
    QVERIFY(renamed >= 0);
    QVERIFY2(fileSynced >= 0 && fileSynced < renamed, "the new content was not synced before the rename");
    QVERIFY2(directorySynced > renamed, "the directory was not synced after the rename");
}

void FileSaveTest::fileChangedRightAfterTheRenameIsNotReportedSaved()
{
    // Another program puts its own content back at once: the read-back
    // after the rename must see it.
    writeFile(path("hosts"), "old");
    static QString target;
    target = path("hosts");
    fileaccess::testing::setSaveStepHook([](fileaccess::SaveStep step) {
        if (step == fileaccess::SaveStep::Renamed)
            writeFile(target, "changed back");
    });
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    fileaccess::testing::setSaveStepHook(nullptr);
    QVERIFY(!outcome.saved);
    QCOMPARE(outcome.failure, fileaccess::SaveFailure::NotVerified);
    QVERIFY2(outcome.reason.find("does not hold what was written") != std::string::npos, outcome.reason.c_str());
}

void FileSaveTest::failedRenameLeavesNoNewFile()
{
    // The new file has its name when the target turns into a directory: the
    // rename fails, and the named new file must go.
    writeFile(path("hosts"), "old");
    static QString target;
    target = path("hosts");
    fileaccess::testing::setSaveStepHook([](fileaccess::SaveStep step) {
        if (step == fileaccess::SaveStep::NewFileNamed) {
            QFile::remove(target);
            QDir().mkdir(target);
        }
    });
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(path("hosts").toStdString(), "new");
    fileaccess::testing::setSaveStepHook(nullptr);
    QVERIFY(!outcome.saved);
    QVERIFY2(outcome.reason.rfind("Cannot replace " + path("hosts").toStdString(), 0) == 0, outcome.reason.c_str());
    QCOMPARE(entries(), QStringList{"hosts"});
    QVERIFY(QFileInfo(path("hosts")).isDir());
}

void FileSaveTest::largeSaveIsComparedWhole_data()
{
    // What another program does to the file right after the rename, and
    // where: the read-back must see any change, past the first comparison
    // buffer of a piece and past the first piece.
    QTest::addColumn<QString>("change");
    QTest::addColumn<qint64>("at");
    QTest::newRow("left alone") << "" << qint64(0);
    QTest::newRow("one byte shorter") << "truncate" << qint64(-1);
    QTest::newRow("cut at a piece's end") << "truncate" << qint64(kFormatPieceBytes * 3);
    QTest::newRow("cut mid piece") << "truncate" << qint64(kFormatPieceBytes * 5 + 70000);
    QTest::newRow("a byte changed past a piece's first 64 KiB") << "flip" << qint64(kFormatPieceBytes * 7 + 100000);
    QTest::newRow("a byte changed in the last piece") << "flip" << qint64(-1);
    QTest::newRow("one byte longer") << "append" << qint64(0);
}

void FileSaveTest::largeSaveIsComparedWhole()
{
    QFETCH(QString, change);
    QFETCH(qint64, at);
    HostCollection hosts;
    for (int i = 0; i < 200000; ++i)
        hosts.add(
            HostEntry::create("0.0.0.0", "host-" + std::to_string(i) + ".advertising.example.com", i % 7 ? "" : "ad"));
    const std::string header = "# a header\r\n";
    const std::string expected = formatHostsFile(header, hosts);
    QVERIFY(expected.size() > 4 * 1024 * 1024);
    static qint64 changeAt;
    static QString changeKind, target;
    changeAt = at < 0 ? qint64(expected.size()) + at : at;
    changeKind = change;
    target = path("hosts");
    writeFile(target, "old");
    fileaccess::testing::setSaveStepHook([](fileaccess::SaveStep step) {
        if (step != fileaccess::SaveStep::Renamed || changeKind.isEmpty())
            return;
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (changeKind == "truncate") {
            QVERIFY(file.resize(changeAt));
        } else if (changeKind == "append") {
            QVERIFY(file.seek(file.size()));
            QCOMPARE(file.write("x"), 1);
        } else {
            QVERIFY(file.seek(changeAt));
            char byte = 0;
            QVERIFY(file.getChar(&byte));
            QVERIFY(file.seek(changeAt));
            QVERIFY(file.putChar(static_cast<char>(byte ^ 1)));
        }
    });
    const fileaccess::SaveOutcome outcome = fileaccess::replaceFileContents(
        target.toStdString(),
        [&](const std::function<void(std::string_view)>& write) { formatHostsFile(header, hosts, write); });
    fileaccess::testing::setSaveStepHook(nullptr);
    if (change.isEmpty()) {
        QVERIFY2(outcome.saved, outcome.reason.c_str());
        QVERIFY(readFile(target).toStdString() == expected);
    } else {
        QVERIFY(!outcome.saved);
        QCOMPARE(outcome.failure, fileaccess::SaveFailure::NotVerified);
    }
}

std::unique_ptr<QObject> newFileSaveTest()
{
    return std::make_unique<FileSaveTest>();
}

#include "tst_fileaccess.moc"
