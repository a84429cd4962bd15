// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <string>

namespace platform {

enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageIcon { Information, Exclamation, Question };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct MessageRequest {
    QString prompt; // lines joined by CR LF
    QString title;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::Information;
    MessageAnswer defaultButton = MessageAnswer::Ok;
};

// Shows a modal message box over the active window and returns the button
// pressed. The first button of the set is the default unless one is named.
// Esc answers Cancel where there is one, and No in a Yes/No box.
MessageAnswer showMessage(const QString& prompt, MessageButtons buttons, MessageIcon icon, const QString& title,
                          std::optional<MessageAnswer> defaultButton = std::nullopt);

// Lets tests script the boxes: every box is recorded, and while answers are
// queued the next box takes the next answer without being shown. With
// scripting on and no answer queued, a box answers its default button.
namespace messagescript {
void enable(bool scripted);
void queueAnswer(MessageAnswer answer);
// The next box, instead of answering, throws std::runtime_error(`what`), as
// something unexpected below a window's action would.
void queueFailure(const std::string& what);
QList<MessageRequest> shown();
void clear();
} // namespace messagescript

} // namespace platform
