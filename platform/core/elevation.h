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
// its way: forgets those variables, so that Qt takes its plugins only from
// its own installation. Call it before the application object exists; it
// does nothing for a program that runs with the user's own rights.
void forgetUserLoadPathsIfElevated();

} // namespace platform
