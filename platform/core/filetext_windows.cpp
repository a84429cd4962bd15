// SPDX-License-Identifier: GPL-3.0-or-later
#include "filetext.h"

namespace platform {

QString pathText(const std::filesystem::path& path)
{
    return QString::fromStdWString(path.native());
}

std::filesystem::path pathFromText(const QString& text)
{
    return text.toStdWString();
}

} // namespace platform
