// SPDX-License-Identifier: GPL-3.0-or-later
#include "filetext.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace platform {

QString pathText(const std::filesystem::path& path)
{
    return QString::fromStdWString(path.native());
}

std::filesystem::path pathFromText(const QString& text)
{
    return text.toStdWString();
}

void writeStandardOutputAsBytes()
{
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace platform
