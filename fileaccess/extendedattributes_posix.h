// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace fileaccess {

// Gives the open file `to` exactly the extended attributes of the file at
// `from` (SELinux label, POSIX ACLs, user data): those `from` has are
// copied, and those `to` got on its own, such as an ACL inherited from the
// directory's default ACL, are removed. False, with errno set, when that
// cannot be done; true where the system has no extended attributes.
bool copyExtendedAttributes(const std::string& from, int to);

} // namespace fileaccess
