// SPDX-License-Identifier: GPL-3.0-or-later
// The save helper, the one program that runs with administrator rights: its
// request reading, and on Linux the real executable in a private mount
// namespace whose /etc/hosts is a test file, with each way it refuses.
#include "saverequest.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifndef _WIN32
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

} // namespace

class SaveHelperTest : public QObject {
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
#ifndef _WIN32
    void helperAsRoot_data();
    void helperAsRoot();
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
    QTest::newRow("other version") << withVersion(good, 2)
                                   << "The request has protocol version 2; this helper speaks version 1.";
    QTest::newRow("body cut short") << good.left(good.size() - 1) << "The request is shorter than its stated length.";
    QTest::newRow("body too long") << good + "x" << "The request is longer than its stated length.";
    QTest::newRow("over 256 MiB") << withLength(good, kMaxContentBytes + 1) << "The new content is larger than 256 MiB.";
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
    // What was accepted encodes back to the very input.
    if (refusal.isEmpty())
        QCOMPARE(request(parsed.expected, QByteArray::fromStdString(parsed.content)), input);
}

#ifndef _WIN32
void SaveHelperTest::helperAsRoot_data()
{
    QTest::addColumn<QString>("how");    // how the helper is started
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
    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HELPER", TESSALY_SAVE_HELPER);
    environment.insert("HOSTS", hosts);
    shell.setProcessEnvironment(environment);
    shell.start("unshare", {"-m", "--propagation", "private", "sh", "-c",
                            "mount --bind \"$HOSTS\" /etc/hosts && " + start + "; echo \"exit $?\""});
    if (!shell.waitForStarted())
        QSKIP("unshare is not available");
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
    QCOMPARE(file.readAll(), saved ? kNew : kOld);
}

#endif

QTEST_GUILESS_MAIN(SaveHelperTest)
#include "tst_savehelper.moc"
