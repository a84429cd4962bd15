// SPDX-License-Identifier: GPL-3.0-or-later
#include "text.h"

#include <QLineEdit>
#include <QValidator>

#include <algorithm>

namespace platform {
namespace {

// Characters that the system reads as a separator or an end where the list
// would show something else: line breaks, TAB, vertical tab, form feed, NUL.
bool isControlSeparator(QChar c)
{
    const char16_t code = c.unicode();
    return code == u'\r' || code == u'\n' || code == u'\t' || code == u'\v' || code == u'\f' || code == 0;
}

QString controlsAsBlanks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& c : text)
        if (isControlSeparator(c))
            c = QLatin1Char(' ');
    return text;
}

class ControlsAsBlanks : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override
    {
        if (std::any_of(input.cbegin(), input.cend(), isControlSeparator)) {
            const QString before = controlsAsBlanks(input.left(position));
            input = before + controlsAsBlanks(input.mid(position));
            position = static_cast<int>(before.size());
        }
        return Acceptable;
    }
};

} // namespace

QString textFromFile(std::string_view bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string textForFile(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

QString trimSpaces(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start] == QLatin1Char(' '))
        ++start;
    while (end > start && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(start, end - start);
}

void keepSingleLine(QLineEdit* box)
{
    box->setValidator(new ControlsAsBlanks(box));
}

} // namespace platform
