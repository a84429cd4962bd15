// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <span>
#include <string_view>

namespace platform {

// Whether the program runs with administrator rights: as root (effective
// user 0) on POSIX systems, with an elevated token on Windows.
bool runsElevated();

// The variables through which Qt or its platform integration would load
// code, fonts or settings from folders and files the user names. QT_QPA_PLATFORM
// is not among them: it picks one of the installed plugins by name.
std::span<const std::string_view> userLoadPathVariables();

// Started with administrator rights ("Run as administrator", sudo), the
// program must load nothing that the user's own programs could have put in
// its way. On Linux it keeps only what a window needs (the display and its
// authority, the locale, the time zone, the terminal, and the Qt variables
// that pick an installed plugin, a style or a scale by name or number), sets
// HOME to the account's own home and PATH to the system's folders, and
// forgets everything else, as sudo's reset of the environment does: what
// fontconfig, GTK, libXcursor or xkbcommon would read from a user's folder
// can then only come from the system's. Windows programs need much of their
// environment: there it forgets the variables of userLoadPathVariables().
// Call it before the application object exists; it does nothing for a
// program that runs with the user's own rights.
void forgetUserEnvironmentIfElevated();

} // namespace platform
