// SPDX-License-Identifier: GPL-3.0-or-later
#include "guitestutil.h"

#include "filesave.h"
#include "hostslocation.h"
#include "modalguard.h"
#include "namecache.h"
#include "previousversions.h"
#include "testfiles.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QMessageBox>
#include <QTimer>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

namespace {

const QByteArray kRewrittenFixture = "# Lab hosts\r\n"
                                     "# managed by hand\r\n"
                                     "\r\n"
                                     "127.0.0.1\tlocalhost\t\t# Local loop-back hostname\r\n"
                                     "10.0.0.1\talpha beta\r\n"
                                     "10.0.0.2\tgamma\t\t# build box\r\n";

void verifyBox(const platform::MessageRequest& box, const QString& prompt, const QString& title, MessageButtons buttons,
               MessageIcon icon)
{
    QCOMPARE(box.prompt, prompt);
    QCOMPARE(box.title, title);
    QCOMPARE(box.buttons, buttons);
    QCOMPARE(box.icon, icon);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { closeModalWindowsOnFailure(); }
    // Start-up
    void startShowsEveryEntryAndKeepsTheHeader();
    void startWithoutFileIsEmptyAndQuiet();
    void startShowsTheSystemsHostsFile();
    void eightBitTextShowsInTheSystemEncodingAndIsKept();
    void duplicateNoticesAnsweredNoAndYes();
    void duplicateNoticeStandsOverVisibleWindowWithEmptyList();
    void layoutNamesAndInitialState();

    // Adding
    void addTrimsAndAppends();
    void addRefusalsKeepTheBoxes();
    void addRefusesACommentMarkOutsideTheComment_data();
    void addRefusesACommentMarkOutsideTheComment();
    void addAcceptsOddHostnamesAsTyped();
    void textBoxesHoldOneLine();
    void charactersTheFileCannotHoldAreLeftOut();

    // Removing
    void rowClickSetsRemoveByTheLocalhostRule();
    void removeTakesOnlyTheSelectedHostname();
    void removeStaysOffForLocalhostAfterRebuilds();
    void removeOnEmptyListIsOffAndHarmless();
    void removeAllAskedAndAnswered();

    // Leaving
    void saveCloseRewritesUnchangedFile();
    void cancelWithoutChangesEndsQuietly();
    void cancelAfterChangeWithEachAnswer();
    void failedSaveKeepsWindowAndEdits();
#ifndef _WIN32
    void unconfirmedSaveKeepsTheWindowToSaveAgain();
#endif
    void unreadableFileIsNeverOverwritten_data();
    void unreadableFileIsNeverOverwritten();
    void fileChangedByAnotherProgramAsksFirst();
    void previousVersionNotKeptAsksFirst();
    void titleBarCloseActsAsCancel();
    void informationBox();
    void unexpectedFailureOfAnActionKeepsWindowAndEdits_data();
    void unexpectedFailureOfAnActionKeepsWindowAndEdits();

    // Keys
    void escapeActsOnceWithAnyModifier();
    void ctrlEnterSavesAndPlainEnterDoesNot();
    void keyboardReachesEveryControlAndTheEditor();
    void releaseWithoutPressInThisWindowIsIgnored();
    void escapeDismissingTheRealSaveQuestionDoesNotAskAgain();
};

void MainWindowTest::startShowsEveryEntryAndKeepsTheHeader()
{
    MainWindowFixture fixture("main-window.hosts");
    QVERIFY(fixture.window->isVisible());
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "alpha", "beta", "gamma"}));
    QCOMPARE(fixture.cell(1, 1), "10.0.0.1");
    QCOMPARE(fixture.cell(2, 1), "10.0.0.1");
    QCOMPARE(fixture.cell(3, 2), "build box");
    QCOMPARE(fixture.cell(1, 2), "");
    QCOMPARE(fixture.window->headerText(), "# Lab hosts\r\n# managed by hand\r\n");
    QCOMPARE(fixture.selectedRow(), 0);
    QVERIFY(!fixture.button("cmdRemove")->isEnabled()); // the first row is localhost
    QCOMPARE(fixture.control<QLabel>("lblHostsFile")->text(), fixture.hostsPath);
    QVERIFY(fixture.boxes().isEmpty());
    QVERIFY(!fixture.window->m_HasChanged);
}

void MainWindowTest::eightBitTextShowsInTheSystemEncodingAndIsKept()
{
    MainWindowFixture fixture("");
    {
        QFile file(fixture.hostsPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("10.0.0.1 caf\xE9 # cr\xE8me\r\n10.0.0.2 na\xC3\xAFve\r\n");
    }
    fixture.start();
    // Windows reads the file in the ANSI code page; other systems in UTF-8,
    // where a lone 0xE9 is no character.
#ifdef _WIN32
    if (GetACP() != 1252)
        QSKIP("needs the Western code page 1252");
    const QStringList shown{u"caf\u00E9"_s, u"na\u00C3\u00AFve"_s};
    const QString comment = u"cr\u00E8me"_s;
#else
    const QStringList shown{u"caf\uFFFD"_s, u"na\u00EFve"_s};
    const QString comment = u"cr\uFFFDme"_s;
#endif
    QCOMPARE(fixture.hostColumn(), shown);
    QCOMPARE(fixture.cell(0, 2), comment);
    fixture.add("new.example", "10.0.0.3");
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QVERIFY(fixture.ended());
    QCOMPARE(fixture.fileBytes(),
             "\r\n10.0.0.1\tcaf\xE9\t\t# cr\xE8me\r\n10.0.0.2\tna\xC3\xAFve\r\n"
             "10.0.0.3\tnew.example\r\n");
}

void MainWindowTest::startShowsTheSystemsHostsFile()
{
    // Only read: the window is never saved here.
    platform::messagescript::clear();
    platform::messagescript::enable(true);
    platform::messagescript::queueAnswer(MessageAnswer::Yes); // a duplicate notice, if any, is silenced
    frmMain window;
    window.Form_Load();
    const QString shown = window.findChild<QLabel*>("lblHostsFile")->text();
    QCOMPARE(shown, QString::fromLocal8Bit(fileaccess::systemHostsFilePath()));
#ifdef _WIN32
    // Windows gives the system directory in capitals or not; wine as
    // "C:\windows\system32".
    QVERIFY2(shown.endsWith(u"\\system32\\Drivers\\etc\\hosts"_s, Qt::CaseInsensitive), qPrintable(shown));
#else
    QCOMPARE(shown, "/etc/hosts");
#endif
}

void MainWindowTest::startWithoutFileIsEmptyAndQuiet()
{
    MainWindowFixture fixture("");
    QCOMPARE(fixture.rowCount(), 0);
    QCOMPARE(fixture.selectedRow(), -1);
    QVERIFY(!fixture.button("cmdRemove")->isEnabled());
    QCOMPARE(fixture.control<QLabel>("lblHostsFile")->text(), fixture.hostsPath);
    QVERIFY(fixture.control<QLabel>("lblHostsFile")->width()
            >= fixture.control<QLabel>("lblHostsFile")->fontMetrics().horizontalAdvance(fixture.hostsPath));
    QVERIFY(fixture.boxes().isEmpty());

    // SAVE/CLOSE creates the file from what the user entered.
    fixture.add("new.example", "10.1.1.1");
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(), "\r\n10.1.1.1\tnew.example\r\n");
    QVERIFY(fixture.ended());
}

void MainWindowTest::duplicateNoticesAnsweredNoAndYes()
{
    const QString prompt = QStringLiteral("Duplicate hostname found: %1\r\nThis entry will be discarded!\r\n\r\n"
                                          "Click 'Yes' to not display this notice again, 'No' to keep noticing you.");
    {
        MainWindowFixture fixture("duplicates.hosts", {MessageAnswer::No, MessageAnswer::Yes});
        QCOMPARE(fixture.boxes().size(), 2);
        verifyBox(fixture.boxes()[0], prompt.arg("DUP1"), "Error", MessageButtons::YesNo, MessageIcon::Exclamation);
        QCOMPARE(fixture.boxes()[0].defaultButton, MessageAnswer::Yes);
        QCOMPARE(fixture.boxes()[1].prompt, prompt.arg("Dup2"));
        QCOMPARE(fixture.hostColumn(), (QStringList{"dup1", "dup2", "dup3"}));
        QCOMPARE(fixture.cell(0, 1), "1.1.1.1");
    }
    {
        MainWindowFixture fixture("duplicates.hosts", {MessageAnswer::No, MessageAnswer::No, MessageAnswer::No});
        QCOMPARE(fixture.boxes().size(), 3);
        QCOMPARE(fixture.boxes()[2].prompt, prompt.arg("dup3"));
    }
}

void MainWindowTest::duplicateNoticeStandsOverVisibleWindowWithEmptyList()
{
    // Drives the real QMessageBox of the duplicate notice.
    platform::messagescript::clear();
    platform::messagescript::enable(false);
    QTemporaryDir directory;
    const QString path = directory.filePath("hosts");
    QVERIFY(QFile::copy(TESSALY_TEST_DATA_DIR "/duplicates.hosts", path));
    frmMain window([&] { return path.toStdString(); });
    QTableView* list = window.findChild<QTableView*>("lstHosts");

    bool checked = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QVERIFY(window.isVisible());
        QCOMPARE(list->model()->rowCount(), 0);
        QCOMPARE(box->windowTitle(), "Error");
        QVERIFY(box->text().startsWith("Duplicate hostname found: DUP1\nThis entry will be discarded!\n\n"));
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
        checked = true;
        box->button(QMessageBox::Yes)->click();
    });
    window.Form_Load();
    QVERIFY(checked);
    QCOMPARE(list->model()->rowCount(), 3);
}

void MainWindowTest::layoutNamesAndInitialState()
{
    MainWindowFixture fixture("main-window.hosts");
    frmMain& window = *fixture.window;
    QCOMPARE(window.windowTitle(), "Tessaly");
    QCOMPARE(window.size(), QSize(493, 401));
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(window.minimumSize(), window.maximumSize());

    struct Expected {
        const char* name;
        QString caption;
        QRect geometry;
    };
    for (const Expected& expected :
         {Expected{"cmdAdd", "ADD", QRect(383, 77, 74, 25)}, Expected{"cmdRemove", "REMOVE", QRect(303, 305, 74, 25)},
          Expected{"cmRemoveAll", "REMOVE ALL", QRect(381, 305, 74, 25)},
          Expected{"cmdCancel", "CANCEL [ESC]", QRect(299, 364, 89, 27)},
          Expected{"cmdClose", "SAVE/CLOSE", QRect(392, 364, 89, 27)}}) {
        QPushButton* button = fixture.button(expected.name);
        QVERIFY2(button, expected.name);
        QCOMPARE(button->text(), expected.caption);
        QCOMPARE(button->geometry(), expected.geometry);
        QVERIFY(!button->autoDefault() && !button->isDefault());
    }
    QCOMPARE(fixture.control("Frame1")->geometry(), QRect(11, 9, 470, 345));
    QCOMPARE(fixture.list()->geometry(), QRect(15, 140, 440, 160));
    QCOMPARE(fixture.box("txtIP")->text(), "127.0.0.1");
    QCOMPARE(fixture.box("txtHost")->text(), "");
    QCOMPARE(fixture.box("txtHost")->palette().color(QPalette::Base), QColor(0, 104, 171));
    QCOMPARE(fixture.box("txtHost")->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(fixture.list()->palette().color(QPalette::Base), QColor(0, 104, 171));
    QCOMPARE(fixture.button("cmdInformation")->toolTip(), "Information about this program");
    // The picture is drawn (an icon of a missing resource or image plugin is not null, but empty).
    QVERIFY(!fixture.button("cmdInformation")->icon().pixmap(16, 16).isNull());
    QVERIFY(!window.windowIcon().pixmap(32, 32).isNull());
    QVERIFY(!fixture.button("cmdInformation")->accessibleName().isEmpty());
    QCOMPARE(fixture.control<QLabel>("lblInfo_0")->text(), "DOUBLE-CLICK TO EDIT AN ENTRY");
    QCOMPARE(fixture.control<QLabel>("lblInfo_1")->text(), "NAME OF HOSTS TO ADD");
    QVERIFY(fixture.control<QLabel>("lblInfo_1")->font().bold());
    QCOMPARE(fixture.control<QLabel>("lblInfo_4")->text(), "COMMENT (OPTIONAL):");

    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), fixture.box("txtHost"));

    const QAbstractItemModel* model = fixture.list()->model();
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), "Host");
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), "IP");
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), "Comment");
    QCOMPARE(fixture.list()->columnWidth(1), 96);
    QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsEditable));

    // A click on a column header neither sorts nor reorders.
    QTest::mouseClick(fixture.list()->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "alpha", "beta", "gamma"}));

    // Tab order: host, address, ADD, REMOVE (skipped while disabled), ...
    fixture.box("txtHost")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), fixture.box("txtIP"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), fixture.button("cmdAdd"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), fixture.button("cmRemoveAll"));
}

void MainWindowTest::addTrimsAndAppends()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.clickRow(2);
    fixture.add("  Delta.Lab  ", " 10.0.0.9  ", "  new\tbox ");
    QVERIFY(fixture.boxes().isEmpty());
    QCOMPARE(fixture.hostColumn().last(), "Delta.Lab");
    QCOMPARE(fixture.cell(4, 1), "10.0.0.9");
    QCOMPARE(fixture.cell(4, 2), "new box"); // a typed TAB is a blank, as the system reads it
    QCOMPARE(fixture.box("txtHost")->text(), "");
    QCOMPARE(fixture.box("txtIP")->text(), "127.0.0.1");
    QCOMPARE(fixture.box("txtComment")->text(), "");
    QVERIFY(fixture.window->m_HasChanged);
    QCOMPARE(fixture.selectedRow(), 0);

    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(), kRewrittenFixture + "10.0.0.9\tDelta.Lab\t\t# new box\r\n");
}

void MainWindowTest::addRefusalsKeepTheBoxes()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.add("   ", "10.0.0.3", " note ");
    fixture.add(" host ", "   ");
    QCOMPARE(fixture.boxes().size(), 2);
    for (const platform::MessageRequest& box : fixture.boxes())
        verifyBox(box, "Please enter both a hostname and an IP address.", "Error", MessageButtons::Ok,
                  MessageIcon::Information);
    QCOMPARE(fixture.box("txtHost")->text(), " host ");
    QCOMPARE(fixture.box("txtIP")->text(), "   ");

    platform::messagescript::clear();
    fixture.add(" ALPHA ", " 10.9.9.9", "x");
    QCOMPARE(fixture.boxes().size(), 1);
    verifyBox(fixture.boxes()[0], "This hostname already exists!", "Error", MessageButtons::Ok,
              MessageIcon::Exclamation);
    QCOMPARE(fixture.box("txtHost")->text(), " ALPHA ");
    QCOMPARE(fixture.box("txtIP")->text(), " 10.9.9.9");
    QCOMPARE(fixture.box("txtComment")->text(), "x");
    QCOMPARE(fixture.rowCount(), 4);
    QVERIFY(!fixture.window->m_HasChanged);
}

void MainWindowTest::addRefusesACommentMarkOutsideTheComment_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("refused");
    QTest::newRow("inside a hostname") << "x#y"
                                       << "127.0.0.1" << true;
    QTest::newRow("starting a hostname") << "#hidden.test"
                                         << "127.0.0.1" << true;
    QTest::newRow("after a blank in a hostname") << "plain.test #x"
                                                 << "127.0.0.1" << true;
    QTest::newRow("in the address") << "plain.test"
                                    << "127.0.0.1#x" << true;
    QTest::newRow("in the comment only") << "plain.test"
                                         << "127.0.0.1" << false;
}

void MainWindowTest::addRefusesACommentMarkOutsideTheComment()
{
    QFETCH(QString, host);
    QFETCH(QString, address);
    QFETCH(bool, refused);
    MainWindowFixture fixture("main-window.hosts");
    fixture.add(host, address, "a # note");
    if (!refused) {
        QVERIFY(fixture.boxes().isEmpty());
        QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
        QCOMPARE(fixture.fileBytes(), kRewrittenFixture + "127.0.0.1\tplain.test\t\t# a # note\r\n");
        return;
    }
    QCOMPARE(fixture.boxes().size(), 1);
    verifyBox(fixture.boxes()[0], "A hostname or IP address cannot contain '#'.", "Error", MessageButtons::Ok,
              MessageIcon::Information);
    QCOMPARE(fixture.box("txtHost")->text(), host);
    QCOMPARE(fixture.box("txtIP")->text(), address);
    QCOMPARE(fixture.box("txtComment")->text(), "a # note");
    QCOMPARE(fixture.rowCount(), 4);
    QVERIFY(!fixture.window->m_HasChanged);
}

void MainWindowTest::addAcceptsOddHostnamesAsTyped()
{
    MainWindowFixture fixture("");
    fixture.add("two words", "not an address");
    fixture.add("localhost", "::1");
    QVERIFY(fixture.boxes().isEmpty());
    QCOMPARE(fixture.hostColumn(), (QStringList{"two words", "localhost"}));
    QCOMPARE(fixture.cell(0, 1), "not an address");
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(), "\r\nnot an address\ttwo words\r\n::1\tlocalhost\r\n");
}

void MainWindowTest::textBoxesHoldOneLine()
{
    MainWindowFixture fixture("");
    QLineEdit* host = fixture.box("txtHost");
    host->setText("evil\r\n6.6.6.6 bank.example");
    QCOMPARE(host->text(), "evil 6.6.6.6 bank.example");
    host->clear();
    QApplication::clipboard()->setText("pasted\nname\rhere");
    host->paste();
    QCOMPARE(host->text(), "pasted name here");
    // What the system reads as a separator or an end is shown as what it is.
    fixture.box("txtIP")->setText(QString::fromUtf16(u"1\t2\v3\f4") + QChar(0) + "5");
    QCOMPARE(fixture.box("txtIP")->text(), "1 2 3 4 5");
    fixture.box("txtComment")->setText("two\nlines");
    fixture.add(host->text(), "1.2.3.4", fixture.box("txtComment")->text());
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(), "\r\n1.2.3.4\tpasted name here\t\t# two lines\r\n");
}

void MainWindowTest::charactersTheFileCannotHoldAreLeftOut()
{
    MainWindowFixture fixture("");
    QLineEdit* host = fixture.box("txtHost");
    host->setText(u"caf\u00E9\u65E5\u0142\U0001F600"_s);
    QTest::sendKeyEvent(QTest::Click, host, Qt::Key_unknown, u"\u672C"_s, Qt::NoModifier);
    QTest::keyClicks(host, ".ex");
    QApplication::clipboard()->setText(u"\u0142ample"_s);
    host->paste();
#ifdef _WIN32
    if (GetACP() != 1252)
        QSKIP("needs the Western code page 1252");
    // Neither "?" nor a look-alike ("l" for "ł") may reach the file.
    QCOMPARE(host->text(), u"caf\u00E9.example"_s);
    const QByteArray written = "caf\xE9.example";
#else
    QCOMPARE(host->text(), u"caf\u00E9\u65E5\u0142\U0001F600\u672C.ex\u0142ample"_s);
    const QByteArray written = u"caf\u00E9\u65E5\u0142\U0001F600\u672C.ex\u0142ample"_s.toUtf8();
#endif
    fixture.add(host->text(), "10.0.0.1");
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(), "\r\n10.0.0.1\t" + written + "\r\n");
}

void MainWindowTest::rowClickSetsRemoveByTheLocalhostRule()
{
    MainWindowFixture fixture("main-window.hosts");
    QPushButton* remove = fixture.button("cmdRemove");
    fixture.clickRow(1);
    QVERIFY(remove->isEnabled());
    fixture.clickRow(0);
    QVERIFY(!remove->isEnabled());
    // The keyboard moves the selection too, and REMOVE follows it.
    fixture.list()->setFocus();
    QTest::keyClick(fixture.list(), Qt::Key_Down);
    QCOMPARE(fixture.selectedRow(), 1);
    QVERIFY(remove->isEnabled());

    // Only the exact text "localhost" is protected.
    fixture.add("LocalHost.lab", "127.0.0.2");
    fixture.add("LOCALHOST", "127.0.0.3");
    QVERIFY(fixture.boxes().size() == 1); // LOCALHOST clashes with localhost
    fixture.clickRow(4);
    QCOMPARE(fixture.cell(4, 0), "LocalHost.lab");
    QVERIFY(remove->isEnabled());
}

void MainWindowTest::removeTakesOnlyTheSelectedHostname()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.clickRow(1);
    QTest::mouseClick(fixture.button("cmdRemove"), Qt::LeftButton);
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "beta", "gamma"}));
    QCOMPARE(fixture.cell(1, 1), "10.0.0.1");
    QCOMPARE(fixture.selectedRow(), 0);
    QVERIFY(!fixture.button("cmdRemove")->isEnabled());
    QVERIFY(fixture.window->m_HasChanged);
    QVERIFY(fixture.boxes().isEmpty());
}

void MainWindowTest::removeStaysOffForLocalhostAfterRebuilds()
{
    MainWindowFixture fixture("main-window.hosts");
    QPushButton* remove = fixture.button("cmdRemove");
    // Select another row, then ADD: the rebuild selects localhost again.
    fixture.clickRow(2);
    QVERIFY(remove->isEnabled());
    fixture.add("new.lab", "10.0.0.7");
    QCOMPARE(fixture.selectedRow(), 0);
    QVERIFY(!remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(fixture.rowCount(), 5);

    // The same after REMOVE ALL.
    fixture.clickRow(3);
    MainWindowFixture::answerNext(MessageAnswer::Yes);
    QTest::mouseClick(fixture.button("cmRemoveAll"), Qt::LeftButton);
    QVERIFY(!remove->isEnabled());

    // When another hostname comes first, REMOVE stays on and acts on it.
    MainWindowFixture other("");
    other.add("first", "1.1.1.1");
    other.add("second", "1.1.1.1");
    other.clickRow(1);
    QTest::mouseClick(other.button("cmdRemove"), Qt::LeftButton);
    QCOMPARE(other.hostColumn(), QStringList{"first"});
    QVERIFY(other.button("cmdRemove")->isEnabled());
    QTest::mouseClick(other.button("cmdRemove"), Qt::LeftButton);
    QCOMPARE(other.rowCount(), 0);
    QVERIFY(!other.button("cmdRemove")->isEnabled());
}

void MainWindowTest::removeOnEmptyListIsOffAndHarmless()
{
    MainWindowFixture fixture("");
    QVERIFY(!fixture.button("cmdRemove")->isEnabled());
    fixture.window->cmdRemove_Click();
    QCOMPARE(fixture.rowCount(), 0);
    QVERIFY(!fixture.window->m_HasChanged);
}

void MainWindowTest::removeAllAskedAndAnswered()
{
    MainWindowFixture fixture("main-window.hosts");
    const QString prompt = "Are you sure you want to remove all entries?\r\n"
                           "Note: The hostname 'localhost' cannot be deleted.";
    MainWindowFixture::answerNext(MessageAnswer::No);
    QTest::mouseClick(fixture.button("cmRemoveAll"), Qt::LeftButton);
    verifyBox(fixture.boxes()[0], prompt, "Remove all?", MessageButtons::YesNo, MessageIcon::Question);
    QCOMPARE(fixture.boxes()[0].defaultButton, MessageAnswer::Yes);
    QCOMPARE(fixture.rowCount(), 4);
    QVERIFY(!fixture.window->m_HasChanged);

    fixture.add("LocalHost", "10.0.0.1"); // refused: localhost is present
    MainWindowFixture::answerNext(MessageAnswer::Yes);
    QTest::mouseClick(fixture.button("cmRemoveAll"), Qt::LeftButton);
    QCOMPARE(fixture.hostColumn(), QStringList{"localhost"});
    QCOMPARE(fixture.cell(0, 1), "127.0.0.1");
    QCOMPARE(fixture.cell(0, 2), "Local loop-back hostname");
    QVERIFY(fixture.window->m_HasChanged);

    // A differently spelt localhost goes; the new one is spelt "localhost".
    MainWindowFixture cased("");
    cased.add("LOCALHOST", "10.1.1.1", "mine");
    MainWindowFixture::answerNext(MessageAnswer::Yes);
    QTest::mouseClick(cased.button("cmRemoveAll"), Qt::LeftButton);
    QCOMPARE(cased.hostColumn(), QStringList{"localhost"});
    QCOMPARE(cased.cell(0, 1), "127.0.0.1");
}

void MainWindowTest::saveCloseRewritesUnchangedFile()
{
    MainWindowFixture fixture("main-window.hosts");
    const int flushes = fileaccess::testing::nameCacheFlushRequests();
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QVERIFY(fixture.boxes().isEmpty());
    QCOMPARE(fixture.fileBytes(), kRewrittenFixture);
    QVERIFY(fixture.ended());
    // The resolver is told once the file is saved, so that it takes effect at once.
    QCOMPARE(fileaccess::testing::nameCacheFlushRequests(), flushes + 1);
    QVERIFY(!fixture.window->isVisible());
    QCOMPARE(QDir(fixture.directory.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"hosts"});
}

void MainWindowTest::cancelWithoutChangesEndsQuietly()
{
    MainWindowFixture fixture("main-window.hosts");
    const QByteArray before = fixture.fileBytes();
    QTest::mouseClick(fixture.button("cmdCancel"), Qt::LeftButton);
    QVERIFY(fixture.boxes().isEmpty());
    QVERIFY(fixture.ended());
    QCOMPARE(fixture.fileBytes(), before);
}

void MainWindowTest::cancelAfterChangeWithEachAnswer()
{
    const QString prompt = "You have made changes to the configuration.\r\nSave changes before quitting?";
    {
        MainWindowFixture fixture("main-window.hosts");
        const QByteArray before = fixture.fileBytes();
        fixture.add("new.lab", "10.0.0.7");
        MainWindowFixture::answerNext(MessageAnswer::Cancel);
        QTest::mouseClick(fixture.button("cmdCancel"), Qt::LeftButton);
        verifyBox(fixture.boxes().last(), prompt, "Save changes?", MessageButtons::YesNoCancel, MessageIcon::Question);
        QCOMPARE(fixture.boxes().last().defaultButton, MessageAnswer::Yes);
        QVERIFY(!fixture.ended());
        QVERIFY(fixture.window->isVisible());
        QVERIFY(fixture.window->m_HasChanged);

        MainWindowFixture::answerNext(MessageAnswer::No);
        QTest::mouseClick(fixture.button("cmdCancel"), Qt::LeftButton);
        QCOMPARE(fixture.boxes().size(), 2);
        QVERIFY(fixture.ended());
        QCOMPARE(fixture.fileBytes(), before);
    }
    {
        MainWindowFixture fixture("main-window.hosts");
        fixture.add("new.lab", "10.0.0.7");
        MainWindowFixture::answerNext(MessageAnswer::Yes);
        QTest::mouseClick(fixture.button("cmdCancel"), Qt::LeftButton);
        QVERIFY(fixture.ended());
        QCOMPARE(fixture.fileBytes(), kRewrittenFixture + "10.0.0.7\tnew.lab\r\n");
    }
}

void MainWindowTest::failedSaveKeepsWindowAndEdits()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.add("new.lab", "10.0.0.7");
    // The directory vanishes: neither a new file nor the old one can be written.
    QVERIFY(fixture.directory.remove());
    const int flushes = fileaccess::testing::nameCacheFlushRequests();

    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.boxes().size(), 1); // the file is gone: asked first, and No stays
    QCOMPARE(fixture.boxes().last().title, "Hosts file changed");
    QVERIFY(!fixture.ended());
    MainWindowFixture::answerNext(MessageAnswer::Yes);
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    const platform::MessageRequest failure = fixture.boxes().last();
    QCOMPARE(failure.title, "Error");
    QCOMPARE(failure.icon, MessageIcon::Exclamation);
    QCOMPARE(failure.buttons, MessageButtons::Ok);
    QVERIFY2(failure.prompt.startsWith("The hosts file could not be saved:\r\n" + fixture.hostsPath + "\r\n\r\n"),
             qPrintable(failure.prompt));
#ifdef _WIN32
    // The system's words differ between Windows versions and wine.
    QVERIFY2(failure.prompt.contains("\r\n\r\nCannot look at " + fixture.hostsPath + ": "), qPrintable(failure.prompt));
#else
    QVERIFY2(failure.prompt.endsWith("No such file or directory"), qPrintable(failure.prompt));
#endif
    QVERIFY(!fixture.ended());
    QVERIFY(fixture.window->isVisible());
    QVERIFY(fixture.window->m_HasChanged);
    QCOMPARE(fixture.rowCount(), 5);

    // Yes to the save question fails the same way and stays too.
    MainWindowFixture::answerNext(MessageAnswer::Yes);
    MainWindowFixture::answerNext(MessageAnswer::Yes);
    QTest::mouseClick(fixture.button("cmdCancel"), Qt::LeftButton);
    QVERIFY(fixture.boxes().last().prompt.startsWith("The hosts file could not be saved:"));
    QVERIFY(!fixture.ended());
    QCOMPARE(fileaccess::testing::nameCacheFlushRequests(), flushes);
}

#ifndef _WIN32
void MainWindowTest::unconfirmedSaveKeepsTheWindowToSaveAgain()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.add("new.lab", "10.0.0.7");
    // The directory's sync after the rename fails: the file was written,
    // but a power cut might still undo it.
    fileaccess::testing::setSyncHook([](int fd) {
        struct stat status{};
        if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
            errno = EIO;
            return -1;
        }
        return ::fsync(fd);
    });
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    fileaccess::testing::setSyncHook(nullptr);
    QCOMPARE(fixture.boxes().size(), 1);
    verifyBox(fixture.boxes()[0],
              "The hosts file was saved, but the system could not confirm that the change is on disk "
              "(Input/output error). Save again to be sure.",
              "Error", MessageButtons::Ok, MessageIcon::Exclamation);
    QVERIFY(!fixture.ended());
    QVERIFY(fixture.window->isVisible());
    QCOMPARE(fixture.fileBytes(), kRewrittenFixture + "10.0.0.7\tnew.lab\r\n");

    // The file it wrote is no change by another program: no question.
    platform::messagescript::clear();
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QVERIFY(fixture.boxes().isEmpty());
    QVERIFY(fixture.ended());
}
#endif

void MainWindowTest::unreadableFileIsNeverOverwritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("directory") << "directory"
                               << "Is a directory";
#ifndef _WIN32
    // A FIFO would block a reader that waits for a writer: start-up must not hang.
    QTest::newRow("fifo") << "fifo"
                          << "Not a regular file";
    QTest::newRow("no read permission") << "unreadable"
                                        << "Permission denied";
    // Errors other than a missing file, as root too: never read as "no file yet".
    QTest::newRow("link loop") << "loop"
                               << "Too many levels of symbolic links";
    QTest::newRow("path through a file") << "through-file"
                                         << "Not a directory";
#endif
}

void MainWindowTest::unreadableFileIsNeverOverwritten()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    MainWindowFixture fixture("");
    QString path = fixture.directory.filePath("odd/hosts");
    QVERIFY(QDir().mkpath(fixture.directory.filePath("odd")));
    if (kind == "directory")
        QVERIFY(QDir().mkpath(path));
#ifndef _WIN32
    // What the save must leave exactly as it is.
    QByteArray encoded = QFile::encodeName(path);
    if (kind == "through-file") {
        QFile::copy(QStringLiteral(TESSALY_TEST_DATA_DIR "/main-window.hosts"), path);
        encoded = QFile::encodeName(path);
        path += "/hosts";
    } else if (kind == "loop") {
        QCOMPARE(::symlink("hosts", encoded.constData()), 0);
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(encoded.constData(), 0644), 0);
    } else if (kind == "unreadable") {
        if (::geteuid() == 0)
            QSKIP("root reads a file without read permission");
        QFile::copy(QStringLiteral(TESSALY_TEST_DATA_DIR "/main-window.hosts"), path);
        QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    }
    struct stat before{};
    QCOMPARE(::lstat(encoded.constData(), &before), 0);
#endif

    platform::messagescript::clear();
    frmMain window([&] { return path.toStdString(); });
    QSignalSpy ending(&window, &frmMain::programEnding);
    window.Form_Load();
    QVERIFY(platform::messagescript::shown().isEmpty());
    window.findChild<QPushButton*>("cmdClose")->click();
    QCOMPARE(platform::messagescript::shown().size(), 1);
    QCOMPARE(platform::messagescript::shown()[0].prompt,
             "The hosts file could not be saved:\r\n" + path
                 + "\r\n\r\nThe file could not be read when Tessaly started (" + reason
                 + "), so it was left as it is.");
    QCOMPARE(ending.count(), 0);
#ifdef _WIN32
    QVERIFY(QFileInfo(path).isDir());
#else
    struct stat after{};
    QCOMPARE(::lstat(encoded.constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mode, before.st_mode);
#endif
}

void MainWindowTest::fileChangedByAnotherProgramAsksFirst()
{
    const QString prompt = "The hosts file was changed by another program after Tessaly read it.\r\n"
                           "Overwrite those changes with the entries shown here?";
    MainWindowFixture fixture("main-window.hosts");
    {
        QFile file(fixture.hostsPath);
        QVERIFY(file.open(QIODevice::Append));
        file.write("10.5.5.5 added.by.other\n");
    }
    const QByteArray others = fixture.fileBytes();
    MainWindowFixture::answerNext(MessageAnswer::No);
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    verifyBox(fixture.boxes()[0], prompt, "Hosts file changed", MessageButtons::YesNo, MessageIcon::Exclamation);
    QCOMPARE(fixture.boxes()[0].defaultButton, MessageAnswer::No);
    QCOMPARE(fixture.boxes().size(), 1);
    QCOMPARE(fixture.fileBytes(), others);
    QVERIFY(!fixture.ended());

    MainWindowFixture::answerNext(MessageAnswer::Yes);
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(), kRewrittenFixture);
    QVERIFY(fixture.ended());

    // A file that appeared after the start counts as changed too.
    MainWindowFixture appeared("");
    QFile created(appeared.hostsPath);
    QVERIFY(created.open(QIODevice::WriteOnly));
    created.write("1.1.1.1 theirs\n");
    created.close();
    QTest::mouseClick(appeared.button("cmdClose"), Qt::LeftButton); // scripted default: No
    QCOMPARE(appeared.boxes().size(), 1);
    QCOMPARE(appeared.fileBytes(), "1.1.1.1 theirs\n");
}

void MainWindowTest::previousVersionNotKeptAsksFirst()
{
    MainWindowFixture fixture("main-window.hosts");
    const QByteArray before = fixture.fileBytes();
    const QString stateHome = fixture.stateFolder();
    // Where the versions' folder would be, a file (on Windows under
    // "Tessaly", elsewhere "tessaly": both made files).
    for (const char* name : {"tessaly", "Tessaly"}) {
        QFile blocking(stateHome + "/" + name);
        QVERIFY(QDir().mkpath(stateHome));
        if (!blocking.exists()) {
            QVERIFY(blocking.open(QIODevice::WriteOnly));
            blocking.close();
        }
    }
    fixture.add("new.lab", "10.0.0.7");

    MainWindowFixture::answerNext(MessageAnswer::No);
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.boxes().size(), 1);
    const platform::MessageRequest asked = fixture.boxes()[0];
    QCOMPARE(asked.title, "Previous version not kept");
    QCOMPARE(asked.buttons, MessageButtons::YesNo);
    QCOMPARE(asked.defaultButton, MessageAnswer::No);
    QVERIFY2(asked.prompt.endsWith("Without it, this save cannot be undone. Save anyway?"), qPrintable(asked.prompt));
    QCOMPARE(fixture.fileBytes(), before);
    QVERIFY(!fixture.ended());
    QVERIFY(fixture.window->m_HasChanged);

    MainWindowFixture::answerNext(MessageAnswer::Yes);
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(), kRewrittenFixture + "10.0.0.7\tnew.lab\r\n");
    QVERIFY(fixture.ended());
}

void MainWindowTest::titleBarCloseActsAsCancel()
{
    MainWindowFixture fixture("main-window.hosts");
    const QByteArray before = fixture.fileBytes();
    fixture.add("new.lab", "10.0.0.7");
    MainWindowFixture::answerNext(MessageAnswer::Cancel);
    QVERIFY(!fixture.window->close());
    QVERIFY(fixture.window->isVisible());
    QCOMPARE(fixture.boxes().last().title, "Save changes?");
    QVERIFY(!fixture.ended());

    MainWindowFixture::answerNext(MessageAnswer::No);
    QVERIFY(fixture.window->close());
    QVERIFY(fixture.ended());
    QCOMPARE(fixture.fileBytes(), before);

    MainWindowFixture unchanged("main-window.hosts");
    QVERIFY(unchanged.window->close());
    QVERIFY(unchanged.boxes().isEmpty());
    QVERIFY(unchanged.ended());
}

void MainWindowTest::informationBox()
{
    MainWindowFixture fixture("main-window.hosts");
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(fixture.button("cmdInformation"), Qt::LeftButton);
    QCOMPARE(fixture.boxes().size(), 2);
    const platform::MessageRequest box = fixture.boxes()[0];
    QCOMPARE(box.title, "Tessaly");
    QCOMPARE(box.icon, MessageIcon::Information);
    QCOMPARE(box.buttons, MessageButtons::Ok);
    const QStringList lines = box.prompt.split("\r\n");
    QCOMPARE(lines.size(), 3);
    QVERIFY(!lines[0].isEmpty() && lines[1].isEmpty() && !lines[2].isEmpty());
    // Where the previous versions are, and what puts them back.
    const QString folder = QDir::toNativeSeparators(platform::pathText(previousversions::versionsFolder().path));
    QVERIFY2(!folder.isEmpty() && lines[2].contains(folder) && lines[2].contains("tessaly-restore"),
             qPrintable(lines[2]));
    QVERIFY(!fixture.window->m_HasChanged);
    QVERIFY(!fixture.ended());
#ifndef _WIN32
    // A folder whose name is not UTF-8 (a HOME in another encoding) is shown,
    // with a replacement character for what cannot be read as text.
    previousversions::testing::setStateFolder(QFile::encodeName(fixture.stateFolder()).toStdString() + "/caf\xE9");
    QTest::mouseClick(fixture.button("cmdInformation"), Qt::LeftButton);
    QCOMPARE(fixture.boxes().size(), 3);
    QCOMPARE(fixture.boxes().last().title, "Tessaly");
    QVERIFY2(fixture.boxes().last().prompt.contains("/caf\uFFFD/tessaly/previous;"),
             qPrintable(fixture.boxes().last().prompt));
    QVERIFY(!fixture.ended());
#endif
}

void MainWindowTest::unexpectedFailureOfAnActionKeepsWindowAndEdits_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("REMOVE ALL") << "cmRemoveAll";
    QTest::newRow("CANCEL after a change") << "cmdCancel";
    QTest::newRow("SAVE/CLOSE") << "cmdClose";
    QTest::newRow("Information") << "cmdInformation";
}

void MainWindowTest::unexpectedFailureOfAnActionKeepsWindowAndEdits()
{
    // Something below the window fails as nothing foresaw (here the message
    // box the action shows): the action ends with the reason in the "Error"
    // box, and the window, its entries and the file stay as they were.
    QFETCH(QString, button);
    MainWindowFixture fixture("main-window.hosts");
    const QByteArray before = fixture.fileBytes();
    fixture.add("new.lab", "10.0.0.7");
    const QStringList hosts = fixture.hostColumn();
    if (button == "cmdClose") {
        // The save asks first: another program changed the file.
        QVERIFY(testfiles::writeFile(fixture.hostsPath, before + "10.9.9.9 theirs\n"));
    }
    platform::messagescript::queueFailure("the disk caught fire");
    QTest::mouseClick(fixture.button(button.toLatin1().constData()), Qt::LeftButton);
    QCOMPARE(fixture.boxes().size(), 2);
    const platform::MessageRequest told = fixture.boxes().last();
    QCOMPARE(told.title, "Error");
    QCOMPARE(told.icon, MessageIcon::Exclamation);
    QVERIFY2(told.prompt.contains("the disk caught fire"), qPrintable(told.prompt));
    QVERIFY(!fixture.ended());
    QVERIFY(fixture.window->isVisible());
    QCOMPARE(fixture.hostColumn(), hosts);
    QVERIFY(fixture.window->m_HasChanged);
    QCOMPARE(fixture.fileBytes(), button == "cmdClose" ? before + "10.9.9.9 theirs\n" : before);
}

void MainWindowTest::escapeActsOnceWithAnyModifier()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.add("new.lab", "10.0.0.7");
    QWidget* focus = fixture.box("txtHost");
    for (Qt::KeyboardModifiers modifiers :
         {Qt::KeyboardModifiers{}, Qt::KeyboardModifiers{Qt::ShiftModifier}, Qt::KeyboardModifiers{Qt::ControlModifier},
          Qt::KeyboardModifiers{Qt::AltModifier}}) {
        platform::messagescript::clear();
        MainWindowFixture::answerNext(MessageAnswer::Cancel);
        QTest::keyClick(focus, Qt::Key_Escape, modifiers); // press and release
        QCOMPARE(fixture.boxes().size(), 1);
        QCOMPARE(fixture.boxes()[0].title, "Save changes?");
        QVERIFY(!fixture.ended());
    }
    // From the list as well.
    MainWindowFixture::answerNext(MessageAnswer::No);
    QTest::keyClick(fixture.list(), Qt::Key_Escape);
    QVERIFY(fixture.ended());
}

void MainWindowTest::ctrlEnterSavesAndPlainEnterDoesNot()
{
    MainWindowFixture fixture("main-window.hosts");
    const QByteArray before = fixture.fileBytes();
    QTest::keyClick(fixture.box("txtHost"), Qt::Key_Return);
    QTest::keyClick(fixture.box("txtIP"), Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(!fixture.ended());
    QVERIFY(fixture.boxes().isEmpty());
    QCOMPARE(fixture.fileBytes(), before);

    QTest::keyClick(fixture.box("txtComment"), Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(fixture.ended());
    QCOMPARE(fixture.fileBytes(), kRewrittenFixture);

    MainWindowFixture keypad("main-window.hosts");
    QTest::keyClick(keypad.list(), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QVERIFY(keypad.ended());
}

void MainWindowTest::keyboardReachesEveryControlAndTheEditor()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    fixture.clickRow(1);
    fixture.list()->setFocus();
    // Tab leaves the list by the window's tab order, not from cell to cell.
    QTest::keyClick(fixture.list(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), fixture.button("cmdInformation"));
    for (int step = 0; step < 4 && QApplication::focusWidget() != fixture.button("cmdRemove"); ++step)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), fixture.button("cmdRemove"));

    // Enter on the selected row opens it as a double-click does, with the
    // same rule for localhost; the main window acts on none of its keys.
    QString opened;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        opened = modal ? modal->objectName() : QString();
        if (modal)
            modal->hide();
    });
    QTest::keyClick(fixture.list(), Qt::Key_Return);
    QCOMPARE(opened, "frmEditEntry");
    QVERIFY(fixture.boxes().isEmpty());
    fixture.clickRow(0);
    QTest::keyClick(fixture.list(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(fixture.boxes().size(), 1);
    QCOMPARE(fixture.boxes()[0].prompt, "Cannot edit 'localhost' entry.");
    QVERIFY(!fixture.ended());
}

void MainWindowTest::releaseWithoutPressInThisWindowIsIgnored()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.add("new.lab", "10.0.0.7");
    // The press went to a message box that closed on it; only the release arrives here.
    QTest::keyRelease(fixture.box("txtHost"), Qt::Key_Escape);
    QTest::keyRelease(fixture.box("txtHost"), Qt::Key_Return, Qt::ControlModifier);
    QVERIFY(fixture.boxes().isEmpty());
    QVERIFY(!fixture.ended());

    // A press here whose key went up in another window, which took over meanwhile.
    QTest::keyPress(fixture.box("txtHost"), Qt::Key_Return, Qt::ControlModifier);
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(fixture.window.get(), &deactivate);
    QTest::keyRelease(fixture.box("txtHost"), Qt::Key_Return, Qt::ControlModifier);
    QVERIFY(!fixture.ended());

    // The handler itself dispatches as the key codes say.
    MainWindowFixture::answerNext(MessageAnswer::Cancel);
    fixture.window->Form_KeyUp(27, 4);
    QCOMPARE(fixture.boxes().size(), 1);
    fixture.window->Form_KeyUp(13, 1);
    fixture.window->Form_KeyUp(65, 2);
    QCOMPARE(fixture.boxes().size(), 1);
    fixture.window->Form_KeyUp(13, 2 | 1);
    QVERIFY(fixture.ended());
}

void MainWindowTest::escapeDismissingTheRealSaveQuestionDoesNotAskAgain()
{
    MainWindowFixture fixture("main-window.hosts");
    fixture.add("new.lab", "10.0.0.7");
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    platform::messagescript::enable(false);
    bool dismissed = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        // The Esc that opened the box comes up inside it; another Esc closes it.
        QTest::keyRelease(box, Qt::Key_Escape);
        QTest::keyPress(box, Qt::Key_Escape);
        dismissed = true;
    });
    QTest::keyPress(fixture.box("txtHost"), Qt::Key_Escape);
    platform::messagescript::enable(true);
    QVERIFY(dismissed);
    // The release of the Esc that closed the box arrives in the main window.
    QTest::keyRelease(fixture.box("txtHost"), Qt::Key_Escape);
    QCOMPARE(fixture.boxes().size(), 1);
    QCOMPARE(fixture.boxes()[0].title, "Save changes?");
    QVERIFY(!fixture.ended());
    QVERIFY(fixture.window->isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
