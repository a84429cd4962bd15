#include "filesave.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
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

private:
    QString path(const QString& name) const { return directory_->filePath(name); }
    QStringList entries() const
    {
        return QDir(directory_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
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
    // Runs a shell script; the save helper is reachable as $SAVE.
    static QString runShell(const QString& script, const QByteArray& input = {})
    {
        QProcess shell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SAVE", TESSALY_SAVEHELPER);
        shell.setProcessEnvironment(environment);
        shell.start("sh", {"-c", script});
        shell.write(input);
        shell.closeWriteChannel();
        shell.waitForFinished(60000);
        return QString::fromLocal8Bit(shell.readAllStandardOutput() + shell.readAllStandardError()).trimmed();
    }
    static bool isRoot() { return ::geteuid() == 0; }
    static bool canUnshareMounts() { return isRoot() && runShell("unshare -m --propagation private true; echo $?") == "0"; }

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
    const platform::SaveOutcome outcome = platform::replaceFileContents(path("hosts").toStdString(), "new\r\n");
    ::umask(previous);
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(readFile(path("hosts")), "new\r\n");
    struct stat status {};
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

    const platform::SaveOutcome outcome = platform::replaceFileContents(file.toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QCOMPARE(readFile(path("hosts")), "new");

    struct stat status {};
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

    const platform::SaveOutcome outcome = platform::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QVERIFY(QFileInfo(path("hosts")).isSymLink());
    QCOMPARE(readFile(path("real/hosts")), "new");
    QCOMPARE(QDir(path("real")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"hosts"});
}

void FileSaveTest::danglingLinkCreatesItsTarget()
{
    QVERIFY(QFile::link(path("target"), path("hosts")));
    const platform::SaveOutcome outcome = platform::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY2(outcome.saved, outcome.reason.c_str());
    QVERIFY(QFileInfo(path("hosts")).isSymLink());
    QCOMPARE(readFile(path("target")), "new");
}

void FileSaveTest::notARegularFileIsRefused()
{
    QVERIFY(QDir(directory_->path()).mkdir("hosts"));
    const platform::SaveOutcome outcome = platform::replaceFileContents(path("hosts").toStdString(), "new");
    QVERIFY(!outcome.saved);
    QVERIFY2(outcome.reason.find("not a regular file") != std::string::npos, outcome.reason.c_str());
    QCOMPARE(entries(), QStringList{"hosts"});
}

void FileSaveTest::unwritableFileInWritableDirectoryIsNotReplaced()
{
    // The directory would let another user rename a new file over this one,
    // but the file would then change hands: the save must refuse instead.
    if (!isRoot())
        QSKIP("needs root to act as another user");
    ::chmod(QFile::encodeName(directory_->path()).constData(), 0777);
    writeFile(path("hosts"), "old");
    const QString result = runShell(QString("setpriv --reuid=65534 --regid=65534 --clear-groups \"$SAVE\" '%1'")
                                        .arg(path("hosts")),
                                    "new");
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
        const platform::SaveOutcome outcome = platform::replaceFileContents(path("hosts").toStdString(), "new");
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

QTEST_GUILESS_MAIN(FileSaveTest)
#include "tst_filesave.moc"
