// SPDX-License-Identifier: GPL-3.0-or-later
#include "filetext.h"

#include <QFile>

namespace platform {

QString pathText(const std::filesystem::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

std::filesystem::path pathFromText(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

void writeStandardOutputAsBytes()
{
}

} // namespace platform
