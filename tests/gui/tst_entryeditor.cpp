// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmeditentry.h"
#include "guitestutil.h"
#include "modalguard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

namespace {

QLineEdit* editorBox(frmEditEntry* editor, const char* name)
{
    return editor->findChild<QLineEdit*>(QLatin1String(name));
}

QPushButton* editorButton(frmEditEntry* editor, const char* name)
{
    return editor->findChild<QPushButton*>(QLatin1String(name));
}

QStringList boxTexts(frmEditEntry* editor)
{
    return {editorBox(editor, "txtHost")->text(), editorBox(editor, "txtIP")->text(),
            editorBox(editor, "txtComment")->text()};
}

bool revertEnabled(frmEditEntry* editor)
{
    return editorButton(editor, "cmdRevert")->isEnabled();
}

struct Opening {
    bool acted = false;
    bool leftOpen = false; // the action did not close the editor
};

// Double-clicks a row and runs `act` inside the editor's modal show. An
// editor the action leaves open is hidden afterwards, so a failing check
// cannot leave the test waiting.
Opening openRow(MainWindowFixture& fixture, int row, const std::function<void(frmEditEntry*)>& act)
{
    Opening opening;
    QObject context; // drops the timer when no editor opened to run it
    QTimer::singleShot(0, &context, [&] {
        auto* editor = qobject_cast<frmEditEntry*>(QApplication::activeModalWidget());
        if (!editor)
            return;
        act(editor);
        opening.acted = true;
        if (editor->isVisible()) {
            opening.leftOpen = true;
            editor->hide();
        }
    });
    fixture.doubleClickRow(row);
    return opening;
}

} // namespace

class EntryEditorTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { closeModalWindowsOnFailure(); }
    // Opening
    void openShowsTheEntryUnchanged();
    void localhostIsRefusedAndCapitalsOpen();
    void doubleClickWithoutRowDoesNothing();
    void secondEntryShowsItsOwnValues();

    // Change state and revert
    void anyEditEnablesRevertEvenTypedBack();
    void revertRestoresAllThreeBoxes();
    void messageBoxOfSaveKeepsEditsAndState();
    void unexpectedFailureOfSaveKeepsEditsAndState();

    // Cancel, Esc and the title-bar close
    void cancelPathsSaveNothing_data();
    void cancelPathsSaveNothing();
    void cancelAfterEarlierChangeRebuildsList();
    void escapeClosingEditorDoesNotReachMainWindow();

    // Saving
    void saveWithoutChangeOnlyCloses();
    void saveMovesEntryToEndInLowerCase();
    void saveRefusesEmptyFields();
    void saveRefusesACommentMarkOutsideTheComment();
    void saveRefusesExactDuplicateWithInformation();
    void saveRefusesOtherCaseDuplicateWithExclamation();
    void saveAcceptsOwnHostnameAndCaseOnlyRename();
    void savedEditReachesTheFileLast();
    void untouchedBoxesKeepTheEntrysBytes();
};

void EntryEditorTest::openShowsTheEntryUnchanged()
{
    MainWindowFixture fixture("editor.hosts");
    QVERIFY(!fixture.window->entryEditor());
    const Opening opening = openRow(fixture, 3, [](frmEditEntry* editor) {
        QCOMPARE(editor->windowTitle(), "Edit Entry");
        QCOMPARE(editor->size(), QSize(378, 147));
        QVERIFY(editor->windowFlags() & Qt::Tool);
        QVERIFY(!(editor->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
        QVERIFY(editor->isModal());
        QCOMPARE(boxTexts(editor), (QStringList{"GAMMA", "10.0.0.2", "build box"}));
        QVERIFY(!revertEnabled(editor));
        QCOMPARE(editor->focusWidget(), editorButton(editor, "cmdSaveClose"));
        QCOMPARE(editorButton(editor, "cmdRevert")->toolTip(), "Revert changes");
        QVERIFY(!editorButton(editor, "cmdRevert")->accessibleName().isEmpty());
        // The picture is drawn (an icon of a missing resource or image plugin is not null, but empty).
        QVERIFY(!editorButton(editor, "cmdRevert")->icon().pixmap(16, 16).isNull());
        QCOMPARE(editorButton(editor, "cmdCancel")->text(), "CANCEL [ESC]");
        QCOMPARE(editorButton(editor, "cmdSaveClose")->geometry(), QRect(288, 112, 81, 25));
        QCOMPARE(editor->findChild<QLabel*>("lblInfo_4")->text(), "COMMENTS (OPTIONAL)");
        QVERIFY(!editorButton(editor, "cmdSaveClose")->autoDefault());
        // Enter presses no button by itself.
        QTest::keyClick(editorBox(editor, "txtIP"), Qt::Key_Return);
        QVERIFY(editor->isVisible());
        editorButton(editor, "cmdCancel")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);

    // An entry without a comment gives an empty comment box.
    openRow(fixture, 2, [](frmEditEntry* editor) {
        QCOMPARE(boxTexts(editor), (QStringList{"beta", "10.0.0.1", ""}));
        editor->hide();
    });
}

void EntryEditorTest::localhostIsRefusedAndCapitalsOpen()
{
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 0, [](frmEditEntry*) {});
    QVERIFY(!opening.acted);
    QCOMPARE(fixture.boxes().size(), 1);
    QCOMPARE(fixture.boxes()[0].prompt, "Cannot edit 'localhost' entry.");
    QCOMPARE(fixture.boxes()[0].title, "Cannot edit entry");
    QCOMPARE(fixture.boxes()[0].icon, MessageIcon::Information);
    QCOMPARE(fixture.boxes()[0].buttons, MessageButtons::Ok);
    QVERIFY(!fixture.window->entryEditor());
    QVERIFY(!fixture.window->m_HasChanged);

    MainWindowFixture capitals("capital-localhost.hosts");
    const Opening opened = openRow(capitals, 0, [](frmEditEntry* editor) {
        QCOMPARE(boxTexts(editor).first(), "LOCALHOST");
        editor->hide();
    });
    QVERIFY(opened.acted);
}

void EntryEditorTest::doubleClickWithoutRowDoesNothing()
{
    MainWindowFixture fixture("");
    QTest::mouseDClick(fixture.list()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    fixture.window->lstHosts_DblClick();
    QVERIFY(!fixture.window->entryEditor());
    QVERIFY(fixture.boxes().isEmpty());

    // Below the last row of a short list: no row is hit.
    MainWindowFixture rows("editor.hosts");
    QTest::mouseDClick(rows.list()->viewport(), Qt::LeftButton, {}, QPoint(20, rows.list()->viewport()->height() - 4));
    QVERIFY(!rows.window->entryEditor());
}

void EntryEditorTest::secondEntryShowsItsOwnValues()
{
    MainWindowFixture fixture("editor.hosts");
    openRow(fixture, 1, [](frmEditEntry* editor) {
        editorBox(editor, "txtIP")->setText("9.9.9.9");
        editorButton(editor, "cmdCancel")->click();
    });
    frmEditEntry* first = fixture.window->entryEditor();
    const Opening opening = openRow(fixture, 4, [](frmEditEntry* editor) {
        QCOMPARE(boxTexts(editor), (QStringList{"delta", "10.0.0.3", ""}));
        QVERIFY(!revertEnabled(editor));
        editor->hide();
    });
    QVERIFY(opening.acted);
    QCOMPARE(fixture.window->entryEditor(), first); // the hidden instance is reused
}

void EntryEditorTest::anyEditEnablesRevertEvenTypedBack()
{
    MainWindowFixture fixture("editor.hosts");
    for (const char* boxName : {"txtHost", "txtIP", "txtComment"}) {
        openRow(fixture, 3, [boxName](frmEditEntry* editor) {
            QLineEdit* box = editorBox(editor, boxName);
            box->setFocus();
            box->end(false);
            QTest::keyClick(box, Qt::Key_X);
            QVERIFY(revertEnabled(editor));
            QTest::keyClick(box, Qt::Key_Backspace);
            QCOMPARE(boxTexts(editor), (QStringList{"GAMMA", "10.0.0.2", "build box"}));
            QVERIFY(revertEnabled(editor));
            editorButton(editor, "cmdCancel")->click();
        });
    }
}

void EntryEditorTest::revertRestoresAllThreeBoxes()
{
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 3, [](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("changed");
        editorBox(editor, "txtComment")->setText("");
        QTest::mouseClick(editorButton(editor, "cmdRevert"), Qt::LeftButton);
        QCOMPARE(boxTexts(editor), (QStringList{"GAMMA", "10.0.0.2", "build box"}));
        QVERIFY(!revertEnabled(editor));
        QVERIFY(editor->isVisible());
        editorButton(editor, "cmdCancel")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QVERIFY(!fixture.window->m_HasChanged);
}

void EntryEditorTest::unexpectedFailureOfSaveKeepsEditsAndState()
{
    // Something below the editor fails as nothing foresaw (here the message
    // box of a refusal): the "Error" box gives the reason, and the editor
    // stays with the edits in progress.
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 3, [](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("   ");
        editorBox(editor, "txtIP")->setText("10.7.7.7");
        platform::messagescript::queueFailure("out of paper");
        editorButton(editor, "cmdSaveClose")->click();
        const QList<platform::MessageRequest> boxes = platform::messagescript::shown();
        QVERIFY(!boxes.isEmpty());
        QCOMPARE(boxes.last().title, "Error");
        QVERIFY2(boxes.last().prompt.contains("out of paper"), qPrintable(boxes.last().prompt));
        QCOMPARE(boxTexts(editor), (QStringList{"   ", "10.7.7.7", "build box"}));
        QVERIFY(editor->isVisible());
        editorButton(editor, "cmdCancel")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QVERIFY(!fixture.ended());
}

void EntryEditorTest::messageBoxOfSaveKeepsEditsAndState()
{
    // A real message box over the editor; closing it must not refill the boxes.
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 3, [](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("   ");
        editorBox(editor, "txtIP")->setText("10.7.7.7");
        platform::messagescript::enable(false);
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box) {
                answered = box->text() == "Please enter at least a hostname and an IP address.";
                box->button(QMessageBox::Ok)->click();
            }
        });
        editorButton(editor, "cmdSaveClose")->click();
        platform::messagescript::enable(true);
        QVERIFY(answered);
        editor->activateWindow();
        QCOMPARE(boxTexts(editor), (QStringList{"   ", "10.7.7.7", "build box"}));
        QVERIFY(revertEnabled(editor));
        QVERIFY(editor->isVisible());
        editorButton(editor, "cmdCancel")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
}

void EntryEditorTest::cancelPathsSaveNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("cancel button") << "button";
    QTest::newRow("Esc") << "escape";
    QTest::newRow("title-bar close") << "close";
}

void EntryEditorTest::cancelPathsSaveNothing()
{
    QFETCH(QString, path);
    MainWindowFixture fixture("editor.hosts");
    fixture.clickRow(3);
    // A guard, not the address: a new editor may be made where the old one was.
    QPointer<frmEditEntry> instance;
    const Opening opening = openRow(fixture, 3, [&](frmEditEntry* editor) {
        instance = editor;
        editorBox(editor, "txtHost")->setText("renamed");
        editorBox(editor, "txtIP")->setText("10.8.8.8");
        if (path == "button")
            QTest::mouseClick(editorButton(editor, "cmdCancel"), Qt::LeftButton);
        else if (path == "escape")
            QTest::keyClick(editorBox(editor, "txtIP"), Qt::Key_Escape);
        else
            editor->close();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QVERIFY(!fixture.window->m_HasChanged);
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "Alpha", "beta", "GAMMA", "delta"}));
    QCOMPARE(fixture.selectedRow(), 3); // no rebuild: the selection stays
    QVERIFY(fixture.boxes().isEmpty());
    QCOMPARE(fixture.window->entryEditor() == nullptr, path == "close");

    const Opening again = openRow(fixture, 3, [](frmEditEntry* editor) {
        QCOMPARE(boxTexts(editor), (QStringList{"GAMMA", "10.0.0.2", "build box"}));
        QVERIFY(!revertEnabled(editor));
        editor->hide();
    });
    QVERIFY(again.acted);
    QCOMPARE(instance.isNull(), path == "close");
}

void EntryEditorTest::cancelAfterEarlierChangeRebuildsList()
{
    MainWindowFixture fixture("editor.hosts");
    fixture.add("added", "10.0.0.9");
    fixture.clickRow(3);
    openRow(fixture, 3, [](frmEditEntry* editor) { editorButton(editor, "cmdCancel")->click(); });
    QCOMPARE(fixture.selectedRow(), 0);
    QVERIFY(!fixture.button("cmdRemove")->isEnabled());
}

void EntryEditorTest::escapeClosingEditorDoesNotReachMainWindow()
{
    MainWindowFixture fixture("editor.hosts");
    fixture.add("added", "10.0.0.9");
    const Opening opening = openRow(
        fixture, 2, [](frmEditEntry* editor) { QTest::keyPress(editorBox(editor, "txtHost"), Qt::Key_Escape); });
    QVERIFY(opening.acted && !opening.leftOpen);
    // The release of that Esc arrives in the main window.
    QTest::keyRelease(fixture.box("txtHost"), Qt::Key_Escape);
    QVERIFY(fixture.boxes().isEmpty());
    QVERIFY(!fixture.ended());
}

void EntryEditorTest::saveWithoutChangeOnlyCloses()
{
    MainWindowFixture fixture("editor.hosts");
    fixture.clickRow(1);
    const Opening opening = openRow(fixture, 1, [](frmEditEntry* editor) {
        QTest::mouseClick(editorButton(editor, "cmdSaveClose"), Qt::LeftButton);
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "Alpha", "beta", "GAMMA", "delta"}));
    QVERIFY(!fixture.window->m_HasChanged);
    QCOMPARE(fixture.selectedRow(), 1);
}

void EntryEditorTest::saveMovesEntryToEndInLowerCase()
{
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 1, [](frmEditEntry* editor) {
        QLineEdit* comment = editorBox(editor, "txtComment");
        QTest::keyClick(comment, Qt::Key_A);
        QTest::keyClick(comment, Qt::Key_Backspace);
        editorButton(editor, "cmdSaveClose")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QVERIFY(fixture.window->m_HasChanged);
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "beta", "GAMMA", "delta", "alpha"}));
    QCOMPARE(fixture.selectedRow(), 0);
    QVERIFY(!fixture.button("cmdRemove")->isEnabled());

    openRow(fixture, 2, [](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("  New.Host.LAB  ");
        editorBox(editor, "txtIP")->setText(" FE80::A ");
        editorBox(editor, "txtComment")->setText("  Mixed Case  ");
        editorButton(editor, "cmdSaveClose")->click();
    });
    QCOMPARE(fixture.hostColumn().last(), "new.host.lab");
    QCOMPARE(fixture.cell(4, 1), "FE80::A");
    QCOMPARE(fixture.cell(4, 2), "Mixed Case");
    QVERIFY(!fixture.window->cHosts.contains("GAMMA"));
}

void EntryEditorTest::saveRefusesEmptyFields()
{
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 4, [&](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("   ");
        editorButton(editor, "cmdSaveClose")->click();
        editorBox(editor, "txtHost")->setText("delta");
        editorBox(editor, "txtIP")->setText("  ");
        editorButton(editor, "cmdSaveClose")->click();
        QCOMPARE(fixture.boxes().size(), 2);
        for (const platform::MessageRequest& box : fixture.boxes()) {
            QCOMPARE(box.prompt, "Please enter at least a hostname and an IP address.");
            QCOMPARE(box.title, "Error");
            QCOMPARE(box.icon, MessageIcon::Information);
        }
        QVERIFY(editor->isVisible());
        QCOMPARE(boxTexts(editor), (QStringList{"delta", "  ", ""}));
        editorBox(editor, "txtIP")->setText("10.0.0.3");
        editorBox(editor, "txtComment")->setText("    ");
        editorButton(editor, "cmdSaveClose")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QCOMPARE(fixture.hostColumn().last(), "delta");
    QCOMPARE(fixture.cell(4, 2), "");
    QVERIFY(fixture.window->m_HasChanged);
}

void EntryEditorTest::saveRefusesACommentMarkOutsideTheComment()
{
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 4, [&](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("delta#more");
        editorButton(editor, "cmdSaveClose")->click();
        editorBox(editor, "txtHost")->setText("delta");
        editorBox(editor, "txtIP")->setText("#10.0.0.3");
        editorButton(editor, "cmdSaveClose")->click();
        QCOMPARE(fixture.boxes().size(), 2);
        for (const platform::MessageRequest& box : fixture.boxes()) {
            QCOMPARE(box.prompt, "A hostname or IP address cannot contain '#'.");
            QCOMPARE(box.title, "Error");
            QCOMPARE(box.icon, MessageIcon::Information);
            QCOMPARE(box.buttons, platform::MessageButtons::Ok);
        }
        QVERIFY(editor->isVisible());
        QCOMPARE(boxTexts(editor), (QStringList{"delta", "#10.0.0.3", ""}));
        QVERIFY(!fixture.window->m_HasChanged);
        // A comment may hold it.
        editorBox(editor, "txtIP")->setText("10.0.0.3");
        editorBox(editor, "txtComment")->setText("see #12");
        editorButton(editor, "cmdSaveClose")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QCOMPARE(fixture.cell(4, 2), "see #12");
    QVERIFY(fixture.window->m_HasChanged);
}

void EntryEditorTest::saveRefusesExactDuplicateWithInformation()
{
    MainWindowFixture fixture("editor.hosts");
    for (const char* clash : {"beta", " localhost "}) {
        platform::messagescript::clear();
        const Opening opening = openRow(fixture, 4, [&](frmEditEntry* editor) {
            editorBox(editor, "txtHost")->setText(clash);
            editorButton(editor, "cmdSaveClose")->click();
            QCOMPARE(fixture.boxes().size(), 1);
            QCOMPARE(fixture.boxes()[0].prompt, "This hostname already exists!");
            QCOMPARE(fixture.boxes()[0].title, "Error");
            QCOMPARE(fixture.boxes()[0].icon, MessageIcon::Information);
            QCOMPARE(editorBox(editor, "txtHost")->text(), clash);
            QVERIFY(revertEnabled(editor));
        });
        QVERIFY(opening.leftOpen);
    }
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "Alpha", "beta", "GAMMA", "delta"}));
    QVERIFY(!fixture.window->m_HasChanged);
}

void EntryEditorTest::saveRefusesOtherCaseDuplicateWithExclamation()
{
    MainWindowFixture fixture("editor.hosts");
    const Opening opening = openRow(fixture, 2, [&](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("Gamma");
        editorBox(editor, "txtIP")->setText("10.6.6.6");
        editorButton(editor, "cmdSaveClose")->click();
        QCOMPARE(fixture.boxes().size(), 1);
        QCOMPARE(fixture.boxes()[0].prompt, "This hostname already exists!");
        QCOMPARE(fixture.boxes()[0].icon, MessageIcon::Exclamation);
        QCOMPARE(boxTexts(editor), (QStringList{"Gamma", "10.6.6.6", ""}));
    });
    QVERIFY(opening.leftOpen);
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "Alpha", "beta", "GAMMA", "delta"}));
    QCOMPARE(fixture.window->cHosts.lookUp("beta")->ip(), "10.0.0.1");
    QVERIFY(!fixture.window->m_HasChanged);
}

void EntryEditorTest::saveAcceptsOwnHostnameAndCaseOnlyRename()
{
    MainWindowFixture fixture("editor.hosts");
    openRow(fixture, 4, [](frmEditEntry* editor) {
        editorBox(editor, "txtIP")->setText("10.0.0.33");
        editorButton(editor, "cmdSaveClose")->click();
    });
    QCOMPARE(fixture.hostColumn().last(), "delta");
    QCOMPARE(fixture.cell(4, 1), "10.0.0.33");

    const Opening opening = openRow(fixture, 1, [](frmEditEntry* editor) {
        editorBox(editor, "txtHost")->setText("ALPHA");
        editorButton(editor, "cmdSaveClose")->click();
    });
    QVERIFY(opening.acted && !opening.leftOpen);
    QCOMPARE(fixture.hostColumn(), (QStringList{"localhost", "beta", "GAMMA", "delta", "alpha"}));
    QVERIFY(fixture.boxes().isEmpty());
}

void EntryEditorTest::savedEditReachesTheFileLast()
{
    MainWindowFixture fixture("editor.hosts");
    openRow(fixture, 1, [](frmEditEntry* editor) {
        editorBox(editor, "txtComment")->setText("renamed later");
        editorButton(editor, "cmdSaveClose")->click();
    });
    // The editor still holds the record it edited, though it left the collection.
    QCOMPARE(fixture.window->entryEditor()->SelectedItem->host(), "Alpha");
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(),
             "\r\n"
             "127.0.0.1\tlocalhost\t\t# Local loop-back hostname\r\n"
             "10.0.0.1\tbeta\r\n"
             "10.0.0.2\tGAMMA\t\t# build box\r\n"
             "10.0.0.3\tdelta\r\n"
             "10.0.0.1\talpha\t\t# renamed later\r\n");
}

void EntryEditorTest::untouchedBoxesKeepTheEntrysBytes()
{
    // Latin-1 bytes on a UTF-8 system and a NUL: the boxes cannot show them as
    // they are, so only a box the user changes is taken from its text.
    MainWindowFixture fixture("");
    QFile file(fixture.hostsPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("10.0.0.1 Caf\xE9 # \xE9t\xE9\n10.0.0.2 nul") + QByteArray(1, '\0') + "x.example\n");
    file.close();
    fixture.start();
    for (int row : {0, 0}) {
        openRow(fixture, row, [](frmEditEntry* editor) {
            QCOMPARE(editorBox(editor, "txtHost")->text().contains(QChar(0)), false);
            editorBox(editor, "txtIP")->setText("10.9.9.9");
            editorButton(editor, "cmdSaveClose")->click();
        });
    }
    QTest::mouseClick(fixture.button("cmdClose"), Qt::LeftButton);
    QCOMPARE(fixture.fileBytes(),
             "\r\n10.9.9.9\tcaf\xE9\t\t# \xE9t\xE9\r\n10.9.9.9\tnul" + QByteArray(1, '\0') + "x.example\r\n");
}

QTEST_MAIN(EntryEditorTest)
#include "tst_entryeditor.moc"
