// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace fileaccess {

// The Windows system directory as GetSystemDirectoryA gives it (ANSI code
// page bytes), or empty when the query fails or on other systems.
std::string systemDirectory();

// The hosts file below a Windows system directory: the directory followed by
// "\Drivers\etc\hosts"; that suffix alone when the directory is empty.
std::string hostsPathBelowSystemDirectory(std::string_view systemDirectory);

// Where this system keeps its hosts file: below the system directory on
// Windows; /etc/hosts on POSIX systems, which have no such directory.
std::string systemHostsFilePath();

} // namespace fileaccess
