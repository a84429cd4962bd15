// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "filesave.h"
#include "filesnapshot.h"

#include <string_view>

namespace savehelper {

// Whether this system saves the hosts file through the save helper when the
// program may not write it itself: Linux, where the helper is started with
// pkexec, which asks for an administrator's password through the desktop's
// polkit agent. Windows starts the whole program with administrator rights.
bool canSaveWithAdministratorRights();

// Has the save helper write `content` over the system's hosts file, provided
// that the file is still what `expected` describes. Events are processed
// while the helper runs (the password may take a while); the caller keeps
// its windows from acting meanwhile.
fileaccess::SaveOutcome saveWithAdministratorRights(const fileaccess::FileSnapshot& expected,
                                                    std::string_view content);

} // namespace savehelper
