// SPDX-License-Identifier: GPL-3.0-or-later
#include "text.h"

#include <QLineEdit>
#include <QToolTip>
#include <QValidator>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#endif

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

// Whether the file's encoding holds the text as it is. Windows writes the
// file in the ANSI code page, where Qt would put "?" for a character it
// lacks, or a look-alike ("l" for "ł"); other systems write UTF-8, which
// holds everything.
bool fitsFileText([[maybe_unused]] QStringView text)
{
#ifdef _WIN32
    if (text.isEmpty() || GetACP() == CP_UTF8)
        return true;
    BOOL usedDefault = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, reinterpret_cast<LPCWCH>(text.utf16()),
                                          static_cast<int>(text.size()), nullptr, 0, nullptr, &usedDefault);
    return bytes > 0 && !usedDefault;
#else
    return true;
#endif
}

// Takes out what the file's encoding cannot hold; returns what was taken.
// The whole text is tried first: it runs on every keystroke.
QString takeOutUnwritable(QString& text, int& position)
{
    if (fitsFileText(text))
        return {};
    QString kept;
    QString taken;
    int keptPosition = position;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2
                                                                                                                  : 1;
        const QStringView character = QStringView(text).mid(i, length);
        if (fitsFileText(character)) {
            kept += character;
        } else {
            taken += character;
            if (i < position)
                keptPosition -= static_cast<int>(std::min<qsizetype>(length, position - i));
        }
        i += length;
    }
    text = kept;
    position = keptPosition;
    return taken;
}

class SingleLineOfFileText : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override
    {
        if (std::any_of(input.cbegin(), input.cend(), isControlSeparator)) {
            const QString before = controlsAsBlanks(input.left(position));
            input = before + controlsAsBlanks(input.mid(position));
            position = static_cast<int>(before.size());
        }
        const QString taken = takeOutUnwritable(input, position);
        if (!taken.isEmpty())
            if (auto* box = qobject_cast<QWidget*>(parent()))
                QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())),
                                   QStringLiteral("Left out: %1\nThe hosts file is written in this system's code "
                                                  "page, which has no such characters.")
                                       .arg(taken),
                                   box);
        return Acceptable;
    }
};

} // namespace

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
    box->setValidator(new SingleLineOfFileText(box));
}

} // namespace platform
