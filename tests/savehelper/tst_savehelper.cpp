// SPDX-License-Identifier: GPL-3.0-or-later
// The save helper, the one program that runs with administrator rights: its
// request reading, and on Linux the real executable in a private mount
// namespace whose /etc/hosts is a test file, with each way it refuses.
#include "saverequest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifndef _WIN32
#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

using namespace savehelper;

namespace {

const QByteArray kOld = "# old\n127.0.0.1 localhost\n";
const QByteArray kNew = "\r\n127.0.0.1\tlocalhost\r\n10.0.0.1\tnew\r\n";

QByteArray request(const FileSnapshot& expected, const QByteArray& content)
{
    return QByteArray::fromStdString(encodeHeader(expected, static_cast<std::uint64_t>(content.size()))) + content;
}

FileSnapshot snapshotOf(const QByteArray& bytes)
{
    return FileSnapshot::of(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QByteArray withVersion(QByteArray bytes, char version)
{
    bytes[8] = version;
    return bytes;
}

QByteArray withLength(QByteArray bytes, std::uint64_t length)
{
    for (int i = 0; i < 8; ++i)
        bytes[32 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return bytes;
}

#ifndef _WIN32
bool mayRaiseHardLimits()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = status.readAll();
    const int at = text.indexOf("CapEff:");
    const qulonglong capabilities =
        text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().toULongLong(nullptr, 16);
    return at >= 0 && (capabilities & (1ull << 24)); // CAP_SYS_RESOURCE
}

// Waits (at most three seconds) until the save helper started by the shell
// `shell` blocks SIGINT, which it does first of all; its process id, or 0.
pid_t waitForTheHelperToBlockInterrupts(qint64 shell)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 3000) {
        QFile children(QString("/proc/%1/task/%1/children").arg(shell));
        if (children.open(QIODevice::ReadOnly)) {
            for (const QByteArray& child : children.readAll().split(' ')) {
                QFile status("/proc/" + child.trimmed() + "/status");
                if (child.trimmed().isEmpty() || !status.open(QIODevice::ReadOnly))
                    continue;
                const QByteArray text = status.readAll();
                const int at = text.indexOf("SigBlk:");
                if (text.startsWith("Name:\ttessaly-save") && at >= 0
                    && (text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().toULongLong(nullptr, 16)
                        & (1u << (SIGINT - 1))))
                    return static_cast<pid_t>(child.trimmed().toLongLong());
            }
        }
        QThread::msleep(10);
    }
    return 0;
}

// The session the process `pid` belongs to, once it leads one of its own
// (at most three seconds), else the one it is in.
pid_t sessionOnceItLeadsOne(pid_t pid)
{
    QElapsedTimer waited;
    waited.start();
    pid_t session = 0;
    do {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            // After the name in parentheses: state, parent, group, session.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            session = fields.size() > 3 ? static_cast<pid_t>(fields[3].toLongLong()) : 0;
        }
        if (session == pid)
            break;
        QThread::msleep(10);
    } while (waited.elapsed() < 3000);
    return session;
}
#endif

} // namespace

class SaveHelperTest : public QObject {
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void answerLines();
#ifndef _WIN32
    void helperAsRoot_data();
    void helperAsRoot();
    void helperWritesOnlyThroughRootsFoldersAndLinks_data();
    void helperWritesOnlyThroughRootsFoldersAndLinks();
#endif
};

void SaveHelperTest::requests_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    const QByteArray good = request(snapshotOf(kOld), kNew);
    QTest::newRow("good") << good << "";
    QTest::newRow("missing file, empty content") << request({}, "") << "";
    QTest::newRow("empty input") << QByteArray() << "The request is truncated.";
    QTest::newRow("half a header") << good.left(20) << "The request is truncated.";
    QTest::newRow("not a request") << QByteArray("hello there, this is forty bytes long!!!") + kNew
                                   << "The input is not a save request.";
    QByteArray otherMarker = good;
    otherMarker[7] = 'X';
    QTest::newRow("marker differs in its last byte") << otherMarker << "The input is not a save request.";
    QTest::newRow("other version") << withVersion(good, 2)
                                   << "The request has protocol version 2; this helper speaks version 1.";
    QTest::newRow("body cut short") << good.left(good.size() - 1) << "The request is shorter than its stated length.";
    QTest::newRow("body too long") << good + "x" << "The request is longer than its stated length.";
    QTest::newRow("announces 256 MiB, sends little")
        << withLength(good, kMaxContentBytes) << "The request is shorter than its stated length.";
    QTest::newRow("over 256 MiB") << withLength(good, kMaxContentBytes + 1)
                                  << "The new content is larger than 256 MiB.";
}

void SaveHelperTest::requests()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, refusal);
    qsizetype at = 0;
    Request parsed;
    const std::string problem = readRequest(
        [&](char* buffer, std::size_t size) {
            // A few bytes at a time, as a pipe may give them.
            const qsizetype count = std::min<qsizetype>({static_cast<qsizetype>(size), 7, input.size() - at});
            std::copy_n(input.constData() + at, count, buffer);
            at += count;
            return static_cast<long long>(count);
        },
        parsed);
    QCOMPARE(QString::fromStdString(problem), refusal);
    // Memory follows the content that came, not the length announced.
    QVERIFY(parsed.content.capacity() <= std::size_t{4} << 20);
    // What was accepted encodes back to the very input.
    if (refusal.isEmpty())
        QCOMPARE(request(parsed.expected, QByteArray::fromStdString(parsed.content)), input);
}

void SaveHelperTest::answerLines()
{
    fileaccess::SaveOutcome outcome{true, {}};
    QCOMPARE(answerLine(outcome), "saved");
    outcome.confirmedOnDisk = false;
    outcome.reason = "Input/output error";
    QCOMPARE(answerLine(outcome), "unconfirmed: Input/output error");
    QCOMPARE(answerLine({false, "Cannot write /etc/hosts: No space left on device"}),
             "error: Cannot write /etc/hosts: No space left on device");
}

#ifndef _WIN32
void SaveHelperTest::helperAsRoot_data()
{
    QTest::addColumn<QString>("how"); // how the helper is started
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("output"); // its line, or its start
    QTest::addColumn<bool>("saved");
    const QByteArray good = request(snapshotOf(kOld), kNew);
    QTest::newRow("good save") << "pkexec" << good << "saved" << true;
    QTest::newRow("file changed since reading") << "pkexec" << request(snapshotOf("something else"), kNew)
                                                << "error: The hosts file /etc/hosts was changed" << false;
    QTest::newRow("truncated") << "pkexec" << good.left(good.size() - 3)
                               << "error: The request is shorter than its stated length." << false;
    QTest::newRow("wrong length") << "pkexec" << good + "trailing"
                                  << "error: The request is longer than its stated length." << false;
    QTest::newRow("bad version") << "pkexec" << withVersion(good, 9) << "error: The request has protocol version 9"
                                 << false;
    QTest::newRow("oversized") << "pkexec" << withLength(good, kMaxContentBytes + 1)
                               << "error: The new content is larger than 256 MiB." << false;
    QTest::newRow("not through pkexec") << "plain" << good << "error: This helper must be started through pkexec."
                                        << false;
    QTest::newRow("not root") << "nobody" << good << "error: This helper must run as root." << false;
    // Arguments could point a root program elsewhere (a file, Qt plugins).
    QTest::newRow("arguments") << "arguments" << good << "error: This helper takes no arguments." << false;
    // The caller's limits and signals do not reach it: rewriting the file in
    // place (it is bind-mounted) under a file size limit far below its size
    // keeps every byte; where it may not raise the limit (a hard limit, and
    // no CAP_SYS_RESOURCE) the write fails with the old bytes put back
    // instead of SIGXFSZ ending it half way. It leaves the caller's session,
    // so that Ctrl+C in the caller's terminal does not reach it, and blocks
    // SIGINT, so that one sent to it while the request is still arriving
    // stops nothing: each tested on its own.
    QByteArray large;
    for (int i = 0; large.size() < 4600; ++i)
        large += "10.0.0." + QByteArray::number(i % 250) + "\thost-" + QByteArray::number(i) + ".example\r\n";
    QTest::newRow("caller's file size limit") << "limited" << request(snapshotOf(kOld), large) << "saved" << true;
    QTest::newRow("caller's hard file size limit, no right to raise it")
        << "hard limit" << request(snapshotOf(kOld), large) << "error: Cannot write" << false;
    QTest::newRow("its own session") << "session" << request(snapshotOf(kOld), large) << "saved" << true;
    QTest::newRow("interrupted") << "interrupted" << request(snapshotOf(kOld), large) << "saved" << true;
    // Out of memory under the caller's limit, which a container's root
    // cannot raise: an answer of its own instead of an abort.
    QTest::newRow("out of memory") << "memory" << request(snapshotOf(kOld), QByteArray(64 << 20, '#'))
                                   << "error: The save helper ran out of memory." << false;
}

void SaveHelperTest::helperAsRoot()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, input);
    QFETCH(QString, output);
    QFETCH(bool, saved);
    if (::geteuid() != 0)
        QSKIP("needs root for a private mount namespace");
    QTemporaryDir directory;
    const QString hosts = directory.filePath("hosts");
    QFile file(hosts);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kOld);
    file.close();

    QString start = "PKEXEC_UID=1000 \"$HELPER\"";
    if (how == "plain")
        start = "env -u PKEXEC_UID \"$HELPER\"";
    else if (how == "nobody")
        start = "PKEXEC_UID=1000 setpriv --reuid=65534 --regid=65534 --clear-groups \"$HELPER\"";
    else if (how == "arguments")
        start = "PKEXEC_UID=1000 \"$HELPER\" -platformpluginpath /tmp";
    else if (how == "limited")
        // Only a soft limit where root may not raise a hard one (a container).
        start = (mayRaiseHardLimits() ? "ulimit -f 1 && " : "ulimit -S -f 1 && ") + start;
    else if (how == "hard limit")
        start = "ulimit -f 1 && PKEXEC_UID=1000 setpriv --bounding-set -sys_resource \"$HELPER\"";
    else if (how == "memory" && mayRaiseHardLimits())
        QSKIP("root here may raise the limit, and does");
#ifdef __SANITIZE_ADDRESS__
    else if (how == "memory")
        QSKIP("AddressSanitizer needs more address space than the limit leaves");
#endif
    else if (how == "memory")
        start = "ulimit -v 60000 && " + start;
    else if (how == "interrupted")
        start = "trap 'echo interrupted >&2' INT; " + start;
    QProcess shell;
    // A process group of its own, which the interrupt is sent to.
    shell.setChildProcessModifier([] { ::setsid(); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HELPER", TESSALY_SAVE_HELPER);
    environment.insert("HOSTS", hosts);
    shell.setProcessEnvironment(environment);
    shell.start("unshare",
                {"-m", "--propagation", "private", "sh", "-c",
                 "mount --bind \"$HOSTS\" /etc/hosts && " + start + "; echo \"exit $?\""});
    if (!shell.waitForStarted())
        QSKIP("unshare is not available");
    const QByteArray content = input.mid(int(kHeaderBytes));
    if (how == "interrupted" || how == "session") {
        shell.write(input.left(input.size() / 2));
        QVERIFY(shell.waitForBytesWritten(10000));
        const pid_t helper = waitForTheHelperToBlockInterrupts(shell.processId());
        QVERIFY(helper > 0);
        if (how == "session") {
            QCOMPARE(sessionOnceItLeadsOne(helper), helper);
        } else {
            ::kill(helper, SIGINT);
            QThread::msleep(100);
        }
        input = input.mid(input.size() / 2);
    }
    shell.write(input);
    shell.closeWriteChannel();
    QVERIFY(shell.waitForFinished(60000));
    const QString result = QString::fromLocal8Bit(shell.readAllStandardOutput()).trimmed();
    if (result.isEmpty() && shell.readAllStandardError().contains("unshare"))
        QSKIP("mount namespaces are not available here");
    const QStringList lines = result.split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(output), qPrintable(result));
    QCOMPARE(lines[1], saved ? "exit 0" : (lines[0].startsWith("error: Cannot") ? "exit 1" : "exit 2"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), saved ? content : kOld);
}

void SaveHelperTest::helperWritesOnlyThroughRootsFoldersAndLinks_data()
{
    // The test's folder is mounted over /etc; `setup` runs in it as root
    // before the helper starts, with "old" holding the file's old content.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("present");    // what the editor saw: the old content, or no file
    QTest::addColumn<QString>("output");  // or the start of an error line
    QTest::addColumn<QString>("changed"); // the file that must hold the new content; empty: none changes
    QTest::newRow("plain file") << "cp old hosts" << true << "saved"
                                << "hosts";
    QTest::newRow("links through root's folders")
        << "mkdir -p real/deeper && cp old real/deeper/hosts && ln -s deeper real/link && ln -s real/link/hosts hosts"
        << true << "saved"
        << "real/deeper/hosts";
    QTest::newRow("group write for root's group")
        << "mkdir -m 775 shared && cp old shared/hosts && ln -s shared/hosts hosts" << true << "saved"
        << "shared/hosts";
    QTest::newRow("a missing file is created") << "true" << false << "saved"
                                               << "hosts";
    QTest::newRow("folder every user may write")
        << "mkdir -m 1777 open && cp old open/hosts && ln -s open/hosts hosts" << true
        << "error: The hosts file is reached through the folder /etc/open, which can be written by every user."
        << "";
    QTest::newRow("folder of another user")
        << "mkdir mine && chown 65534 mine && cp old mine/hosts && ln -s mine/hosts hosts" << true
        << "error: The hosts file is reached through the folder /etc/mine, which "
           "is owned by user 65534, not root."
        << "";
    QTest::newRow("folder of another group") << "mkdir -m 775 staff && chgrp 50 staff && cp old staff/hosts && "
                                                "ln -s staff/hosts hosts"
                                             << true
                                             << "error: The hosts file is reached through the folder /etc/staff, "
                                                "which can be written by group 50."
                                             << "";
    QTest::newRow("access list lets a user write") << "mkdir acl && cp old acl/hosts && ln -s acl/hosts hosts" << true
                                                   << "error: The hosts file is reached through the folder /etc/acl, "
                                                      "which has an access-list entry that lets user 12345 write it."
                                                   << "";
    QTest::newRow("link of another user") << "cp old real && ln -s real hosts && chown -h 65534 hosts" << true
                                          << "error: The hosts file is reached through the link /etc/hosts, which "
                                             "is owned by user 65534, not root."
                                          << "";
    QTest::newRow("/etc itself writable by every user") << "chmod 777 . && cp old hosts" << true
                                                        << "error: The hosts file is reached through the folder "
                                                           "/etc, which can be written by every user."
                                                        << "";
    QTest::newRow("dangling link") << "ln -s elsewhere hosts" << false
                                   << "error: The hosts file is a link to /etc/elsewhere, which does not exist. The "
                                      "save helper does not create a file through a link."
                                   << "";
    // Access lists of rules it does not judge (seen through a stand-in).
    const QString nfs4 = "export LD_PRELOAD=\"$NFS4_SHIM\" ASAN_OPTIONS=verify_asan_link_order=0 TESSALY_NFS4_ACL_ON=";
    QTest::newRow("folder with an NFSv4 access list")
        << "mkdir nfs && cp old nfs/hosts && ln -s nfs/hosts hosts && " + nfs4 + "/etc/nfs" << true
        << "error: The hosts file is reached through the folder /etc/nfs, which has an NFSv4 access list (whose rules "
           "the save helper does not judge)."
        << "";
    QTest::newRow("file with an NFSv4 access list")
        << "cp old hosts && " + nfs4 + "/etc/hosts" << true
        << "error: The hosts file /etc/hosts has an NFSv4 access list (whose rules the save helper does not judge)."
        << "";
    // What the file really is, not "changed by another program".
    QTest::newRow("link loop") << "ln -s hosts hosts" << true
                               << "error: Cannot follow the link /etc/hosts: Too many levels of symbolic links"
                               << "";
    QTest::newRow("folder") << "mkdir hosts" << true
                            << "error: The hosts file /etc/hosts cannot be read (Is a directory), so it was left as "
                               "it is."
                            << "";
    QTest::newRow("fifo") << "mkfifo hosts" << true
                          << "error: The hosts file /etc/hosts cannot be read (Not a regular file), so it was left "
                             "as it is."
                          << "";
}

void SaveHelperTest::helperWritesOnlyThroughRootsFoldersAndLinks()
{
    QFETCH(QString, setup);
    QFETCH(bool, present);
    QFETCH(QString, output);
    QFETCH(QString, changed);
    if (::geteuid() != 0)
        QSKIP("needs root for a private mount namespace");
    QTemporaryDir etc;
    QFile old(etc.filePath("old"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(kOld);
    old.close();
    QCOMPARE(::chmod(QFile::encodeName(etc.path()).constData(), 0755), 0);
    if (QTest::currentDataTag() == QByteArray("access list lets a user write")) {
        // user 12345: rwx, as setfacl -m u:12345:rwx would set it
        struct AclEntry {
            std::uint16_t tag, permissions;
            std::uint32_t id;
        };
        const std::uint32_t version = 2;
        const AclEntry acl[] = {{0x01, 7, 0xFFFFFFFF},
                                {0x02, 7, 12345},
                                {0x04, 5, 0xFFFFFFFF},
                                {0x10, 7, 0xFFFFFFFF},
                                {0x20, 5, 0xFFFFFFFF}};
        QByteArray value(reinterpret_cast<const char*>(&version), sizeof version);
        value.append(reinterpret_cast<const char*>(acl), sizeof acl);
        QVERIFY(QDir(etc.path()).mkdir("acl"));
        if (::setxattr(QFile::encodeName(etc.filePath("acl")).constData(), "system.posix_acl_access", value.constData(),
                       static_cast<std::size_t>(value.size()), 0)
            != 0)
            QSKIP("this file system has no POSIX ACLs");
        setup.replace("mkdir acl && ", "");
    }

    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HELPER", TESSALY_SAVE_HELPER);
    environment.insert("ETC", etc.path());
    environment.insert("NFS4_SHIM", TESSALY_NFS4_SHIM);
    shell.setProcessEnvironment(environment);
    shell.setWorkingDirectory(etc.path());
    shell.start("unshare",
                {"-m", "--propagation", "private", "sh", "-c",
                 setup + " && mount --bind \"$ETC\" /etc && cd / && PKEXEC_UID=1000 \"$HELPER\""});
    if (!shell.waitForStarted())
        QSKIP("unshare is not available");
    shell.write(request(present ? snapshotOf(kOld) : FileSnapshot{}, kNew));
    shell.closeWriteChannel();
    QVERIFY(shell.waitForFinished(60000));
    const QString result = QString::fromLocal8Bit(shell.readAllStandardOutput()).trimmed();
    if (result.isEmpty() && shell.readAllStandardError().contains("unshare"))
        QSKIP("mount namespaces are not available here");
    QVERIFY2(result == output || (output.startsWith("error: ") && result.startsWith(output + " ")), qPrintable(result));

    // Only the file named changed; nothing new appeared through a link.
    const QStringList files = {"hosts",       "real/deeper/hosts", "shared/hosts", "open/hosts", "mine/hosts",
                               "staff/hosts", "acl/hosts",         "real",         "elsewhere"};
    for (const QString& name : files) {
        QFile file(etc.filePath(name));
        const QFileInfo info(etc.filePath(name));
        if (!info.exists() || info.isSymLink() || !info.isFile())
            continue;
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), name == changed ? kNew : kOld);
    }
    QVERIFY(!QFileInfo::exists(etc.filePath("elsewhere")));
    if (!changed.isEmpty())
        QVERIFY(QFileInfo(etc.filePath(changed)).isFile());
}
#endif

QTEST_GUILESS_MAIN(SaveHelperTest)
#include "tst_savehelper.moc"
