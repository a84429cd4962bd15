// SPDX-License-Identifier: GPL-3.0-or-later
#include "elevation.h"

#include <QByteArray>
#include <QtGlobal>

#include <windows.h>

namespace platform {

bool runsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

void forgetUserEnvironmentIfElevated()
{
    // An elevated program inherits them from the user's own
    // HKCU\Environment, which any program of the user's can write.
    if (!runsElevated())
        return;
    for (const std::string_view name : userLoadPathVariables())
        qunsetenv(QByteArray(name.data(), static_cast<qsizetype>(name.size())).constData());
}

} // namespace platform
