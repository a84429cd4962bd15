// SPDX-License-Identifier: GPL-3.0-or-later
#include "filetext.h"

namespace platform {

QString textFromFile(std::string_view bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string textForFile(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

} // namespace platform
