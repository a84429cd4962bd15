// SPDX-License-Identifier: GPL-3.0-or-later
// Saving through the save helper when the editor may not write the hosts
// file itself. As root, the test runs in a private mount namespace whose
// /etc/hosts is a test file made immutable (so that even root's own save is
// refused), and pkexec is a stand-in on PATH that records the request and
// answers as told.
#include "frmmain.h"
#include "hostsformatter.h"
#include "messagebox.h"
#include "saverequest.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

using platform::MessageAnswer;

namespace {

const QByteArray kFile = "# lab\n127.0.0.1 localhost\n10.0.0.1 alpha\n";

bool setImmutable(const QString& path, bool immutable)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

// Set up by main() before Qt starts: empty when the test cannot run here.
QString scratch;
QString whyNot;

void enterPrivateHostsFile(QTemporaryDir& directory)
{
    if (::geteuid() != 0) {
        whyNot = "needs root for a private mount namespace";
        return;
    }
    const QString hosts = directory.filePath("hosts");
    QFile file(hosts);
    if (!file.open(QIODevice::WriteOnly) || file.write(kFile) != kFile.size()) {
        whyNot = "cannot write the test file";
        return;
    }
    file.close();
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(QFile::encodeName(hosts).constData(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
        whyNot = "mount namespaces are not available here";
        return;
    }
    if (!setImmutable(hosts, true) || !setImmutable(hosts, false)) {
        whyNot = "this file system cannot make a file immutable";
        return;
    }
    QFile standIn(directory.filePath("pkexec"));
    if (!standIn.open(QIODevice::WriteOnly))
        return;
    standIn.write("#!/bin/sh\n"
                  "cat > \"$STANDIN_DIR/request\"\n"
                  "printf '%s' \"$*\" > \"$STANDIN_DIR/arguments\"\n"
                  "case \"$STANDIN_ANSWER\" in\n"
                  "saved) echo saved; exit 0 ;;\n"
                  "error) echo 'error: Cannot write /etc/hosts: No space left on device'; exit 1 ;;\n"
                  "unconfirmed) echo 'unconfirmed: Input/output error'; exit 3 ;;\n"
                  "refused) exit 126 ;;\n"
                  "no-polkit) echo 'Error getting authority: Could not connect' >&2; exit 127 ;;\n"
                  "esac\n"
                  "exit 127\n");
    standIn.close();
    standIn.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", QFile::encodeName(directory.path()) + ":" + qgetenv("PATH"));
    qputenv("STANDIN_DIR", QFile::encodeName(directory.path()));
    scratch = directory.path();
}

// Starts the main window over the system's hosts file and adds an entry.
void startAndAdd(frmMain& window)
{
    window.Form_Load();
    window.findChild<QLineEdit*>("txtHost")->setText("added.example");
    window.findChild<QPushButton*>("cmdAdd")->click();
}

} // namespace

class AdministratorSaveTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void deniedSaveGoesThroughTheHelper_data();
    void deniedSaveGoesThroughTheHelper();
    void unconfirmedSaveThroughTheHelperKeepsTheWindow();

private:
    QString hosts() const { return scratch + "/hosts"; }
    QByteArray recorded(const char* name) const
    {
        QFile file(scratch + "/" + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
};

void AdministratorSaveTest::init()
{
    if (!whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    setImmutable(hosts(), false);
    QFile file(hosts());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(kFile);
    file.close();
    QFile::remove(scratch + "/request");
    QFile::remove(scratch + "/arguments");
    platform::messagescript::clear();
    platform::messagescript::enable(true);
}

void AdministratorSaveTest::cleanup()
{
    if (!scratch.isEmpty())
        setImmutable(hosts(), false);
}

void AdministratorSaveTest::deniedSaveGoesThroughTheHelper_data()
{
    QTest::addColumn<QString>("answer");   // what the stand-in pkexec answers
    QTest::addColumn<bool>("writable");    // the editor may write the file itself
    QTest::addColumn<QString>("leaving");  // SAVE/CLOSE, or CANCEL and Yes
    QTest::addColumn<QString>("reason");   // of the error box; empty: the program ends
    QTest::newRow("writable: no helper") << "error" << true << "close" << "";
    QTest::newRow("helper saves") << "saved" << false << "close" << "";
    QTest::newRow("helper saves after Yes") << "saved" << false << "cancel" << "";
    QTest::newRow("helper fails") << "error" << false << "close"
                                  << "Cannot write /etc/hosts: No space left on device";
    QTest::newRow("authentication refused") << "refused" << false << "close"
                                            << "Authentication was cancelled or refused";
    QTest::newRow("refused after Yes") << "refused" << false << "cancel" << "Authentication was cancelled or refused";
    QTest::newRow("polkit not running") << "no-polkit" << false << "close"
                                        << "pkexec could not ask for administrator rights: Error getting authority: "
                                           "Could not connect";
}

void AdministratorSaveTest::deniedSaveGoesThroughTheHelper()
{
    QFETCH(QString, answer);
    QFETCH(bool, writable);
    QFETCH(QString, leaving);
    QFETCH(QString, reason);
    qputenv("STANDIN_ANSWER", answer.toLatin1());
    if (!writable)
        QVERIFY(setImmutable(hosts(), true));

    frmMain window;
    QSignalSpy ending(&window, &frmMain::programEnding);
    startAndAdd(window);
    QVERIFY(window.m_HasChanged);
    if (leaving == "cancel") {
        platform::messagescript::queueAnswer(MessageAnswer::Yes); // Save changes? Yes
        window.findChild<QPushButton*>("cmdCancel")->click();
    } else {
        window.findChild<QPushButton*>("cmdClose")->click();
    }
    const std::string expected = formatHostsFile(window.headerText(), window.cHosts);
    QList<platform::MessageRequest> boxes = platform::messagescript::shown();
    if (leaving == "cancel")
        boxes.removeFirst();

    if (writable) {
        QCOMPARE(recorded("request"), "<none>");
    } else {
        // The request: the file as it was read, and the content to write.
        QCOMPARE(recorded("request"), QByteArray::fromStdString(savehelper::encodeHeader(
                                          savehelper::FileSnapshot::of(kFile.toStdString()), expected.size()) + expected));
        QVERIFY2(recorded("arguments").endsWith("/tessaly-save-helper"), recorded("arguments").constData());
    }
    QFile file(hosts());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), writable ? QByteArray::fromStdString(expected) : kFile);

    if (reason.isEmpty()) {
        QVERIFY(boxes.isEmpty());
        QCOMPARE(ending.count(), 1);
        return;
    }
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].title, "Error");
    QCOMPARE(boxes[0].prompt, "The hosts file could not be saved:\r\n/etc/hosts\r\n\r\n" + reason);
    QCOMPARE(ending.count(), 0);
    QVERIFY(window.isVisible() && window.isEnabled());
    QVERIFY(window.m_HasChanged);
    QVERIFY(window.cHosts.contains("added.example"));
}

void AdministratorSaveTest::unconfirmedSaveThroughTheHelperKeepsTheWindow()
{
    qputenv("STANDIN_ANSWER", "unconfirmed");
    QVERIFY(setImmutable(hosts(), true));
    frmMain window;
    QSignalSpy ending(&window, &frmMain::programEnding);
    startAndAdd(window);
    window.findChild<QPushButton*>("cmdClose")->click();
    const QList<platform::MessageRequest> boxes = platform::messagescript::shown();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].prompt, "The hosts file was saved, but the system could not confirm that the change is on "
                              "disk (Input/output error). Save again to be sure.");
    QCOMPARE(ending.count(), 0);
    QVERIFY(window.isVisible() && window.isEnabled());
}

int main(int argc, char** argv)
{
    // Before any thread exists: a mount namespace is per process only then.
    QTemporaryDir directory;
    enterPrivateHostsFile(directory);
    QApplication application(argc, argv);
    AdministratorSaveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_administratorsave.moc"
