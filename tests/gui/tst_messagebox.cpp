// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagebox.h"
#include "modalguard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

// Drives the real QMessageBox behind the message box function.
class MessageBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { closeModalWindowsOnFailure(); }
    void init() { platform::messagescript::enable(false); }

    void showsPromptTitleIconAndButtons();
    void defaultButtonCanBeNamed();
    void escapeAnswersCancelOrNo_data();
    void escapeAnswersCancelOrNo();
    void scriptedAnswersAreRecordedAndNotShown();

private:
    // Runs `act` on the box once it is shown and returns the answer.
    template <typename Act>
    static MessageAnswer answer(const QString& prompt, MessageButtons buttons, MessageIcon icon,
                                std::optional<MessageAnswer> defaultButton, Act act)
    {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            act(box);
            acted = true;
        });
        const MessageAnswer result = platform::showMessage(prompt, buttons, icon, "Title", defaultButton);
        [&] { QVERIFY(acted); }();
        return result;
    }
};

void MessageBoxTest::showsPromptTitleIconAndButtons()
{
    const MessageAnswer result = answer("first line\r\nsecond\r\n\r\nlast", MessageButtons::YesNoCancel,
                                        MessageIcon::Question, std::nullopt, [](QMessageBox* box) {
                                            QCOMPARE(box->windowTitle(), "Title");
                                            QCOMPARE(box->text(), "first line\nsecond\n\nlast");
                                            QCOMPARE(box->icon(), QMessageBox::Question);
                                            QCOMPARE(box->buttons().size(), 3);
                                            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
                                            box->button(QMessageBox::No)->click();
                                        });
    QCOMPARE(result, MessageAnswer::No);

    const MessageAnswer ok = answer("note", MessageButtons::Ok, MessageIcon::Exclamation, std::nullopt,
                                    [](QMessageBox* box) {
                                        QCOMPARE(box->icon(), QMessageBox::Warning);
                                        QCOMPARE(box->buttons().size(), 1);
                                        QTest::keyClick(box, Qt::Key_Return);
                                    });
    QCOMPARE(ok, MessageAnswer::Ok);

    const MessageAnswer information = answer("i", MessageButtons::YesNo, MessageIcon::Information, std::nullopt,
                                             [](QMessageBox* box) {
                                                 QCOMPARE(box->icon(), QMessageBox::Information);
                                                 QTest::keyClick(box, Qt::Key_Return); // the default: Yes
                                             });
    QCOMPARE(information, MessageAnswer::Yes);
}

void MessageBoxTest::defaultButtonCanBeNamed()
{
    const MessageAnswer result = answer("changed?", MessageButtons::YesNo, MessageIcon::Exclamation, MessageAnswer::No,
                                        [](QMessageBox* box) {
                                            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
                                            QTest::keyClick(box, Qt::Key_Return);
                                        });
    QCOMPARE(result, MessageAnswer::No);
}

void MessageBoxTest::escapeAnswersCancelOrNo_data()
{
    QTest::addColumn<MessageButtons>("buttons");
    QTest::addColumn<MessageAnswer>("expected");
    QTest::newRow("yes no cancel") << MessageButtons::YesNoCancel << MessageAnswer::Cancel;
    QTest::newRow("yes no") << MessageButtons::YesNo << MessageAnswer::No;
    QTest::newRow("ok") << MessageButtons::Ok << MessageAnswer::Ok;
}

void MessageBoxTest::escapeAnswersCancelOrNo()
{
    QFETCH(MessageButtons, buttons);
    QFETCH(MessageAnswer, expected);
    const MessageAnswer result = answer("escape", buttons, MessageIcon::Question, std::nullopt,
                                        [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    QCOMPARE(result, expected);
}

void MessageBoxTest::scriptedAnswersAreRecordedAndNotShown()
{
    platform::messagescript::clear();
    platform::messagescript::enable(true);
    platform::messagescript::queueAnswer(MessageAnswer::Cancel);
    QCOMPARE(platform::showMessage("p", MessageButtons::YesNoCancel, MessageIcon::Question, "t"),
             MessageAnswer::Cancel);
    QCOMPARE(platform::showMessage("q", MessageButtons::YesNo, MessageIcon::Question, "t", MessageAnswer::No),
             MessageAnswer::No);
    QCOMPARE(platform::messagescript::shown().size(), 2);
    QCOMPARE(platform::messagescript::shown()[1].prompt, "q");
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(MessageBoxTest)
#include "tst_messagebox.moc"
