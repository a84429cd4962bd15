#include "text.h"

#include <QLineEdit>
#include <QValidator>

namespace platform {
namespace {

QString lineBreaksAsBlanks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

class LineBreaksAsBlanks : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override
    {
        if (input.contains(QLatin1Char('\r')) || input.contains(QLatin1Char('\n'))) {
            const QString before = lineBreaksAsBlanks(input.left(position));
            input = before + lineBreaksAsBlanks(input.mid(position));
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
    box->setValidator(new LineBreaksAsBlanks(box));
}

} // namespace platform
