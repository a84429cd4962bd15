// SPDX-License-Identifier: GPL-3.0-or-later
#include "elevation.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {
namespace {

// A list of what to forget could never be complete (fontconfig, GTK,
// libXcursor and xkbcommon each read folders named by variables of their
// own): what is kept is listed instead.
bool keptWhenElevated(std::string_view name)
{
    static constexpr std::string_view kKept[] = {
        "DISPLAY", "XAUTHORITY", "LANG", "LANGUAGE", "TZ", "TERM",
        // Qt's own, each picking an installed plugin, a style or a scale.
        "QT_QPA_PLATFORM", "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
        "QT_ENABLE_HIGHDPI_SCALING", "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_FONT_DPI"};
    for (const std::string_view kept : kKept)
        if (name == kept)
            return true;
    return name.starts_with("LC_");
}

} // namespace

bool runsElevated()
{
    return ::geteuid() == 0;
}

void forgetUserEnvironmentIfElevated()
{
    if (!runsElevated())
        return;
    std::vector<std::string> kept;
    for (char** variable = environ; variable && *variable; ++variable) {
        const std::string_view entry(*variable);
        if (keptWhenElevated(entry.substr(0, entry.find('='))))
            kept.emplace_back(entry);
    }
    std::string home;
    passwd account{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &account, buffer.data(), buffer.size(), &found) == 0 && found && account.pw_dir)
        home = account.pw_dir;
    ::clearenv();
    for (const std::string& entry : kept) {
        const std::size_t equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    if (!home.empty())
        ::setenv("HOME", home.c_str(), 1);
    ::setenv("PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", 1);
}

} // namespace platform
