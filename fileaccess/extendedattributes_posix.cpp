// SPDX-License-Identifier: GPL-3.0-or-later
#include "extendedattributes_posix.h"

#ifdef __linux__
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>
#endif

namespace fileaccess {

#ifdef __linux__
namespace {

// The names of a NUL-separated list that `list` fills as listxattr does.
template <typename List>
bool attributeNames(List list, std::vector<std::string>& names)
{
    const ssize_t size = list(nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    const ssize_t listed = list(buffer.data(), buffer.size());
    if (listed < 0)
        return false;
    for (const char* name = buffer.data(); name < buffer.data() + listed; name += std::strlen(name) + 1)
        names.emplace_back(name);
    return true;
}

} // namespace

bool copyExtendedAttributes(const std::string& from, int to)
{
    std::vector<std::string> wanted;
    if (!attributeNames([&](char* names, std::size_t size) { return ::listxattr(from.c_str(), names, size); }, wanted))
        return false;
    for (const std::string& name : wanted) {
        const ssize_t valueSize = ::getxattr(from.c_str(), name.c_str(), nullptr, 0);
        if (valueSize < 0)
            return false;
        std::vector<char> value(static_cast<std::size_t>(valueSize));
        const ssize_t got = ::getxattr(from.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(got), 0) != 0)
            return false;
    }
    std::vector<std::string> present;
    if (!attributeNames([&](char* names, std::size_t size) { return ::flistxattr(to, names, size); }, present))
        return false;
    for (const std::string& name : present)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && ::fremovexattr(to, name.c_str()) != 0)
            return false;
    return true;
}
#else
bool copyExtendedAttributes(const std::string&, int)
{
    return true;
}
#endif

} // namespace fileaccess
