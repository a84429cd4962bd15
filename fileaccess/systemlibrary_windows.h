// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// System DLLs that Tessaly needs only now and then, loaded when needed and
// only from the system folder. The save helper runs with administrator
// rights from a folder its user may write: a DLL it imported statically, or
// loaded by name alone, could be taken from there. So it imports only DLLs
// that Windows always takes from its own folder (the KnownDLLs), and loads
// the others through this.

#include <windows.h>

#include <cstddef>

namespace fileaccess {

// Loads `dll` from the system folder (never the program's folder, the
// current one or PATH) and keeps it loaded for the rest of the run; returns
// its procedure `name`, or null when either is missing.
FARPROC systemProcedure(const wchar_t* dll, const char* name);

template <typename Function>
Function* systemFunction(const wchar_t* dll, const char* name)
{
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(systemProcedure(dll, name)));
}

// Fills `buffer` with random bytes from the system (BCryptGenRandom of
// bcrypt.dll); false when that is not available.
bool systemRandom(void* buffer, std::size_t size);

} // namespace fileaccess
