// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <deque>
#include <stdexcept>
#include <string>

namespace platform {
namespace {

// An answer, or, where `failure` has words, a failure to throw instead.
struct ScriptedReply {
    MessageAnswer answer = MessageAnswer::Ok;
    std::string failure;
};

struct Script {
    bool enabled = false;
    std::deque<ScriptedReply> answers;
    QList<MessageRequest> shown;
};

Script& script()
{
    static Script instance;
    return instance;
}

QList<MessageAnswer> answersOf(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return {MessageAnswer::Ok};
    case MessageButtons::YesNo:
        return {MessageAnswer::Yes, MessageAnswer::No};
    case MessageButtons::YesNoCancel:
        break;
    }
    return {MessageAnswer::Yes, MessageAnswer::No, MessageAnswer::Cancel};
}

QMessageBox::StandardButton standardButton(MessageAnswer answer)
{
    switch (answer) {
    case MessageAnswer::Ok:
        return QMessageBox::Ok;
    case MessageAnswer::Yes:
        return QMessageBox::Yes;
    case MessageAnswer::No:
        return QMessageBox::No;
    case MessageAnswer::Cancel:
        break;
    }
    return QMessageBox::Cancel;
}

QMessageBox::Icon standardIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        break;
    }
    return QMessageBox::Question;
}

MessageAnswer showReal(const MessageRequest& request)
{
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QString text = request.prompt;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(standardIcon(request.icon), request.title, text, QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    const QList<MessageAnswer> answers = answersOf(request.buttons);
    QList<QPair<QAbstractButton*, MessageAnswer>> buttons;
    for (MessageAnswer answer : answers) {
        QPushButton* button = box.addButton(standardButton(answer));
        buttons.append({button, answer});
        if (answer == request.defaultButton)
            box.setDefaultButton(button);
    }
    box.setEscapeButton(buttons.last().first);
    box.exec();
    for (const auto& [button, answer] : buttons)
        if (box.clickedButton() == button)
            return answer;
    return answers.last();
}

} // namespace

MessageAnswer showMessage(const QString& prompt, MessageButtons buttons, MessageIcon icon, const QString& title,
                          std::optional<MessageAnswer> defaultButton)
{
    const MessageRequest request{prompt, title, buttons, icon, defaultButton.value_or(answersOf(buttons).first())};
    Script& scripted = script();
    scripted.shown.append(request);
    if (!scripted.answers.empty()) {
        const ScriptedReply next = scripted.answers.front();
        scripted.answers.pop_front();
        if (!next.failure.empty())
            throw std::runtime_error(next.failure);
        return next.answer;
    }
    if (scripted.enabled)
        return request.defaultButton;
    return showReal(request);
}

namespace messagescript {

void enable(bool scripted)
{
    script().enabled = scripted;
}

void queueAnswer(MessageAnswer answer)
{
    script().answers.push_back({answer, {}});
}

void queueFailure(const std::string& what)
{
    script().answers.push_back({MessageAnswer::Ok, what});
}

QList<MessageRequest> shown()
{
    return script().shown;
}

void clear()
{
    script().answers.clear();
    script().shown.clear();
}

} // namespace messagescript
} // namespace platform
