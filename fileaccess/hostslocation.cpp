// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostslocation.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fileaccess {

std::string hostsPathBelowSystemDirectory(std::string_view systemDirectory)
{
    std::string path(systemDirectory);
    path += "\\Drivers\\etc\\hosts";
    return path;
}

std::string systemDirectory()
{
#ifdef _WIN32
    std::string buffer(255, ' ');
    const UINT written = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    // A result larger than the buffer is the size it would need, not a length.
    if (written >= buffer.size())
        return {};
    buffer.resize(written);
    return buffer;
#else
    return {};
#endif
}

std::string systemHostsFilePath()
{
#ifdef _WIN32
    return hostsPathBelowSystemDirectory(systemDirectory());
#else
    return "/etc/hosts";
#endif
}

} // namespace fileaccess
