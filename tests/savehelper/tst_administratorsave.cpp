// SPDX-License-Identifier: GPL-3.0-or-later
// The main window saving through the save helper when the editor may not
// write the hosts file itself (standinpkexec.h: a private /etc/hosts and a
// stand-in pkexec).
#include "frmmain.h"
#include "hostsformatter.h"
#include "messagebox.h"
#include "saverequest.h"
#include "previousversions.h"
#include "standinpkexec.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using platform::MessageAnswer;
using namespace standin;

namespace {

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
};

void AdministratorSaveTest::init()
{
    if (!whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    QVERIFY(resetHostsFile());
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
    QTest::addColumn<QString>("answer");  // what the stand-in pkexec answers
    QTest::addColumn<bool>("writable");   // the editor may write the file itself
    QTest::addColumn<QString>("leaving"); // SAVE/CLOSE, or CANCEL and Yes
    QTest::addColumn<QString>("reason");  // of the error box; empty: the program ends
    QTest::newRow("writable: no helper") << "error" << true << "close"
                                         << "";
    QTest::newRow("helper saves") << "saved" << false << "close"
                                  << "";
    QTest::newRow("helper saves after Yes") << "saved" << false << "cancel"
                                            << "";
    QTest::newRow("helper fails") << "error" << false << "close"
                                  << "Cannot write /etc/hosts: No space left on device";
    QTest::newRow("authentication refused") << "refused" << false << "close"
                                            << "Authentication was cancelled or refused";
    QTest::newRow("refused after Yes") << "refused" << false << "cancel"
                                       << "Authentication was cancelled or refused";
    QTest::newRow("polkit not running") << "no-polkit" << false << "close"
                                        << "pkexec could not ask for administrator rights: Error getting authority: "
                                           "Could not connect";
    QTest::newRow("no agent and no terminal")
        << "no-agent" << false << "close"
        << "pkexec could not ask for administrator rights: no polkit authentication agent is running, and there is "
           "no terminal to ask on";
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
        QCOMPARE(recorded("request"),
                 QByteArray::fromStdString(
                     savehelper::encodeHeader(savehelper::FileSnapshot::of(kFile.toStdString()), expected.size())
                     + expected));
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
    QCOMPARE(boxes[0].prompt,
             "The hosts file was saved, but the system could not confirm that the change is on "
             "disk (Input/output error). Save again to be sure.");
    QCOMPARE(ending.count(), 0);
    QVERIFY(window.isVisible() && window.isEnabled());
}

int main(int argc, char** argv)
{
    // Before any thread exists: a mount namespace is per process only then.
    QTemporaryDir directory;
    enterPrivateHostsFile(directory);
    // The versions that saves keep go there too.
    previousversions::testing::setStateFolder(directory.filePath("state").toStdString());
    QApplication application(argc, argv);
    AdministratorSaveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_administratorsave.moc"
