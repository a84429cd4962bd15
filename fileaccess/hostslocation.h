// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace fileaccess {

// The Windows system directory as GetSystemDirectoryA gives it (ANSI code
// page bytes), or empty when the query fails or on other systems.
std::string systemDirectory();

// Where this system keeps its hosts file: below the system directory on
// Windows; /etc/hosts on POSIX systems, which have no such directory.
std::string systemHostsFilePath();

} // namespace fileaccess
