// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace resources {

// The resource path of one of the program's pictures ("tessaly",
// "information", "revert"): the SVG where the build has Qt Svg, else the PNG
// rendered from it (with a @2x file for high-density screens).
inline QString picture(const char* name)
{
    return QStringLiteral(":/pictures/") + QLatin1String(name) + QStringLiteral(TESSALY_PICTURE_SUFFIX);
}

} // namespace resources
