// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader and a keyboard user get of both windows: the
// accessible tree read in-process as an assistive tool reads it (roles,
// names, captions tied to their boxes, the list as a table whose rows open
// and which takes the focus), the order of the events a Tab into a box
// sends, the focus ring, and the title-bar buttons the window manager is
// told of.
#include "focusframe.h"
#include "frmeditentry.h"
#include "guitestutil.h"
#include "modalguard.h"

#include <QAccessible>
#include <QApplication>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#ifdef _WIN32
#include <windows.h>
#endif

using platform::MessageAnswer;

namespace {

QAccessibleInterface* accessibleOf(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

QString labelOf(QObject* object)
{
    const auto relations = accessibleOf(object)->relations(QAccessible::Label);
    return relations.isEmpty() ? QString() : relations.first().first->text(QAccessible::Name);
}

// Runs `act` inside the modal show of the entry editor that `open` opens,
// at once or a little later; false when no editor opened.
bool inEditor(const std::function<void()>& open, const std::function<void(frmEditEntry*)>& act)
{
    bool acted = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* editor = qobject_cast<frmEditEntry*>(QApplication::activeModalWidget());
        if (!editor || acted)
            return;
        acted = true;
        act(editor);
        editor->hide();
    });
    poll.start();
    open();
    return QTest::qWaitFor([&] { return acted; }, 5000);
}

// The accessibility events of one object, as an assistive tool gets them,
// and the child each names (-1: the object itself).
QList<QAccessible::Event> recorded;
QList<int> recordedChildren;
QObject* recordedObject = nullptr;

void recordEvent(QAccessibleEvent* event)
{
    if (event->object() != recordedObject)
        return;
    recorded.append(event->type());
    recordedChildren.append(event->child());
}

// Ends the test run with a message should the code it guards not return
// within a bound: a query that loops would otherwise hang the test until
// CTest's timeout, with nothing said.
class HangGuard {
public:
    explicit HangGuard(const char* what)
        : watcher_([this, what] {
            std::unique_lock lock(mutex_);
            if (!finished_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; })) {
                std::fprintf(stderr, "FAIL: %s did not return\n", what);
                std::_Exit(EXIT_FAILURE);
            }
        })
    {
    }
    ~HangGuard()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        watcher_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread watcher_;
};

QAccessibleTextInterface* textOf(QWidget* box)
{
    QAccessibleInterface* accessible = accessibleOf(box);
    return accessible ? accessible->textInterface() : nullptr;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void windowsAreWindows();
    void captionsNameTheirBoxes_data();
    void captionsNameTheirBoxes();
    void separatorIsASeparatorWithoutName();
    void listIsATableThatTakesTheFocus();
    void rowActionOpensTheEntryAsADoubleClick();
    void currentCellStaysOnTheSelectedRow();
    void listClaimsTheFocusOnlyWhileItHasIt_data();
    void listClaimsTheFocusOnlyWhileItHasIt();
    void tabIntoTheListTellsTheCurrentCell_data();
    void tabIntoTheListTellsTheCurrentCell();
    void tabIntoABoxTellsTheFocusBeforeTheSelection_data();
    void tabIntoABoxTellsTheFocusBeforeTheSelection();
    void boxValueIsOneAttributeRun_data();
    void boxValueIsOneAttributeRun();
    void boxAnswersEveryBoundaryAtEveryOffset_data();
    void boxAnswersEveryBoundaryAtEveryOffset();
    void textPutInThroughTheInterfaceIsFilteredAsTyped_data();
    void textPutInThroughTheInterfaceIsFilteredAsTyped();
    void editsThroughTheInterfaceNeverSplitACharacter_data();
    void editsThroughTheInterfaceNeverSplitACharacter();
    void focusRingIsSeenAroundTheFocusedControl();
    void titleBarsOfferOnlyTheirButtons();
};

void AccessibilityTest::initTestCase()
{
    closeModalWindowsOnFailure();
    // Qt sends accessibility events only while an assistive tool listens;
    // here the test is that tool.
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    QAccessible::installUpdateHandler(recordEvent);
}

void AccessibilityTest::windowsAreWindows()
{
    MainWindowFixture fixture("editor.hosts");
    QAccessibleInterface* window = accessibleOf(fixture.window.get());
    QCOMPARE(window->role(), QAccessible::Window);
    QCOMPARE(window->text(QAccessible::Name), "Tessaly");
    const bool opened = inEditor([&] { fixture.doubleClickRow(1); },
                                 [](frmEditEntry* editor) {
                                     QCOMPARE(accessibleOf(editor)->role(), QAccessible::Dialog);
                                     QCOMPARE(accessibleOf(editor)->text(QAccessible::Name), "Edit Entry");
                                 });
    QVERIFY(opened);
}

void AccessibilityTest::captionsNameTheirBoxes_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");
    QTest::newRow("host") << "main"
                          << "txtHost"
                          << "NAME OF HOSTS TO ADD";
    QTest::newRow("address") << "main"
                             << "txtIP"
                             << "IP ADDRESS :";
    QTest::newRow("comment") << "main"
                             << "txtComment"
                             << "COMMENT (OPTIONAL):";
    QTest::newRow("list") << "main"
                          << "lstHosts"
                          << "HOSTS :";
    QTest::newRow("editor host") << "editor"
                                 << "txtHost"
                                 << "NAME OF HOSTS";
    QTest::newRow("editor address") << "editor"
                                    << "txtIP"
                                    << "IP ADDRESS";
    QTest::newRow("editor comment") << "editor"
                                    << "txtComment"
                                    << "COMMENTS (OPTIONAL)";
}

void AccessibilityTest::captionsNameTheirBoxes()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, caption);
    MainWindowFixture fixture("editor.hosts");
    if (window == "main") {
        QCOMPARE(labelOf(fixture.control(control.toLatin1())), caption);
        return;
    }
    QString label;
    QVERIFY(inEditor([&] { fixture.doubleClickRow(1); },
                     [&](frmEditEntry* editor) { label = labelOf(editor->findChild<QWidget*>(control)); }));
    QCOMPARE(label, caption);
}

void AccessibilityTest::separatorIsASeparatorWithoutName()
{
    MainWindowFixture fixture("editor.hosts");
    QAccessibleInterface* line = accessibleOf(fixture.control("Line1"));
    QCOMPARE(line->role(), QAccessible::Separator);
    QCOMPARE(line->text(QAccessible::Name), "");
    // No frame named after the group box around it is left.
    QAccessibleInterface* frame = accessibleOf(fixture.control("Frame1"));
    for (int i = 0; i < frame->childCount(); ++i) {
        QAccessibleInterface* child = frame->child(i);
        QVERIFY2(child->role() == QAccessible::Separator || child->text(QAccessible::Name) != "HOSTS",
                 qPrintable(child->object()->objectName()));
    }
}

void AccessibilityTest::listIsATableThatTakesTheFocus()
{
    MainWindowFixture fixture("editor.hosts");
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    QAccessibleInterface* list = accessibleOf(fixture.list());
    QCOMPARE(list->role(), QAccessible::Table);
    QCOMPARE(list->text(QAccessible::Name), "Hosts");
    QAccessibleTableInterface* table = list->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 5);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->cellAt(3, 0)->text(QAccessible::Name), "GAMMA");
    QCOMPARE(table->cellAt(3, 2)->text(QAccessible::Name), "build box");
    QCOMPARE(table->cellAt(2, 0)->tableCellInterface()->columnHeaderCells().first()->text(QAccessible::Name), "Host");
    QCOMPARE(table->cellAt(2, 1)->tableCellInterface()->rowIndex(), 2);
    // Children are numbered as the list view numbers those of its events.
    QCOMPARE(list->indexOfChild(table->cellAt(2, 1)), (2 + 1) * (3 + 1) + 1 + 1);
    QCOMPARE(list->child((2 + 1) * (3 + 1) + 1 + 1), table->cellAt(2, 1));
    QCOMPARE(table->selectedRows(), QList<int>{0});

    QAccessibleActionInterface* actions = list->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::setFocusAction()));
    QVERIFY(!fixture.list()->hasFocus());
    actions->doAction(QAccessibleActionInterface::setFocusAction());
    QVERIFY(fixture.list()->hasFocus());
    QVERIFY(list->state().focused);
    QCOMPARE(list->focusChild(), table->cellAt(0, 0));

    // A rebuild makes every cell anew.
    fixture.add("new.lab", "10.0.0.9");
    QCOMPARE(table->rowCount(), 6);
    QCOMPARE(table->cellAt(5, 0)->text(QAccessible::Name), "new.lab");
}

void AccessibilityTest::rowActionOpensTheEntryAsADoubleClick()
{
    MainWindowFixture fixture("editor.hosts");
    QAccessibleTableInterface* table = accessibleOf(fixture.list())->tableInterface();
    QAccessibleActionInterface* cell = table->cellAt(3, 1)->actionInterface();
    QVERIFY(cell);
    QCOMPARE(cell->actionNames().first(), QAccessibleActionInterface::pressAction());

    QString opened;
    // The action returns at once; the editor opens right after.
    QVERIFY(inEditor([&] { cell->doAction(QAccessibleActionInterface::pressAction()); },
                     [&](frmEditEntry* editor) { opened = editor->findChild<QLineEdit*>("txtHost")->text(); }));
    QCOMPARE(opened, "GAMMA");
    QCOMPARE(fixture.selectedRow(), 3);

    // The localhost rule of a double-click.
    platform::messagescript::clear();
    table->cellAt(0, 0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(fixture.boxes().size(), 1);
    QCOMPARE(fixture.boxes()[0].prompt, "Cannot edit 'localhost' entry.");
    QVERIFY(!fixture.window->entryEditor() || !fixture.window->entryEditor()->isVisible());

    // "toggle" selects the row, as a click does (REMOVE follows).
    table->cellAt(4, 0)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCOMPARE(fixture.selectedRow(), 4);
    QVERIFY(fixture.button("cmdRemove")->isEnabled());
}

void AccessibilityTest::currentCellStaysOnTheSelectedRow()
{
    MainWindowFixture fixture("editor.hosts");
    fixture.list()->setFocus();
    fixture.clickRow(1);
    // Ctrl with an arrow key moves only the current cell in a plain view.
    QTest::keyClick(fixture.list(), Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(fixture.list()->currentIndex().row(), 2);
    QCOMPARE(fixture.selectedRow(), 2);
}

void AccessibilityTest::listClaimsTheFocusOnlyWhileItHasIt_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("ADD") << "cmdAdd" << 6;
    QTest::newRow("REMOVE") << "cmdRemove" << 4;
    QTest::newRow("REMOVE ALL") << "cmRemoveAll" << 1;
}

void AccessibilityTest::listClaimsTheFocusOnlyWhileItHasIt()
{
    // The list is rebuilt and its first cell made current while the keyboard
    // stays on the button: a screen reader told that the cell has the focus
    // would take the next key for the list.
    QFETCH(QString, button);
    QFETCH(int, rowsAfter);
    MainWindowFixture fixture("editor.hosts");
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    fixture.list()->selectionModel()->setCurrentIndex(fixture.list()->model()->index(3, 0),
                                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    fixture.box("txtHost")->setText("new.lab");
    fixture.answerNext(MessageAnswer::Yes); // Remove all?
    QPushButton* pressed = fixture.button(button.toLatin1().constData());
    pressed->setFocus();
    recorded.clear();
    recordedObject = fixture.list();
    QTest::keyClick(pressed, Qt::Key_Space);
    recordedObject = nullptr;
    QCOMPARE(fixture.list()->model()->rowCount(), rowsAfter);
    QVERIFY(!fixture.list()->hasFocus());
    QVERIFY2(!recorded.contains(QAccessible::Focus), "the list said it has the focus");
    QAccessibleTableInterface* table = accessibleOf(fixture.list())->tableInterface();
    for (int row = 0; row < table->rowCount(); ++row)
        for (int column = 0; column < table->columnCount(); ++column)
            QVERIFY2(!table->cellAt(row, column)->state().focused,
                     qPrintable(QString("cell %1, %2").arg(row).arg(column)));
}

void AccessibilityTest::tabIntoTheListTellsTheCurrentCell_data()
{
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<int>("announcedRow");
    QTest::newRow("current row kept") << 2 << 2;
    QTest::newRow("no current row") << -1 << 0;
}

// A screen reader speaks what the last focus event names: the cell must come
// after the list's own event, which Qt sends once the list has taken the
// focus.
void AccessibilityTest::tabIntoTheListTellsTheCurrentCell()
{
    QFETCH(int, currentRow);
    QFETCH(int, announcedRow);
    MainWindowFixture fixture("editor.hosts");
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    fixture.list()->selectionModel()->setCurrentIndex(fixture.list()->model()->index(currentRow, 0),
                                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    fixture.box("txtComment")->setFocus();
    recorded.clear();
    recordedChildren.clear();
    recordedObject = fixture.list();
    QTest::keyClick(fixture.box("txtComment"), Qt::Key_Tab);
    QVERIFY(fixture.list()->hasFocus());
    QAccessibleInterface* list = accessibleOf(fixture.list());
    const int cell = list->indexOfChild(list->tableInterface()->cellAt(announcedRow, 0));
    const auto lastFocusNamed = [&] {
        const qsizetype last = recorded.lastIndexOf(QAccessible::Focus);
        return last < 0 ? -2 : recordedChildren[last];
    };
    QCoreApplication::processEvents(); // what the list has queued for after Qt's event
    recordedObject = nullptr;
    QCOMPARE(lastFocusNamed(), cell);
}

void AccessibilityTest::tabIntoABoxTellsTheFocusBeforeTheSelection_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty box") << "";
    QTest::newRow("box with text") << "a note";
}

void AccessibilityTest::tabIntoABoxTellsTheFocusBeforeTheSelection()
{
    QFETCH(QString, text);
    MainWindowFixture fixture("editor.hosts");
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    QLineEdit* comment = fixture.box("txtComment");
    comment->setText(text);
    fixture.button("cmdClose")->setFocus();
    recorded.clear();
    recordedObject = comment;
    QTest::keyClick(fixture.button("cmdClose"), Qt::Key_Tab);
    QTRY_COMPARE(comment->selectedText(), text); // the text is still selected on Tab
    recordedObject = nullptr;
    QVERIFY(comment->hasFocus());
    QVERIFY(!recorded.isEmpty());
    QCOMPARE(recorded.first(), QAccessible::Focus);
}

void AccessibilityTest::boxValueIsOneAttributeRun_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("value");
    QTest::newRow("address") << "main"
                             << "txtIP"
                             << "127.0.0.1";
    QTest::newRow("empty comment") << "main"
                                   << "txtComment"
                                   << "";
    QTest::newRow("editor host") << "editor"
                                 << "txtHost"
                                 << "alpha.test";
    QTest::newRow("editor address") << "editor"
                                    << "txtIP"
                                    << "::1";
}

// A screen reader joins the runs the box reports and speaks the value by
// them: an empty run at each offset made it drop the last character.
void AccessibilityTest::boxValueIsOneAttributeRun()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, value);
    MainWindowFixture fixture("editor.hosts");
    const auto check = [&](QLineEdit* box) {
        box->setText(value);
        QAccessibleInterface* accessible = accessibleOf(box);
        QCOMPARE(accessible->text(QAccessible::Value), value);
        QVERIFY(accessible->state().editable);
        QAccessibleTextInterface* text = accessible->textInterface();
        QVERIFY(text);
        QCOMPARE(text->characterCount(), value.size());
        QCOMPARE(text->text(0, text->characterCount()), value);
        for (int offset = 0; offset <= value.size(); ++offset) {
            int start = -2;
            int end = -2;
            const QString attributes = text->attributes(offset, &start, &end);
            QCOMPARE(std::pair(start, end), std::pair(0, int(value.size())));
            QVERIFY2(attributes.contains("font-family:"), qPrintable(attributes));
        }
    };
    if (window == "main") {
        check(fixture.box(control.toLatin1()));
        return;
    }
    QVERIFY(inEditor([&] { fixture.doubleClickRow(1); },
                     [&](frmEditEntry* editor) { check(editor->findChild<QLineEdit*>(control)); }));
}

void AccessibilityTest::boxAnswersEveryBoundaryAtEveryOffset_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("lastWord");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("one word") << "127.0.0.1"
                              << "127.0.0.1";
    QTest::newRow("words and sentences") << "Moved here. See the old one"
                                         << "one";
    QTest::newRow("spaces at the end") << "alpha beta  "
                                       << "  ";
}

// Every query answers, at every offset from 0 to the end, and the pieces
// the text is read by, walked from the start, give back the whole value.
void AccessibilityTest::boxAnswersEveryBoundaryAtEveryOffset()
{
    QFETCH(QString, value);
    QFETCH(QString, lastWord);
    MainWindowFixture fixture("editor.hosts");
    QLineEdit* box = fixture.box("txtComment");
    box->setText(value);
    QAccessibleTextInterface* text = textOf(box);
    QVERIFY(text);
    const int length = static_cast<int>(value.size());
    HangGuard guard("a text query of a box");
    for (auto boundary : {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
                          QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary}) {
        const QByteArray kind = QByteArray::number(int(boundary));
        for (int offset = 0; offset <= length; ++offset) {
            int start = -1;
            int end = -1;
            const QString at = text->textAtOffset(offset, boundary, &start, &end);
            QVERIFY2(start >= 0 && start <= end && end <= length, kind);
            QCOMPARE(at, value.mid(start, end - start));
            if (offset < length)
                QVERIFY2(start <= offset && offset < end, kind);
            else if (boundary == QAccessible::CharBoundary)
                QVERIFY(at.isEmpty());
            else if (length > 0) // the word or line a caret at the end ends
                QVERIFY2(end == length && start < end, kind);
            const QString before = text->textBeforeOffset(offset, boundary, &start, &end);
            QCOMPARE(before, value.mid(start, end - start));
            QVERIFY2(before.isEmpty() || end <= offset, kind);
            const QString after = text->textAfterOffset(offset, boundary, &start, &end);
            QCOMPARE(after, value.mid(start, end - start));
            QVERIFY2(after.isEmpty() || start > offset, kind);
        }
        QString walked;
        for (int offset = 0; offset < length;) {
            int start = -1;
            int end = -1;
            walked += text->textAtOffset(offset, boundary, &start, &end);
            QVERIFY2(end > offset, kind);
            offset = end;
        }
        QCOMPARE(walked, value);
    }
    int start = -1;
    int end = -1;
    QCOMPARE(text->textAtOffset(length, QAccessible::WordBoundary, &start, &end), lastWord);
}

void AccessibilityTest::textPutInThroughTheInterfaceIsFilteredAsTyped_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected");
    QTest::newRow("insert") << "insert"
                            << "aa b c d e f gbbb";
    QTest::newRow("replace") << "replace"
                             << "a b c d e f gb";
    QTest::newRow("value") << "value"
                           << "a b c d e f g";
}

void AccessibilityTest::textPutInThroughTheInterfaceIsFilteredAsTyped()
{
    QFETCH(QString, how);
    QFETCH(QString, expected);
    const QString controls = QStringLiteral("a\tb\nc\r\nd\ve\ff") + QChar(0) + QLatin1Char('g');
    MainWindowFixture fixture("editor.hosts");
    QLineEdit* box = fixture.box("txtComment");
    box->setText("abbb");
    QAccessibleInterface* accessible = accessibleOf(box);
    QAccessibleEditableTextInterface* editable = accessible->editableTextInterface();
    QVERIFY(editable);
    if (how == "insert")
        editable->insertText(1, controls);
    else if (how == "replace")
        editable->replaceText(0, 3, controls);
    else
        accessible->setText(QAccessible::Value, controls);
    QCOMPARE(box->text(), expected);
    editable->deleteText(0, 2);
    QCOMPARE(box->text(), expected.mid(2));
    box->setReadOnly(true);
    editable->insertText(0, "x");
    QCOMPARE(box->text(), expected.mid(2));
}

void AccessibilityTest::editsThroughTheInterfaceNeverSplitACharacter_data()
{
    // "a😀z": the emoji is a surrogate pair at offsets 1 and 2; "e\u0301" an
    // accent on its letter.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("expected");
    const QString pair = QStringLiteral("a\U0001F600z");
    QTest::newRow("insert inside a pair") << pair << "insert" << 2 << 2 << QStringLiteral("aX\U0001F600z");
    QTest::newRow("delete half a pair") << pair << "delete" << 1 << 2 << QStringLiteral("az");
    QTest::newRow("delete from inside a pair") << pair << "delete" << 2 << 4 << QStringLiteral("a");
    QTest::newRow("replace half a pair") << pair << "replace" << 2 << 3 << QStringLiteral("aXz");
    QTest::newRow("insert between accent and letter")
        << QStringLiteral("e\u0301t") << "insert" << 1 << 1 << QStringLiteral("Xe\u0301t");
    QTest::newRow("insert at a boundary") << pair << "insert" << 3 << 3 << QStringLiteral("a\U0001F600Xz");
}

void AccessibilityTest::editsThroughTheInterfaceNeverSplitACharacter()
{
    QFETCH(QString, text);
    QFETCH(QString, edit);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, expected);
    MainWindowFixture fixture("editor.hosts");
    QLineEdit* box = fixture.box("txtComment");
    box->setText(text);
    // A Windows code page such as 1252 holds none of these, and the box
    // leaves them out as typed.
    if (box->text() != text)
        QSKIP("this system's code page holds no such characters");
    QAccessibleEditableTextInterface* editable = accessibleOf(box)->editableTextInterface();
    QVERIFY(editable);
    if (edit == "insert")
        editable->insertText(start, "X");
    else if (edit == "delete")
        editable->deleteText(start, end);
    else
        editable->replaceText(start, end, "X");
    QCOMPARE(box->text(), expected);
    // What would be written: valid UTF-8, no replacement character.
    QVERIFY(!QString::fromUtf8(box->text().toUtf8()).contains(QChar::ReplacementCharacter));
}

void AccessibilityTest::focusRingIsSeenAroundTheFocusedControl()
{
    MainWindowFixture fixture("editor.hosts");
    QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
    QLineEdit* comment = fixture.box("txtComment");
    const QRect around(comment->mapTo(fixture.window.get(), QPoint(0, 0)) - QPoint(4, 4),
                       comment->size() + QSize(8, 8));
    fixture.button("cmdAdd")->setFocus();
    const QImage unfocused = fixture.window->grab(around).toImage();
    comment->setFocus(Qt::TabFocusReason);
    const QImage focused = fixture.window->grab(around).toImage();
    QVERIFY(unfocused != focused);
    // Both colours of the ring, on the box's left edge: dark outside, light within.
    const int middle = around.height() / 2;
    const qreal ratio = focused.devicePixelRatio();
    auto at = [&](int x) { return focused.pixelColor(int(x * ratio), int(middle * ratio)); };
    QCOMPARE(at(4 - platform::kFocusRingWidth), platform::kFocusOuter);
    QCOMPARE(at(4 - 1), platform::kFocusInner);
    // The box itself shows through the ring.
    QCOMPARE(at(around.width() / 2), unfocused.pixelColor(int(around.width() / 2 * ratio), int(middle * ratio)));
}

void AccessibilityTest::titleBarsOfferOnlyTheirButtons()
{
    MainWindowFixture fixture("editor.hosts");
#ifdef _WIN32
    if (QGuiApplication::platformName() != "windows")
        QSKIP("needs Qt's Windows platform (CTest: window_styles)");
    // Windows draws the buttons the window's style names.
    auto style = [](QWidget* window) { return GetWindowLongW(reinterpret_cast<HWND>(window->winId()), GWL_STYLE); };
    const LONG main = style(fixture.window.get());
    QVERIFY(main & WS_MINIMIZEBOX);
    QVERIFY(!(main & WS_MAXIMIZEBOX));
    QVERIFY(main & WS_SYSMENU);
    LONG editor = 0;
    QVERIFY(inEditor([&] { fixture.doubleClickRow(1); }, [&](frmEditEntry* dialog) { editor = style(dialog); }));
    QVERIFY(!(editor & WS_MINIMIZEBOX));
    QVERIFY(!(editor & WS_MAXIMIZEBOX));
    QVERIFY(editor & WS_SYSMENU);
#else
    if (QGuiApplication::platformName() != "xcb" || qEnvironmentVariableIsEmpty("TESSALY_WINDOW_MANAGER"))
        QSKIP("needs X11 and a window manager (tests/gui/window-manager.sh)");
    QVERIFY(QTest::qWaitForWindowExposed(fixture.window.get()));
    // As the window manager reads them: the Motif hints Qt sets, and the
    // actions the window manager then allows.
    auto property = [](QWidget* window, const char* name) {
        QProcess xprop;
        xprop.start("xprop", {"-id", QString::number(window->winId()), name});
        xprop.waitForFinished(10000);
        return QString::fromLatin1(xprop.readAllStandardOutput()).section('=', 1).trimmed();
    };
    auto motif = [&](QWidget* window) {
        const QStringList fields = property(window, "_MOTIF_WM_HINTS").split(", ");
        return fields.size() == 5 ? QPair<uint, uint>(fields[1].toUInt(nullptr, 0), fields[2].toUInt(nullptr, 0))
                                  : QPair<uint, uint>(0, 0);
    };
    constexpr uint kMinimize = 1 << 3, kMaximize = 1 << 4, kClose = 1 << 5; // functions
    constexpr uint kMinimizeButton = 1 << 5, kMaximizeButton = 1 << 6;      // decorations
    QTRY_VERIFY(!property(fixture.window.get(), "_NET_WM_ALLOWED_ACTIONS").isEmpty());
    const auto [mainFunctions, mainDecorations] = motif(fixture.window.get());
    QCOMPARE(mainFunctions & (kMinimize | kMaximize | kClose), kMinimize | kClose);
    QCOMPARE(mainDecorations & (kMinimizeButton | kMaximizeButton), kMinimizeButton);
    const QString mainActions = property(fixture.window.get(), "_NET_WM_ALLOWED_ACTIONS");
    QVERIFY2(mainActions.contains("_NET_WM_ACTION_CLOSE") && mainActions.contains("_NET_WM_ACTION_MINIMIZE")
                 && !mainActions.contains("MAXIMIZE") && !mainActions.contains("_NET_WM_ACTION_RESIZE"),
             qPrintable(mainActions));
    QPair<uint, uint> editorHints;
    QString editorActions;
    QVERIFY(inEditor([&] { fixture.doubleClickRow(1); },
                     [&](frmEditEntry* editor) {
                         QTRY_VERIFY(!property(editor, "_NET_WM_ALLOWED_ACTIONS").isEmpty());
                         editorHints = motif(editor);
                         editorActions = property(editor, "_NET_WM_ALLOWED_ACTIONS");
                     }));
    QCOMPARE(editorHints.first & (kMinimize | kMaximize | kClose), kClose);
    QCOMPARE(editorHints.second & (kMinimizeButton | kMaximizeButton), 0u);
    QVERIFY2(editorActions.contains("_NET_WM_ACTION_CLOSE") && !editorActions.contains("MAXIMIZE")
                 && !editorActions.contains("FULLSCREEN") && !editorActions.contains("_NET_WM_ACTION_RESIZE"),
             qPrintable(editorActions));
#endif
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
