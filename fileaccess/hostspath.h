// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace fileaccess {

// The hosts file below a Windows system directory: the directory followed by
// "\Drivers\etc\hosts"; that suffix alone when the directory is empty.
std::string hostsPathBelowSystemDirectory(std::string_view systemDirectory);

} // namespace fileaccess
