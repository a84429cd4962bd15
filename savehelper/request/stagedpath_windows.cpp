// SPDX-License-Identifier: GPL-3.0-or-later
#include "stagedpath_windows.h"

#include <windows.h>

namespace savehelper {

bool isLocalDrivePath(std::wstring_view path)
{
    const wchar_t letter = path.empty() ? L'\0' : path[0];
    const bool driveLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    if (path.size() < 4 || !driveLetter || path[1] != L':' || path[2] != L'\\')
        return false;
    for (const wchar_t c : path.substr(2))
        if (c < 0x20 || c == L'/' || c == L':')
            return false;
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    switch (GetDriveTypeW(root)) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
        return true;
    default: // DRIVE_REMOTE, DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR
        return false;
    }
}

} // namespace savehelper
