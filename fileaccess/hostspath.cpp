// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostspath.h"

namespace fileaccess {

std::string hostsPathBelowSystemDirectory(std::string_view systemDirectory)
{
    std::string path(systemDirectory);
    path += "\\Drivers\\etc\\hosts";
    return path;
}

} // namespace fileaccess
