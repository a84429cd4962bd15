// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "filesave.h"
#include "filesnapshot.h"

#include <functional>
#include <string>
#include <string_view>

namespace savehelper {

// Whether this system saves the hosts file through the save helper when the
// program may not write it itself: Linux, where the helper is started with
// pkexec, which asks for an administrator's password through the desktop's
// polkit agent; Windows, where it is started with the "runas" verb, which
// shows the consent prompt.
bool canSaveWithAdministratorRights();

// Has the save helper write `content` over the system's hosts file, provided
// that the file is still what `expected` describes. Events are processed
// while the helper runs (the password may take a while); the caller keeps
// its windows from acting meanwhile.
fileaccess::SaveOutcome saveWithAdministratorRights(const fileaccess::FileSnapshot& expected, std::string_view content);

#ifndef _WIN32
namespace testing {
// Tests start this program instead of the system's pkexec; empty for pkexec.
void setPkexecProgram(const std::string& path);
} // namespace testing
#else
namespace testing {
// Tests start the helper at this path instead of the one
// beside the program; empty for the one beside it.
void setHelperProgram(const std::wstring& path);
// Tests answer the consent prompt with "No" (ERROR_CANCELLED) without
// starting anything.
void setConsentDeclined(bool declined);
// Called with the staged request's path while the editor holds it, just
// before the helper would start; null for none.
void setStagedHook(std::function<void(const std::wstring& stagedPath)> hook);
// The access list, in SDDL, that a staged request is given (wine does not
// keep a file's access list, so tests there read it here).
std::wstring stagedRequestAccess();
} // namespace testing
#endif

} // namespace savehelper
